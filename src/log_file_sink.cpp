#include "src/log_file_sink.h"

#include <windows.h>

#include <spdlog/common.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "common/no_follow_folder.h"
#include "common/path_conversion.h"
#include "common/text_conversion.h"

namespace {

// Shared for reading and writing, never for deletion.
constexpr ULONG kLogShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

[[noreturn]] void FailOpening(const std::string& path, const std::string& found) {
    throw spdlog::spdlog_ex("Failed opening file " + path + " for writing: " + found);
}

// What stands at the name, in words, when it is no plain file with one link; none otherwise.
std::optional<std::string> Refusal(const ObjectFacts& facts) {
    if ((facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return "a link (reparse point) is there";
    }
    if ((facts.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return "a folder is there";
    }
    if (facts.links != 1) {
        return "a hard link is there (" + std::to_string(facts.links) + " names)";
    }
    return std::nullopt;
}

}  // namespace

LogFileSink::LogFileSink(ScopedHandle file, std::string path, std::size_t max_size)
    : file_(std::move(file)), path_(std::move(path)), max_size_(max_size) {}

void LogFileSink::sink_it_(const spdlog::details::log_msg& message) {
    spdlog::memory_buf_t formatted;
    formatter_->format(message, formatted);
    std::size_t new_size = current_size_ + formatted.size();
    if (new_size > max_size_ && current_size_ > 0) {
        Empty();
        new_size = formatted.size();
    }
    Write(formatted);
    current_size_ = new_size;
}

void LogFileSink::Empty() {
    if (SetFilePointer(file_.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        SetEndOfFile(file_.get()) == FALSE) {
        throw spdlog::spdlog_ex("Failed emptying file " + path_ +
                                ". error=" + std::to_string(GetLastError()));
    }
    current_size_ = 0;
}

void LogFileSink::Write(const spdlog::memory_buf_t& bytes) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(left, 1u << 30));
        DWORD written = 0;
        if (WriteFile(file_.get(), data, piece, &written, nullptr) == FALSE || written == 0) {
            throw spdlog::spdlog_ex("Failed writing to file " + path_ +
                                    ". error=" + std::to_string(GetLastError()));
        }
        data += written;
        left -= written;
    }
}

ScopedHandle OpenLogFile(const std::filesystem::path& folder, const std::wstring& name) {
    const std::string path = Utf16ToUtf8(PathToWide(folder / WideToPath(name)));
    const auto logs = NoFollowFolder::Open(folder, NoFollowFolder::Missing::kCreate);
    if (!logs) {
        FailOpening(path, "a folder on the way is a link, no folder, or cannot be made");
    }
    NTSTATUS status = STATUS_SUCCESS;
    ScopedHandle file = logs->CreateNewFile(name, GENERIC_WRITE, kLogShare, status);
    if (file) {
        return file;
    }
    if (status != STATUS_OBJECT_NAME_COLLISION) {
        FailOpening(path,
                    "cannot be made. status=" + std::to_string(static_cast<std::uint32_t>(status)));
    }
    // A run of the same second and process id left it: it is emptied, if it is a plain file.
    const ScopedHandle there =
        logs->OpenAsIs(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, status);
    const auto facts = there ? FactsOf(there.get()) : std::nullopt;
    if (!facts) {
        FailOpening(path, "what is there cannot be looked at");
    }
    if (const auto refusal = Refusal(*facts)) {
        FailOpening(path, *refusal);
    }
    file = logs->OpenFile(name, GENERIC_WRITE, kLogShare, facts->id);
    if (!file) {
        FailOpening(path, "it changed while it was opened, or is in use");
    }
    if (SetEndOfFile(file.get()) == FALSE) {
        FailOpening(path, "it cannot be emptied. error=" + std::to_string(GetLastError()));
    }
    return file;
}
