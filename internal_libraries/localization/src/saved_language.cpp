// The saved-language file: {"language": "<name>"} as pretty-printed JSON with CR LF line ends.
// Both operations run under the lock of their caller (Init or SetCurrentLanguageInternal).
// The file lies in a folder that its user can write while the program may run with more
// rights: it is reached by handles from the user's special folder, read only when it is a
// plain file with one link, and saved as a new file that replaces the old one in one step.
#include <windows.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

#include "common/log_call.h"
#include "common/no_follow_folder.h"
#include "common/path_conversion.h"
#include "internal_libraries/localization/src/localizer.h"
#include "internal_libraries/localization/src/log_tag.h"

namespace Localization {
namespace {

// The file is the Windows text-mode form of the JSON library's output, whatever the platform.
std::string WithCrLf(const std::string& text) {
    std::string result;
    result.reserve(text.size() + 8);
    for (const char c : text) {
        if (c == '\n') {
            result += '\r';
        }
        result += c;
    }
    return result;
}

// The file holds one short name; anything larger is no file of ours.
constexpr DWORD kMaxFileSize = 64 * 1024;

std::wstring FileNameOf(const std::filesystem::path& path) { return PathToWide(path.filename()); }

// The file's text; none when nothing is at its name (or its folder is not there). Throws
// std::runtime_error when something is there that cannot be read as the file.
std::optional<std::string> ReadLanguageFile(const std::filesystem::path& path) {
    const auto folder = NoFollowFolder::Open(path.parent_path());
    if (!folder) {
        return std::nullopt;
    }
    const std::wstring name = FileNameOf(path);
    NTSTATUS status = STATUS_SUCCESS;
    const ScopedHandle there =
        folder->OpenAsIs(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, status);
    if (!there) {
        if (status == STATUS_OBJECT_NAME_NOT_FOUND) {
            return std::nullopt;
        }
        throw std::runtime_error("language file cannot be opened");
    }
    // Read only as a plain file with one name: a link, a hard link or a fifo is not.
    const ScopedHandle file =
        folder->OpenFile(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (!file) {
        throw std::runtime_error("language file is not a plain file or cannot be opened");
    }
    // Read one byte past the largest file: a file that reaches it counts as damaged.
    std::string text(kMaxFileSize + 1, '\0');
    std::size_t total = 0;
    for (DWORD got = 1; got > 0 && total < text.size();) {
        if (ReadFile(file.get(), text.data() + total, static_cast<DWORD>(text.size() - total), &got,
                     nullptr) == FALSE) {
            throw std::runtime_error("language file cannot be read");
        }
        total += got;
    }
    if (total > kMaxFileSize) {
        throw std::runtime_error("language file too large");
    }
    text.resize(total);
    return text;
}

bool WriteAll(HANDLE file, const std::string& text) {
    DWORD written = 0;
    return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) !=
               FALSE &&
           written == text.size();
}

// Writes `text` as a new file beside the old one and puts it in the old one's place in one
// step, so that a run ended at any moment leaves the old file or the new one. Failures are
// neither raised nor logged: the file then stays as it was.
void WriteLanguageFile(const std::filesystem::path& path, const std::string& text) {
    const auto folder = NoFollowFolder::Open(path.parent_path(), NoFollowFolder::Missing::kCreate);
    if (!folder) {
        return;
    }
    const std::wstring name = FileNameOf(path);
    const std::wstring new_name = name + L".new";
    if (!folder->Clear(new_name)) {  // left by a run that ended during a save
        return;
    }
    NTSTATUS status = STATUS_SUCCESS;
    const ScopedHandle file = folder->CreateNewFile(new_name, GENERIC_WRITE | DELETE, 0, status);
    if (!file) {
        return;
    }
    if (!WriteAll(file.get(), text) || !folder->MoveHere(file.get(), name)) {
        DeleteThrough(file.get());
    }
}

}  // namespace

std::string Localizer::LoadCurrentLanguage() {
    LOG_AT(kLogTag, spdlog::level::debug, "load current language");
    const auto& path = config.language_serialization_file_path;
    if (path.empty()) {
        LOG_AT(kLogTag, spdlog::level::err, "language serialization file path not set");
        throw std::runtime_error("language serialization file path not set");
    }

    std::optional<std::string> saved;
    try {
        if (const auto text = ReadLanguageFile(path)) {
            const auto json = nlohmann::json::parse(*text, nullptr, true, false);
            const auto language = json.at("language").get<std::string>();
            LOG_AT(kLogTag, spdlog::level::debug, "current_language={}", language);
            if (std::find(languages.begin(), languages.end(), language) != languages.end()) {
                saved = language;
            } else {
                LOG_AT(kLogTag, spdlog::level::err, "language doesn't exist. current_language={}",
                       language);
            }
        }
    } catch (const std::exception& error) {
        LOG_AT(kLogTag, spdlog::level::err, "failed to load current language. error={}",
               error.what());
    }

    if (saved) {
        return *saved;
    }
    if (languages.empty()) {
        LOG_AT(kLogTag, spdlog::level::err, "no language to start with");
        throw std::runtime_error("no language to start with");
    }
    return languages.front();
}

void Localizer::SaveCurrentLanguage(const std::string& language) {
    LOG_AT(kLogTag, spdlog::level::debug, "save current language. language={}", language);
    try {
        const nlohmann::json json = {{"language", language}};
        // Serialised before anything is written, so that a name the JSON library refuses
        // leaves the previous file as it was.
        const std::string text = WithCrLf(json.dump(2, ' ', false));
        WriteLanguageFile(config.language_serialization_file_path, text);
    } catch (const std::exception& error) {
        LOG_AT(kLogTag, spdlog::level::err,
               "failed to save current language. error={}. language={}", error.what(), language);
    }
}

}  // namespace Localization
