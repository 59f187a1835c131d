#include "report/file_reading.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <optional>

#include "common/no_follow_folder.h"
#include "common/path_conversion.h"

namespace {

// The file opened for reading with its size, or an empty handle.
struct OpenedFile {
    ScopedHandle handle;
    std::uint64_t size = 0;
};

OpenedFile OpenForReading(const std::filesystem::path& file) {
    try {
        const auto folder = NoFollowFolder::Open(file.parent_path());
        const std::wstring name = PathToWide(file.filename());
        if (!folder || WideToPath(name) != file.filename()) {
            return {};
        }
        ScopedHandle source =
            folder->OpenFile(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
        const auto facts = source ? FactsOf(source.get()) : std::nullopt;
        if (!facts) {
            return {};
        }
        return {std::move(source), facts->size};
    } catch (const std::exception&) {
        return {};
    }
}

// Fills `buffer` from the file's position as far as it goes; the count read, or none when a
// read fails. Fewer than asked only at the end of the file.
std::optional<std::size_t> ReadUpTo(HANDLE source, char* buffer, std::size_t wanted) {
    std::size_t total = 0;
    while (total < wanted) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(wanted - total, 1u << 30));
        DWORD got = 0;
        if (ReadFile(source, buffer + total, piece, &got, nullptr) == FALSE) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        total += got;
    }
    return total;
}

// Hands the file's bytes over a block at a time from its current position; the size at the
// opening bounds what is read.
bool ReadBlocks(HANDLE source, std::uint64_t size, std::size_t block_size,
                const std::function<void(std::uint64_t size)>& start,
                const std::function<void(const char* data, std::size_t length)>& take) {
    start(size);
    std::string block(static_cast<std::size_t>(std::min<std::uint64_t>(size, block_size)), '\0');
    for (std::uint64_t left = size; left > 0;) {
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
        const auto got = ReadUpTo(source, block.data(), wanted);
        if (!got) {
            return false;
        }
        if (*got > 0) {
            take(block.data(), *got);
        }
        if (*got < wanted) {
            break;  // it shrank
        }
        left -= *got;
    }
    return true;
}

}  // namespace

std::string ReadFileBinary(const std::filesystem::path& file) {
    try {
        const OpenedFile opened = OpenForReading(file);
        if (!opened.handle) {
            return {};
        }
        std::string bytes(static_cast<std::size_t>(opened.size), '\0');
        const auto total = ReadUpTo(opened.handle.get(), bytes.data(), bytes.size());
        if (!total) {
            return {};
        }
        // A file that shrank meanwhile gives what it held, not a tail of zeros.
        bytes.resize(*total);
        return bytes;
    } catch (const std::exception&) {
        return {};
    }
}

bool ReadFileBlocks(const std::filesystem::path& file, std::size_t block_size,
                    const std::function<void(std::uint64_t size)>& start,
                    const std::function<void(const char* data, std::size_t length)>& take) {
    const OpenedFile opened = OpenForReading(file);
    if (!opened.handle) {
        return false;
    }
    return ReadBlocks(opened.handle.get(), opened.size, block_size, start, take);
}

bool ReadHandleBlocks(HANDLE file, std::size_t block_size,
                      const std::function<void(std::uint64_t size)>& start,
                      const std::function<void(const char* data, std::size_t length)>& take) {
    const auto facts = FactsOf(file);
    if (!facts || SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        return false;
    }
    return ReadBlocks(file, facts->size, block_size, start, take);
}
