// Files reached through a folder's handle: opening a name inside it, listing it, and deleting
// an object through its own handle. Links are the reparse points of this platform.
#include <windows.h>
#include <winternl.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "fault_injection.h"
#include "file_facts.h"
#include "file_object.h"
#include "file_sharing.h"
#include "utf.h"

namespace platform::detail {
namespace {

NTSTATUS StatusOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return STATUS_OBJECT_NAME_NOT_FOUND;
        case ERROR_FILE_EXISTS:
            return STATUS_OBJECT_NAME_COLLISION;
        case ERROR_SHARING_VIOLATION:
            return STATUS_SHARING_VIOLATION;
        case ERROR_INVALID_PARAMETER:
            return STATUS_INVALID_PARAMETER;
        case ERROR_TOO_MANY_OPEN_FILES:
            return STATUS_TOO_MANY_OPENED_FILES;
        default:
            return STATUS_ACCESS_DENIED;
    }
}

// A single name: no separator of either kind, not "." or "..".
bool IsSingleName(std::wstring_view name) {
    return !name.empty() && name != L"." && name != L".." &&
           name.find_first_of(L"\\/") == std::wstring_view::npos &&
           name.find(L'\0') == std::wstring_view::npos;
}

BOOL FailWith(DWORD error) {
    SetLastError(error);
    return FALSE;
}

LARGE_INTEGER Large(std::int64_t value) {
    LARGE_INTEGER result{};
    result.QuadPart = value;
    return result;
}

LARGE_INTEGER TimeOf(const struct timespec& time) {
    const FILETIME file_time = ToFileTime(time.tv_sec, static_cast<std::uint32_t>(time.tv_nsec));
    return Large(static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(file_time.dwHighDateTime) << 32) | file_time.dwLowDateTime));
}

constexpr std::size_t kNameOffset = offsetof(FILE_ID_BOTH_DIR_INFO, FileName);

std::size_t RecordSize(std::size_t name_bytes) {
    return (kNameOffset + name_bytes + 7) & ~static_cast<std::size_t>(7);
}

// Writes one entry at `out` when it fits in `room`; its size, or 0 when it does not fit.
std::size_t WriteEntry(int folder, const std::string& name, std::byte* out, std::size_t room) {
    const std::wstring wide = Utf8ToWide(name);
    const std::size_t name_bytes = wide.size() * sizeof(WCHAR);
    const std::size_t size = RecordSize(name_bytes);
    if (size > room) {
        return 0;
    }
    struct stat facts {};
    const bool known = ::fstatat(folder, name.c_str(), &facts, AT_SYMLINK_NOFOLLOW) == 0;
    std::memset(out, 0, size);
    auto* const entry = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(out);
    if (known) {
        entry->CreationTime = TimeOf(facts.st_ctim);
        entry->LastAccessTime = TimeOf(facts.st_atim);
        entry->LastWriteTime = TimeOf(facts.st_mtim);
        entry->ChangeTime = TimeOf(facts.st_ctim);
        entry->EndOfFile = Large(facts.st_size);
        entry->AllocationSize = Large(static_cast<std::int64_t>(facts.st_blocks) * 512);
        entry->FileAttributes = AttributesOf(facts.st_mode, name);
        entry->EaSize = S_ISLNK(facts.st_mode) ? IO_REPARSE_TAG_SYMLINK : 0;
        entry->FileId = Large(static_cast<std::int64_t>(facts.st_ino));
    }
    entry->FileNameLength = static_cast<DWORD>(name_bytes);
    std::memcpy(out + kNameOffset, wide.data(), name_bytes);
    entry->NextEntryOffset = static_cast<DWORD>(size);
    return size;
}

BOOL ListFolder(FileObject& file, bool restart, std::byte* buffer, DWORD buffer_size) {
    const std::lock_guard lock(file.listing_mutex);
    if (restart) {
        file.listing.reset();
        file.held_back.reset();
        file.listing_ended = false;
    }
    if (file.listing_ended) {
        return FailWith(ERROR_NO_MORE_FILES);
    }
    if (!file.listing) {
        const int descriptor = ::openat(file.descriptor(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (descriptor < 0) {
            return FailWith(ErrorOfErrno(errno));
        }
        file.listing.reset(::fdopendir(descriptor));
        if (!file.listing) {
            ::close(descriptor);
            return FailWith(ErrorOfErrno(errno));
        }
    }
    const int folder = ::dirfd(file.listing.get());
    std::size_t used = 0;
    FILE_ID_BOTH_DIR_INFO* last = nullptr;
    for (;;) {
        std::string name;
        if (file.held_back) {
            name = std::move(*file.held_back);
            file.held_back.reset();
        } else {
            errno = 0;
            const dirent* const entry = ::readdir(file.listing.get());
            if (entry == nullptr) {
                if (errno != 0) {
                    return FailWith(ErrorOfErrno(errno));
                }
                file.listing.reset();
                file.listing_ended = true;
                break;
            }
            name = entry->d_name;
            if (name == "." || name == "..") {
                continue;
            }
        }
        const std::size_t size = WriteEntry(folder, name, buffer + used, buffer_size - used);
        if (size == 0) {
            file.held_back = std::move(name);
            if (last == nullptr) {
                return FailWith(ERROR_MORE_DATA);
            }
            break;
        }
        last = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(buffer + used);
        used += size;
    }
    if (last == nullptr) {
        return FailWith(ERROR_NO_MORE_FILES);
    }
    last->NextEntryOffset = 0;
    return TRUE;
}

// The path that other processes' opens are looked up by.
std::string PathOf(int folder, const std::string& name) {
    char target[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(folder);
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) + "/" + name : name;
}

DWORD Delete(const FileObject& file) {
    // The folder and the name there; a path's folder is looked up now.
    int folder = file.folder();
    int opened = -1;
    std::string name = file.name();
    if (folder < 0) {
        while (name.size() > 1 && name.back() == '/') {
            name.pop_back();
        }
        const auto slash = name.rfind('/');
        const std::string parent = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : name.substr(0, slash);
        name = slash == std::string::npos ? name : name.substr(slash + 1);
        opened = ::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (opened < 0) {
            return ErrorOfErrno(errno);
        }
        folder = opened;
    }
    DWORD error = 0;
    struct stat facts {};
    if (::fstatat(folder, name.c_str(), &facts, AT_SYMLINK_NOFOLLOW) != 0 ||
        FileIdentity{facts.st_dev, facts.st_ino} != file.identity()) {
        error = ERROR_FILE_NOT_FOUND;  // the name no longer leads to this object
    } else if (!S_ISDIR(facts.st_mode) && !S_ISLNK(facts.st_mode) &&
               (AttributesOf(facts.st_mode, name) & FILE_ATTRIBUTE_READONLY) != 0) {
        error = ERROR_ACCESS_DENIED;
    } else {
        const int flags = S_ISDIR(facts.st_mode) ? AT_REMOVEDIR : 0;
        error = RemoveUnlessHeld(
            file.identity(), [&] { return PathOf(folder, name); },
            [&] {
                return ::unlinkat(folder, name.c_str(), flags) == 0 ? DWORD{0}
                                                                    : ErrorOfErrno(errno);
            },
            file.descriptor(), file.reader());
    }
    if (opened >= 0) {
        ::close(opened);
    }
    return error;
}

}  // namespace
}  // namespace platform::detail

extern "C" {

NTSTATUS NTAPI NtCreateFile(PHANDLE file_handle, ACCESS_MASK desired_access,
                            POBJECT_ATTRIBUTES object_attributes, PIO_STATUS_BLOCK io_status_block,
                            LARGE_INTEGER* /*allocation_size*/, ULONG file_attributes,
                            ULONG share_access, ULONG create_disposition, ULONG create_options,
                            PVOID /*ea_buffer*/, ULONG /*ea_length*/) {
    using namespace platform::detail;
    if (file_handle == nullptr || object_attributes == nullptr || io_status_block == nullptr ||
        object_attributes->ObjectName == nullptr ||
        object_attributes->ObjectName->Buffer == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    *file_handle = INVALID_HANDLE_VALUE;
    if (TakeInjectedFailure("NtCreateFile")) {
        return io_status_block->Status = STATUS_ACCESS_DENIED;
    }
    const auto root = LookupHandleAs<FileObject>(object_attributes->RootDirectory);
    if (!root || !root->directory()) {
        return io_status_block->Status = STATUS_INVALID_HANDLE;
    }
    const std::wstring_view name(object_attributes->ObjectName->Buffer,
                                 object_attributes->ObjectName->Length / sizeof(WCHAR));
    if (!IsSingleName(name)) {
        return io_status_block->Status = STATUS_OBJECT_NAME_INVALID;
    }
    if (create_disposition != FILE_OPEN && create_disposition != FILE_CREATE) {
        return io_status_block->Status = STATUS_INVALID_PARAMETER;
    }
    const bool want_folder = (create_options & FILE_DIRECTORY_FILE) != 0;
    const bool want_file = (create_options & FILE_NON_DIRECTORY_FILE) != 0;
    if (want_folder && (want_file || create_disposition == FILE_CREATE)) {
        return io_status_block->Status = STATUS_INVALID_PARAMETER;
    }

    OpenRequest request;
    request.folder = root;
    request.name = WideToUtf8(name);
    const DWORD reading =
        (desired_access & (GENERIC_READ | FILE_READ_DATA)) != 0 ? GENERIC_READ : 0;
    request.access = reading | (desired_access & (GENERIC_WRITE | DELETE));
    request.share = share_access;
    request.disposition = create_disposition == FILE_CREATE ? CREATE_NEW : OPEN_EXISTING;
    request.folder_allowed = !want_file;
    request.no_follow = (create_options & FILE_OPEN_REPARSE_POINT) != 0;
    request.read_only = (file_attributes & FILE_ATTRIBUTE_READONLY) != 0;
    DWORD error = 0;
    bool existed = false;
    auto file = OpenFileObject(request, error, existed);
    if (!file) {
        struct stat facts {};
        const bool folder_refused =
            want_file && error == ERROR_ACCESS_DENIED && existed &&
            ::fstatat(root->descriptor(), request.name.c_str(), &facts, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(facts.st_mode);
        return io_status_block->Status =
                   folder_refused ? STATUS_FILE_IS_A_DIRECTORY : StatusOf(error);
    }
    if (want_folder && !file->directory()) {
        return io_status_block->Status = STATUS_NOT_A_DIRECTORY;
    }
    if (want_file && file->directory()) {
        return io_status_block->Status = STATUS_FILE_IS_A_DIRECTORY;
    }
    io_status_block->Information = create_disposition == FILE_CREATE ? FILE_CREATED : FILE_OPENED;
    *file_handle = InsertHandle(std::move(file));
    return io_status_block->Status = STATUS_SUCCESS;
}

BOOL WINAPI GetFileInformationByHandleEx(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS information_class,
                                         LPVOID information, DWORD buffer_size) {
    using namespace platform::detail;
    if (TakeInjectedFailure("GetFileInformationByHandleEx")) {
        return FALSE;
    }
    const auto file = LookupHandleAs<FileObject>(handle);
    if (!file) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if (information == nullptr || (information_class != FileIdBothDirectoryInfo &&
                                   information_class != FileIdBothDirectoryRestartInfo)) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    if (!file->directory()) {
        return FailWith(ERROR_DIRECTORY);
    }
    return ListFolder(*file, information_class == FileIdBothDirectoryRestartInfo,
                      static_cast<std::byte*>(information), buffer_size);
}

BOOL WINAPI SetFileInformationByHandle(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS information_class,
                                       LPVOID information, DWORD buffer_size) {
    using namespace platform::detail;
    if (TakeInjectedFailure("SetFileInformationByHandle")) {
        return FALSE;
    }
    const auto file = LookupHandleAs<FileObject>(handle);
    if (!file) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if (information_class != FileDispositionInfo || information == nullptr ||
        buffer_size < sizeof(FILE_DISPOSITION_INFO)) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    if (static_cast<const FILE_DISPOSITION_INFO*>(information)->DeleteFile == FALSE) {
        return TRUE;  // nothing was marked, so there is nothing to take back
    }
    if (!file->CanDelete()) {
        return FailWith(ERROR_ACCESS_DENIED);
    }
    const DWORD error = Delete(*file);
    return error == 0 ? TRUE : FailWith(error);
}
}
