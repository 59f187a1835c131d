#include "platform/src/file_object.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/src/before_calls.h"
#include "platform/src/file_facts.h"

namespace platform::detail {
namespace {

int OpenFlags(DWORD access, DWORD disposition, bool facts_only) {
    int flags = O_CLOEXEC;
    if (facts_only) {
        return flags | O_PATH;
    }
    if ((access & GENERIC_READ) != 0 && (access & GENERIC_WRITE) != 0) {
        flags |= O_RDWR;
    } else if ((access & GENERIC_WRITE) != 0) {
        flags |= O_WRONLY;
    } else {
        flags |= O_RDONLY;
    }
    switch (disposition) {
        case CREATE_NEW:
            return flags | O_CREAT | O_EXCL;
        case CREATE_ALWAYS:
        case OPEN_ALWAYS:
            return flags | O_CREAT;
        default:
            return flags;
    }
}

// The path that sharing with other processes is looked up by.
std::string FullPath(const OpenRequest& request, int descriptor) {
    if (!request.folder) {
        return request.name;
    }
    char target[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : request.name;
}

// Closes the descriptor it holds unless released.
class OwnedDescriptor {
public:
    OwnedDescriptor() = default;
    OwnedDescriptor(const OwnedDescriptor&) = delete;
    OwnedDescriptor& operator=(const OwnedDescriptor&) = delete;
    ~OwnedDescriptor() { reset(-1); }
    void reset(int descriptor) {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
        descriptor_ = descriptor;
    }
    int get() const { return descriptor_; }
    int release() { return std::exchange(descriptor_, -1); }

private:
    int descriptor_ = -1;
};

}  // namespace

FileObject::FileObject(int descriptor, DWORD access, std::string name,
                       std::shared_ptr<const FileObject> folder, bool directory,
                       FileIdentity identity)
    : descriptor_(descriptor),
      access_(access),
      name_(std::move(name)),
      opened_at_(FullPathOf(folder.get(), name_)),
      folder_(std::move(folder)),
      directory_(directory),
      identity_(identity) {}

std::string FullPathOf(const FileObject* folder, const std::string& name) {
    std::string path;
    if (folder != nullptr) {
        path = folder->RealPath() + "/" + name;
    } else {
        std::error_code error;
        path = std::filesystem::absolute(name, error).lexically_normal().string();
    }
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

void BeforeCallOn(std::string_view function, HANDLE handle) {
    RunBeforeCall(function, [handle] {
        const auto file = LookupHandleAs<FileObject>(handle);
        return file ? file->opened_at() : std::string();
    });
}

std::string FileObject::opened_at() const {
    const std::lock_guard lock(location_mutex_);
    return opened_at_;
}

std::string FileObject::RealPath() const {
    const std::lock_guard lock(location_mutex_);
    if (!real_path_) {
        char target[4096];
        const std::string link = "/proc/self/fd/" + std::to_string(descriptor_);
        const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
        real_path_ =
            length > 0 ? std::string(target, static_cast<std::size_t>(length)) : opened_at_;
    }
    return *real_path_;
}

FileObject::Location FileObject::location() const {
    const std::lock_guard lock(location_mutex_);
    return {folder_, name_};
}

void FileObject::MoveTo(std::shared_ptr<const FileObject> folder, std::string name) {
    std::string path = FullPathOf(folder.get(), name);
    const std::lock_guard lock(location_mutex_);
    folder_ = std::move(folder);
    name_ = std::move(name);
    opened_at_ = path;
    real_path_ = std::move(path);
}

FileObject::~FileObject() {
    claim_.reset();
    listing.reset();
    ::close(descriptor_);
}

std::shared_ptr<FileObject> OpenFileObject(const OpenRequest& request, DWORD& error,
                                           bool& existed) {
    const char* const name = request.name.c_str();
    const int at = request.folder ? request.folder->descriptor() : AT_FDCWD;
    const int at_flags = request.no_follow ? AT_SYMLINK_NOFOLLOW : 0;
    const bool data = (request.access & (GENERIC_READ | GENERIC_WRITE)) != 0;
    // An open for facts (and for deletion) of what is there opens the object itself, never its
    // data, so it is opened first and looked at through the descriptor: one call less.
    // When that open fails, the look by name gives the reason as before.
    OwnedDescriptor early;
    if (!data && request.disposition == OPEN_EXISTING) {
        early.reset(::openat(at, name, O_PATH | O_CLOEXEC | (request.no_follow ? O_NOFOLLOW : 0)));
    }
    struct stat before {};
    existed = early.get() >= 0 ? ::fstat(early.get(), &before) == 0
                               : ::fstatat(at, name, &before, at_flags) == 0;
    const bool link = existed && S_ISLNK(before.st_mode);
    const bool folder_link = link && IsFolderLink(at, name);
    if (existed) {
        const bool directory = S_ISDIR(before.st_mode) || folder_link;
        if (request.disposition == CREATE_NEW) {
            error = ERROR_FILE_EXISTS;
            return nullptr;
        }
        if (directory && !request.folder_allowed) {
            error = ERROR_ACCESS_DENIED;
            return nullptr;
        }
        const bool read_only =
            (AttributesOf(before.st_mode, NameOf(request.name)) & FILE_ATTRIBUTE_READONLY) != 0;
        if ((request.access & GENERIC_WRITE) != 0 && (directory || link || read_only)) {
            error = ERROR_ACCESS_DENIED;  // never written through, or over, a link
            return nullptr;
        }
        if (link && request.disposition == TRUNCATE_EXISTING) {
            error = ERROR_ACCESS_DENIED;
            return nullptr;
        }
    } else if (request.disposition == OPEN_EXISTING || request.disposition == TRUNCATE_EXISTING) {
        error = errno == ENOENT ? MissingError(request.name) : ErrorOfErrno(errno);
        return nullptr;
    }

    const bool directory = existed && S_ISDIR(before.st_mode);
    // A folder, a link opened as itself, or an open for facts: the object, not its data.
    const bool facts_only = directory || link || (!data && request.disposition == OPEN_EXISTING);
    int flags = OpenFlags(request.access, request.disposition, facts_only);
    if (request.no_follow) {
        flags |= O_NOFOLLOW;
    }
    if (!facts_only) {
        flags |= O_NONBLOCK;  // a fifo put at the name must not hold the open forever
    }
    const mode_t create_mode = request.read_only ? 0444 : 0666;
    const bool opened_early = early.get() >= 0;
    const int descriptor = opened_early ? early.release() : ::openat(at, name, flags, create_mode);
    if (descriptor < 0) {
        // ELOOP: a link appeared at the name after it was looked at.
        error = errno == ENOENT  ? MissingError(request.name)
                : errno == ELOOP ? static_cast<DWORD>(ERROR_ACCESS_DENIED)
                                 : ErrorOfErrno(errno);
        return nullptr;
    }
    struct stat facts = before;
    if (!opened_early && ::fstat(descriptor, &facts) != 0) {
        error = ErrorOfErrno(errno);
        ::close(descriptor);
        return nullptr;
    }
    // Windows keeps no fifos, sockets or devices among files: such an object is refused.
    const bool plain =
        S_ISREG(facts.st_mode) || S_ISDIR(facts.st_mode) || (facts_only && S_ISLNK(facts.st_mode));
    if (!plain || (!facts_only && ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0)) {
        error = ERROR_ACCESS_DENIED;
        ::close(descriptor);
        return nullptr;
    }
    const FileIdentity identity{facts.st_dev, facts.st_ino};
    auto file = std::make_shared<FileObject>(descriptor, request.access, request.name,
                                             request.folder, S_ISDIR(facts.st_mode), identity);
    if (folder_link && S_ISLNK(facts.st_mode)) {
        file->MarkFolderLink();
    }

    auto claim = ClaimSharing(
        identity, [&] { return FullPath(request, descriptor); }, {request.access, request.share},
        descriptor, error);
    if (!claim) {
        return nullptr;
    }
    file->Claim(std::move(claim));

    // Truncation waits for the sharing check, so a refused open changes nothing.
    const bool truncate = existed && (request.disposition == CREATE_ALWAYS ||
                                      request.disposition == TRUNCATE_EXISTING);
    if (truncate && ::ftruncate(descriptor, 0) != 0) {
        error = ErrorOfErrno(errno);
        return nullptr;
    }
    return file;
}

}  // namespace platform::detail
