// Files reached through a folder's handle: opening a name inside it, listing it, and deleting
// an object through its own handle. Links are the reparse points of this platform.
#include <windows.h>
#include <winternl.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/src/before_calls.h"
#include "platform/src/fault_injection.h"
#include "platform/src/file_facts.h"
#include "platform/src/file_object.h"
#include "platform/src/file_sharing.h"
#include "platform/src/utf.h"

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
        entry->FileAttributes =
            AttributesOf(facts.st_mode, name) |
            (S_ISLNK(facts.st_mode) && IsFolderLink(folder, name.c_str()) ? FILE_ATTRIBUTE_DIRECTORY
                                                                          : 0);
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

// The folder and the name there that lead to a handle's object now. A path's folder is looked
// up now and held for the while; a handle's folder is kept alive by the location itself.
class Place {
public:
    explicit Place(const FileObject& file) : location_(file.location()) {
        name_ = location_.name;
        if (location_.folder) {
            folder_ = location_.folder->descriptor();
            return;
        }
        while (name_.size() > 1 && name_.back() == '/') {
            name_.pop_back();
        }
        const auto slash = name_.rfind('/');
        const std::string parent = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : name_.substr(0, slash);
        name_ = slash == std::string::npos ? name_ : name_.substr(slash + 1);
        opened_ = ::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        error_ = opened_ < 0 ? ErrorOfErrno(errno) : 0;
        folder_ = opened_;
    }
    Place(const Place&) = delete;
    Place& operator=(const Place&) = delete;
    ~Place() {
        if (opened_ >= 0) {
            ::close(opened_);
        }
    }
    DWORD error() const { return error_; }
    int folder() const { return folder_; }
    const std::string& name() const { return name_; }
    // Whether the name still leads to that very object; its facts in `facts` then.
    bool LeadsTo(FileIdentity identity, struct stat& facts) const {
        return ::fstatat(folder_, name_.c_str(), &facts, AT_SYMLINK_NOFOLLOW) == 0 &&
               FileIdentity{facts.st_dev, facts.st_ino} == identity;
    }

private:
    FileObject::Location location_;
    std::string name_;
    int opened_ = -1;
    int folder_ = -1;
    DWORD error_ = 0;
};

DWORD Delete(const FileObject& file) {
    const Place place(file);
    if (place.error() != 0) {
        return place.error();
    }
    struct stat facts {};
    if (!place.LeadsTo(file.identity(), facts)) {
        return ERROR_FILE_NOT_FOUND;  // the name no longer leads to this object
    }
    if (!S_ISDIR(facts.st_mode) && !S_ISLNK(facts.st_mode) &&
        (AttributesOf(facts.st_mode, place.name()) & FILE_ATTRIBUTE_READONLY) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    const int flags = S_ISDIR(facts.st_mode) ? AT_REMOVEDIR : 0;
    return RemoveUnlessHeld(
        file.identity(), [&] { return PathOf(place.folder(), place.name()); },
        [&] {
            return ::unlinkat(place.folder(), place.name().c_str(), flags) == 0
                       ? DWORD{0}
                       : ErrorOfErrno(errno);
        },
        file.descriptor(), file.reader());
}

DWORD RenameError(int error_number) {
    switch (error_number) {
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case EXDEV:
            return ERROR_NOT_SAME_DEVICE;
        case EISDIR:
        case ENOTEMPTY:
        case ENOTDIR:
            return ERROR_ACCESS_DENIED;
        default:
            return ErrorOfErrno(error_number);
    }
}

// Moves the object to `name` in `into` in one step (renameat), replacing a plain file there only
// when asked, and only while nothing holds that file without delete sharing: a replaced file is
// a deleted one.
DWORD Rename(FileObject& file, const std::shared_ptr<const FileObject>& into,
             const std::string& name, bool replace) {
    const Place place(file);
    if (place.error() != 0) {
        return place.error();
    }
    struct stat facts {};
    if (!place.LeadsTo(file.identity(), facts)) {
        return ERROR_FILE_NOT_FOUND;
    }
    const int to = into->descriptor();
    const auto move = [&](unsigned int flags) {
        return ::renameat2(place.folder(), place.name().c_str(), to, name.c_str(), flags) == 0
                   ? DWORD{0}
                   : RenameError(errno);
    };
    DWORD error = 0;
    struct stat existing {};
    if (!replace) {
        error = move(RENAME_NOREPLACE);
    } else if (::fstatat(to, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0) {
        error = errno == ENOENT ? move(0) : ErrorOfErrno(errno);
    } else if (S_ISDIR(existing.st_mode) ||
               (!S_ISLNK(existing.st_mode) &&
                (AttributesOf(existing.st_mode, name) & FILE_ATTRIBUTE_READONLY) != 0)) {
        error = ERROR_ACCESS_DENIED;
    } else if (S_ISLNK(existing.st_mode)) {
        error = move(0);  // the link itself goes, never its target
    } else {
        error = RemoveUnlessHeld(
            {existing.st_dev, existing.st_ino}, [&] { return PathOf(to, name); },
            [&] { return move(0); });
        if (error == ERROR_SHARING_VIOLATION) {
            error = ERROR_ACCESS_DENIED;  // what Windows answers for a replaced file in use
        }
    }
    if (error == 0) {
        file.MoveTo(into, name);
    }
    return error;
}

BOOL RenameThrough(FileObject& file, const FILE_RENAME_INFO* information, DWORD buffer_size) {
    constexpr std::size_t kHeader = offsetof(FILE_RENAME_INFO, FileName);
    if (information == nullptr || buffer_size < kHeader ||
        information->FileNameLength % sizeof(WCHAR) != 0 ||
        buffer_size - kHeader < information->FileNameLength) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    const std::wstring_view name(information->FileName,
                                 information->FileNameLength / sizeof(WCHAR));
    if (!IsSingleName(name)) {
        return FailWith(ERROR_INVALID_NAME);
    }
    const auto into = LookupHandleAs<FileObject>(information->RootDirectory);
    if (!into || !into->directory()) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if (!file.CanDelete()) {
        return FailWith(ERROR_ACCESS_DENIED);
    }
    const DWORD error = Rename(file, into, WideToUtf8(name), information->ReplaceIfExists != FALSE);
    return error == 0 ? TRUE : FailWith(error);
}

// Makes the folder `name` inside `root` for FILE_CREATE and FILE_OPEN_IF. Its status, with
// `created` telling whether this call made it.
NTSTATUS MakeFolder(int root, const std::string& name, ULONG disposition, bool& created) {
    created = ::mkdirat(root, name.c_str(), 0777) == 0;
    if (created || (errno == EEXIST && disposition == FILE_OPEN_IF)) {
        return STATUS_SUCCESS;
    }
    return errno == EEXIST ? STATUS_OBJECT_NAME_COLLISION : StatusOf(ErrorOfErrno(errno));
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
    const auto root = LookupHandleAs<FileObject>(object_attributes->RootDirectory);
    const std::wstring_view name(object_attributes->ObjectName->Buffer,
                                 object_attributes->ObjectName->Length / sizeof(WCHAR));
    if (root) {
        RunBeforeCall("NtCreateFile", [&] { return FullPathOf(root.get(), WideToUtf8(name)); });
    }
    if (TakeInjectedFailure("NtCreateFile")) {
        return io_status_block->Status = STATUS_ACCESS_DENIED;
    }
    if (!root || !root->directory()) {
        return io_status_block->Status = STATUS_INVALID_HANDLE;
    }
    if (!IsSingleName(name)) {
        return io_status_block->Status = STATUS_OBJECT_NAME_INVALID;
    }
    if (create_disposition != FILE_OPEN && create_disposition != FILE_CREATE &&
        create_disposition != FILE_OPEN_IF) {
        return io_status_block->Status = STATUS_INVALID_PARAMETER;
    }
    const bool want_folder = (create_options & FILE_DIRECTORY_FILE) != 0;
    const bool want_file = (create_options & FILE_NON_DIRECTORY_FILE) != 0;
    if (want_folder && want_file) {
        return io_status_block->Status = STATUS_INVALID_PARAMETER;
    }

    OpenRequest request;
    request.folder = root;
    request.name = WideToUtf8(name);
    // A folder is made first and then opened as what is there, never through a link.
    bool made_folder = false;
    if (want_folder && create_disposition != FILE_OPEN) {
        const NTSTATUS made =
            MakeFolder(root->descriptor(), request.name, create_disposition, made_folder);
        if (!NT_SUCCESS(made)) {
            return io_status_block->Status = made;
        }
    }
    const DWORD reading =
        (desired_access & (GENERIC_READ | FILE_READ_DATA)) != 0 ? GENERIC_READ : 0;
    request.access = reading | (desired_access & (GENERIC_WRITE | DELETE));
    request.share = share_access;
    request.disposition = want_folder                          ? OPEN_EXISTING
                          : create_disposition == FILE_CREATE  ? CREATE_NEW
                          : create_disposition == FILE_OPEN_IF ? OPEN_ALWAYS
                                                               : OPEN_EXISTING;
    request.folder_allowed = !want_file;
    request.no_follow = made_folder || (create_options & FILE_OPEN_REPARSE_POINT) != 0;
    request.read_only = (file_attributes & FILE_ATTRIBUTE_READONLY) != 0;
    DWORD error = 0;
    bool existed = false;
    auto file = OpenFileObject(request, error, existed);
    if (!file) {
        struct stat facts {};
        const int at = root->descriptor();
        const char* const at_name = request.name.c_str();
        const bool folder_refused = want_file && error == ERROR_ACCESS_DENIED && existed &&
                                    ::fstatat(at, at_name, &facts, AT_SYMLINK_NOFOLLOW) == 0 &&
                                    (S_ISDIR(facts.st_mode) || IsFolderLink(at, at_name));
        return io_status_block->Status =
                   folder_refused ? STATUS_FILE_IS_A_DIRECTORY : StatusOf(error);
    }
    // A folder link opened as itself is a folder, but not the one this call made.
    if (want_folder && !file->directory() && (made_folder || !file->folder_link())) {
        // Made here, yet swapped for something else before it was opened.
        return io_status_block->Status =
                   made_folder ? STATUS_ACCESS_DENIED : STATUS_NOT_A_DIRECTORY;
    }
    if (want_file && file->directory()) {
        return io_status_block->Status = STATUS_FILE_IS_A_DIRECTORY;
    }
    const bool created = want_folder ? made_folder : !existed;
    io_status_block->Information = created ? FILE_CREATED : FILE_OPENED;
    *file_handle = InsertHandle(std::move(file));
    return io_status_block->Status = STATUS_SUCCESS;
}

BOOL WINAPI GetFileInformationByHandleEx(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS information_class,
                                         LPVOID information, DWORD buffer_size) {
    using namespace platform::detail;
    BeforeCallOn("GetFileInformationByHandleEx", handle);
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
    BeforeCallOn("SetFileInformationByHandle", handle);
    if (TakeInjectedFailure("SetFileInformationByHandle")) {
        return FALSE;
    }
    const auto file = LookupHandleAs<FileObject>(handle);
    if (!file) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if (information_class == FileRenameInfo) {
        return RenameThrough(*file, static_cast<const FILE_RENAME_INFO*>(information), buffer_size);
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
