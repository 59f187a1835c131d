#include "platform/src/file_facts.h"

#include <fcntl.h>

#include <cerrno>
#include <filesystem>

#include "platform/src/utf.h"

namespace platform::detail {

DWORD AttributesOf(mode_t mode, std::string_view name) {
    DWORD attributes = 0;
    if ((mode & S_IWUSR) == 0) {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    if (name.starts_with('.') && name != "." && name != "..") {
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    }
    if (S_ISDIR(mode)) {
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    } else if (S_ISREG(mode)) {
        attributes |= FILE_ATTRIBUTE_ARCHIVE;
    } else if (S_ISLNK(mode)) {
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    }
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

bool IsFolderLink(int at, const char* name) {
    struct stat facts {};
    return ::fstatat(at, name, &facts, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(facts.st_mode) &&
           ::fstatat(at, name, &facts, 0) == 0 && S_ISDIR(facts.st_mode);
}

FILETIME ToFileTime(std::int64_t seconds, std::uint32_t nanoseconds) {
    constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
    const std::int64_t since_1601 = seconds + kSecondsFrom1601To1970;
    if (since_1601 < 0) {
        return {0, 0};
    }
    const auto units = static_cast<std::uint64_t>(since_1601) * 10000000u + nanoseconds / 100u;
    return {static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
}

DWORD ErrorOfErrno(int error_number) {
    switch (error_number) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case EBUSY:
            return ERROR_SHARING_VIOLATION;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENAMETOOLONG:
            return ERROR_PATH_NOT_FOUND;
        default:
            return ERROR_ACCESS_DENIED;
    }
}

std::string LinuxPath(LPCWSTR path) {
    std::string text = WideToUtf8(path);
    for (char& c : text) {
        if (c == '\\') {
            c = '/';
        }
    }
    return text;
}

std::string NameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

DWORD MissingError(const std::string& path) {
    std::error_code error;
    const auto parent = std::filesystem::path(path).parent_path();
    return parent.empty() || std::filesystem::is_directory(parent, error)
               ? static_cast<DWORD>(ERROR_FILE_NOT_FOUND)
               : static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
}

}  // namespace platform::detail
