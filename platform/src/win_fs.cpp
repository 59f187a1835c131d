#include <win_fs.h>
#include <windows.h>

#include <sys/stat.h>

#include <cerrno>
#include <new>
#include <optional>
#include <vector>

#include "platform/src/file_facts.h"
#include "platform/src/utf.h"

namespace win_fs {
namespace {

namespace fs = std::filesystem;

constexpr auto kFailed = static_cast<std::uintmax_t>(-1);

std::error_code ErrorCodeOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return std::make_error_code(std::errc::no_such_file_or_directory);
        case ERROR_SHARING_VIOLATION:
            return std::make_error_code(std::errc::device_or_resource_busy);
        case ERROR_DIR_NOT_EMPTY:
            return std::make_error_code(std::errc::directory_not_empty);
        case ERROR_DIRECTORY:
            return std::make_error_code(std::errc::not_a_directory);
        default:
            return std::make_error_code(std::errc::permission_denied);
    }
}

// Folder or not, without following a link.
std::optional<bool> IsFolder(const fs::path& path, std::error_code& error) {
    struct stat facts {};
    if (::lstat(path.c_str(), &facts) != 0) {
        if (errno != ENOENT) {
            error = std::error_code(errno, std::generic_category());
        }
        return std::nullopt;
    }
    return S_ISDIR(facts.st_mode);
}

bool RemoveOne(const fs::path& path, bool folder, std::error_code& error) {
    // Only a name that the wide calls lead back to: bytes that are not UTF-8 would become
    // U+FFFD (and a backslash a separator), naming another file or none.
    const std::wstring wide = platform::detail::Utf8ToWide(path.native());
    if (platform::detail::LinuxPath(wide.c_str()) != path.native()) {
        error = std::make_error_code(std::errc::illegal_byte_sequence);
        return false;
    }
    if ((folder ? RemoveDirectoryW(wide.c_str()) : DeleteFileW(wide.c_str())) == FALSE) {
        error = ErrorCodeOf(GetLastError());
        return false;
    }
    return true;
}

}  // namespace

bool remove(const fs::path& path, std::error_code& error) noexcept {
    error.clear();
    const auto folder = IsFolder(path, error);
    return folder && RemoveOne(path, *folder, error);
}

std::uintmax_t remove_all(const fs::path& path, std::error_code& error) noexcept {
    error.clear();
    const auto folder = IsFolder(path, error);
    if (!folder) {
        return error ? kFailed : 0;
    }
    std::uintmax_t removed = 0;
    if (*folder) {
        // Listed first, so the listing's own handle is closed before anything is deleted.
        std::vector<fs::path> entries;
        try {
            for (fs::directory_iterator it(path, error), end; !error && it != end;
                 it.increment(error)) {
                entries.push_back(it->path());
            }
        } catch (const std::bad_alloc&) {
            error = std::make_error_code(std::errc::not_enough_memory);
        }
        if (error) {
            return kFailed;
        }
        for (const auto& entry : entries) {
            const std::uintmax_t count = win_fs::remove_all(entry, error);
            if (count == kFailed) {
                return kFailed;
            }
            removed += count;
        }
    }
    if (!RemoveOne(path, *folder, error)) {
        return kFailed;
    }
    return removed + 1;
}

}  // namespace win_fs
