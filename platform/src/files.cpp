#include <platform/testing.h>
#include <windows.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/src/before_calls.h"
#include "platform/src/fault_injection.h"
#include "platform/src/file_facts.h"
#include "platform/src/file_object.h"
#include "platform/src/file_sharing.h"
#include "platform/src/handle_table.h"

namespace platform::detail {
namespace {

struct WriteLimit {
    std::mutex mutex;
    std::optional<std::uint64_t> remaining;
};

WriteLimit& TheWriteLimit() {
    static WriteLimit limit;
    return limit;
}

const ResetRegistration kResetWriteLimit([] { platform::testing::SetWriteLimit(std::nullopt); });

// How many of `wanted` bytes the disk still takes.
std::size_t Allowance(std::size_t wanted) {
    auto& limit = TheWriteLimit();
    const std::lock_guard lock(limit.mutex);
    if (!limit.remaining) {
        return wanted;
    }
    const auto allowed =
        static_cast<std::size_t>(std::min<std::uint64_t>(wanted, *limit.remaining));
    *limit.remaining -= allowed;
    return allowed;
}

HANDLE Fail(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

BOOL FailWith(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The file of a ReadFile or WriteFile call, or null with the last error set.
std::shared_ptr<FileObject> FileForTransfer(HANDLE handle, const void* buffer, DWORD count,
                                            LPDWORD transferred, LPOVERLAPPED overlapped,
                                            bool write) {
    if (transferred != nullptr) {
        *transferred = 0;
    }
    auto file = LookupHandleAs<FileObject>(handle);
    if (!file) {
        FailWith(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (overlapped != nullptr || (buffer == nullptr && count != 0)) {
        FailWith(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!(write ? file->CanWrite() : file->CanRead())) {
        FailWith(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return file;
}

DWORD Unlink(const char* path) { return ::unlink(path) == 0 ? 0 : ErrorOfErrno(errno); }
DWORD RemoveFolder(const char* path) { return ::rmdir(path) == 0 ? 0 : ErrorOfErrno(errno); }

}  // namespace
}  // namespace platform::detail

namespace platform::testing {

void SetWriteLimit(std::optional<std::uint64_t> bytes) {
    auto& limit = detail::TheWriteLimit();
    const std::lock_guard lock(limit.mutex);
    limit.remaining = bytes;
}

}  // namespace platform::testing

extern "C" {

HANDLE WINAPI CreateFileW(LPCWSTR file_name, DWORD desired_access, DWORD share_mode,
                          LPSECURITY_ATTRIBUTES /*security_attributes*/, DWORD creation_disposition,
                          DWORD flags_and_attributes, HANDLE /*template_file*/) {
    using namespace platform::detail;
    if (file_name != nullptr) {
        RunBeforeCall("CreateFileW",
                      [file_name] { return FullPathOf(nullptr, LinuxPath(file_name)); });
    }
    if (TakeInjectedFailure("CreateFileW")) {
        return INVALID_HANDLE_VALUE;
    }
    if (file_name == nullptr || *file_name == L'\0') {
        return Fail(ERROR_PATH_NOT_FOUND);
    }
    const DWORD access = desired_access & (GENERIC_READ | GENERIC_WRITE | DELETE);
    if (creation_disposition < CREATE_NEW || creation_disposition > TRUNCATE_EXISTING ||
        (creation_disposition == TRUNCATE_EXISTING && (access & GENERIC_WRITE) == 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    OpenRequest request;
    request.name = LinuxPath(file_name);
    request.access = access;
    request.share = share_mode;
    request.disposition = creation_disposition;
    request.folder_allowed = (flags_and_attributes & FILE_FLAG_BACKUP_SEMANTICS) != 0;
    request.no_follow = (flags_and_attributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
    request.read_only = (flags_and_attributes & FILE_ATTRIBUTE_READONLY) != 0;
    DWORD error = 0;
    bool existed = false;
    auto file = OpenFileObject(request, error, existed);
    if (!file) {
        return Fail(error);
    }
    const bool reopened =
        existed && (creation_disposition == CREATE_ALWAYS || creation_disposition == OPEN_ALWAYS);
    SetLastError(reopened ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return InsertHandle(std::move(file));
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD bytes_to_read, LPDWORD bytes_read,
                     LPOVERLAPPED overlapped) {
    using namespace platform::detail;
    BeforeCallOn("ReadFile", handle);
    if (TakeInjectedFailure("ReadFile")) {
        return FALSE;
    }
    const auto file = FileForTransfer(handle, buffer, bytes_to_read, bytes_read, overlapped, false);
    if (!file) {
        return FALSE;
    }
    DWORD total = 0;
    while (total < bytes_to_read) {
        const ssize_t got =
            ::read(file->descriptor(), static_cast<char*>(buffer) + total, bytes_to_read - total);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return FailWith(ErrorOfErrno(errno));
        }
        if (got == 0) {
            break;  // the end of the file is a successful read of fewer bytes
        }
        total += static_cast<DWORD>(got);
    }
    if (bytes_read != nullptr) {
        *bytes_read = total;
    }
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD bytes_to_write, LPDWORD bytes_written,
                      LPOVERLAPPED overlapped) {
    using namespace platform::detail;
    BeforeCallOn("WriteFile", handle);
    if (TakeInjectedFailure("WriteFile")) {
        return FALSE;
    }
    const auto file =
        FileForTransfer(handle, buffer, bytes_to_write, bytes_written, overlapped, true);
    if (!file) {
        return FALSE;
    }
    const std::size_t allowed = Allowance(bytes_to_write);
    DWORD total = 0;
    while (total < allowed) {
        const ssize_t put =
            ::write(file->descriptor(), static_cast<const char*>(buffer) + total, allowed - total);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0) {
            if (bytes_written != nullptr) {
                *bytes_written = total;
            }
            return FailWith(ErrorOfErrno(errno));
        }
        total += static_cast<DWORD>(put);
    }
    if (bytes_written != nullptr) {
        *bytes_written = total;
    }
    return total == bytes_to_write ? TRUE : FailWith(ERROR_DISK_FULL);
}

DWORD WINAPI SetFilePointer(HANDLE handle, LONG distance_to_move, LONG* distance_to_move_high,
                            DWORD move_method) {
    using namespace platform::detail;
    BeforeCallOn("SetFilePointer", handle);
    if (TakeInjectedFailure("SetFilePointer")) {
        return INVALID_SET_FILE_POINTER;
    }
    const auto file = LookupHandleAs<FileObject>(handle);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    // Without the high part the distance is a signed 32-bit number.
    const std::int64_t distance =
        distance_to_move_high == nullptr
            ? static_cast<std::int64_t>(distance_to_move)
            : static_cast<std::int64_t>(
                  (static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distance_to_move_high))
                   << 32) |
                  static_cast<std::uint32_t>(distance_to_move));
    int whence = SEEK_SET;
    switch (move_method) {
        case FILE_BEGIN:
            break;
        case FILE_CURRENT:
            whence = SEEK_CUR;
            break;
        case FILE_END:
            whence = SEEK_END;
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_SET_FILE_POINTER;
    }
    const off_t position = ::lseek(file->descriptor(), distance, whence);
    if (position < 0) {
        SetLastError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : ErrorOfErrno(errno));
        return INVALID_SET_FILE_POINTER;
    }
    if (distance_to_move_high != nullptr) {
        *distance_to_move_high = static_cast<LONG>(static_cast<std::uint64_t>(position) >> 32);
    }
    // The low part may itself be all ones, so success clears the last error.
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(position);
}

BOOL WINAPI GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION information) {
    using namespace platform::detail;
    BeforeCallOn("GetFileInformationByHandle", handle);
    if (TakeInjectedFailure("GetFileInformationByHandle")) {
        return FALSE;
    }
    const auto file = LookupHandleAs<FileObject>(handle);
    if (!file) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if (information == nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    struct statx facts {};
    if (::statx(file->descriptor(), "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &facts) !=
        0) {
        return FailWith(ErrorOfErrno(errno));
    }
    const auto time = [](const statx_timestamp& t) { return ToFileTime(t.tv_sec, t.tv_nsec); };
    information->dwFileAttributes = AttributesOf(facts.stx_mode, NameOf(file->name())) |
                                    (file->folder_link() ? FILE_ATTRIBUTE_DIRECTORY : 0);
    // Without a birth time the status change is the nearest fact Linux keeps.
    information->ftCreationTime =
        time((facts.stx_mask & STATX_BTIME) != 0 ? facts.stx_btime : facts.stx_ctime);
    information->ftLastAccessTime = time(facts.stx_atime);
    information->ftLastWriteTime = time(facts.stx_mtime);
    information->dwVolumeSerialNumber =
        static_cast<DWORD>((facts.stx_dev_major << 20) | facts.stx_dev_minor);
    information->nFileSizeHigh = static_cast<DWORD>(facts.stx_size >> 32);
    information->nFileSizeLow = static_cast<DWORD>(facts.stx_size);
    information->nNumberOfLinks = facts.stx_nlink;
    information->nFileIndexHigh = static_cast<DWORD>(facts.stx_ino >> 32);
    information->nFileIndexLow = static_cast<DWORD>(facts.stx_ino);
    return TRUE;
}

BOOL WINAPI SetEndOfFile(HANDLE handle) {
    using namespace platform::detail;
    BeforeCallOn("SetEndOfFile", handle);
    if (TakeInjectedFailure("SetEndOfFile")) {
        return FALSE;
    }
    const auto file = LookupHandleAs<FileObject>(handle);
    if (!file) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if (!file->CanWrite()) {
        return FailWith(ERROR_ACCESS_DENIED);
    }
    const off_t position = ::lseek(file->descriptor(), 0, SEEK_CUR);
    if (position < 0 || ::ftruncate(file->descriptor(), position) != 0) {
        return FailWith(ErrorOfErrno(errno));
    }
    return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR file_name) {
    using namespace platform::detail;
    if (TakeInjectedFailure("DeleteFileW")) {
        return FALSE;
    }
    if (file_name == nullptr || *file_name == L'\0') {
        return FailWith(ERROR_PATH_NOT_FOUND);
    }
    const std::string path = LinuxPath(file_name);
    struct stat facts {};
    if (::lstat(path.c_str(), &facts) != 0) {
        return FailWith(errno == ENOENT ? MissingError(path) : ErrorOfErrno(errno));
    }
    if (S_ISLNK(facts.st_mode)) {
        const DWORD error = Unlink(path.c_str());  // the link itself, never its target
        return error == 0 ? TRUE : FailWith(error);
    }
    if (S_ISDIR(facts.st_mode) ||
        (AttributesOf(facts.st_mode, NameOf(path)) & FILE_ATTRIBUTE_READONLY) != 0) {
        return FailWith(ERROR_ACCESS_DENIED);
    }
    const DWORD error = RemoveUnlessHeld(
        {facts.st_dev, facts.st_ino}, [&] { return path; }, [&] { return Unlink(path.c_str()); });
    return error == 0 ? TRUE : FailWith(error);
}

BOOL WINAPI RemoveDirectoryW(LPCWSTR path_name) {
    using namespace platform::detail;
    if (TakeInjectedFailure("RemoveDirectoryW")) {
        return FALSE;
    }
    if (path_name == nullptr || *path_name == L'\0') {
        return FailWith(ERROR_PATH_NOT_FOUND);
    }
    const std::string path = LinuxPath(path_name);
    struct stat facts {};
    if (::lstat(path.c_str(), &facts) != 0) {
        return FailWith(errno == ENOENT ? MissingError(path) : ErrorOfErrno(errno));
    }
    if (!S_ISDIR(facts.st_mode)) {
        return FailWith(ERROR_DIRECTORY);
    }
    const DWORD error = RemoveUnlessHeld(
        {facts.st_dev, facts.st_ino}, [&] { return path; },
        [&] { return RemoveFolder(path.c_str()); });
    return error == 0 ? TRUE : FailWith(error);
}
}
