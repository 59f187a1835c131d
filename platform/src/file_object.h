// The kernel object behind a file or folder handle, and the one way both CreateFileW and
// NtCreateFile open one.
#pragma once

#include <windows.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/src/file_sharing.h"
#include "platform/src/handle_table.h"

namespace platform::detail {

class FileObject : public KernelObject {
public:
    // `folder` is the folder that `name` was opened in, null when `name` is a path; it stays
    // open while this object lives, as Windows keeps a parent referenced.
    FileObject(int descriptor, DWORD access, std::string name,
               std::shared_ptr<const FileObject> folder, bool directory, FileIdentity identity);
    ~FileObject() override;

    void Claim(std::unique_ptr<SharingClaim> claim) { claim_ = std::move(claim); }
    int descriptor() const { return descriptor_; }
    // The read-only descriptor its sharing claim kept for a deletion's check, or -1.
    int reader() const { return claim_ ? claim_->reader() : -1; }
    bool CanRead() const { return (access_ & GENERIC_READ) != 0; }
    bool CanWrite() const { return (access_ & GENERIC_WRITE) != 0; }
    bool CanDelete() const { return (access_ & DELETE) != 0; }
    bool directory() const { return directory_; }
    // A link opened as itself whose target was a folder then: a folder that is a reparse point.
    bool folder_link() const { return folder_link_; }
    void MarkFolderLink() { folder_link_ = true; }
    FileIdentity identity() const { return identity_; }

    // Where the object was opened, or where a rename through its handle took it.
    struct Location {
        std::shared_ptr<const FileObject> folder;  // null: `name` is a path
        std::string name;
    };
    Location location() const;
    void MoveTo(std::shared_ptr<const FileObject> folder, std::string name);
    // The path, or the name inside the folder it was opened in.
    std::string name() const { return location().name; }
    // The full path it was opened at, or renamed to through its handle.
    std::string opened_at() const;
    // The real path of a folder, looked up once.
    std::string RealPath() const;

    // A folder's listing, read on demand; the mutex guards it and the held-back entry.
    std::mutex listing_mutex;
    std::unique_ptr<DIR, int (*)(DIR*)> listing{nullptr, &::closedir};
    std::optional<std::string> held_back;  // read, but did not fit the caller's buffer
    bool listing_ended = false;  // the stream is closed then, so no descriptor stays behind

private:
    int descriptor_;
    DWORD access_;
    mutable std::mutex location_mutex_;
    std::string name_;
    std::string opened_at_;
    mutable std::optional<std::string> real_path_;
    std::shared_ptr<const FileObject> folder_;
    bool directory_;
    bool folder_link_ = false;
    FileIdentity identity_;
    std::unique_ptr<SharingClaim> claim_;
};

struct OpenRequest {
    std::shared_ptr<const FileObject> folder;  // where a relative `name` starts; null: a path
    std::string name;
    DWORD access = 0;  // GENERIC_READ | GENERIC_WRITE | DELETE
    DWORD share = 0;
    DWORD disposition = OPEN_EXISTING;  // CREATE_NEW ... TRUNCATE_EXISTING
    bool folder_allowed = false;
    bool no_follow = false;  // a link is opened as itself, for its facts only
    bool read_only = false;  // attribute of a created file
};

// The full path that `name` names: inside `folder`'s real path, or `name` made absolute.
std::string FullPathOf(const FileObject* folder, const std::string& name);

// Runs the before-call callbacks of `function` on the object that `handle` holds, if any.
void BeforeCallOn(std::string_view function, HANDLE handle);

// The opened object, or null with `error` set to a Windows error number. `existed` tells
// whether something was at the name already.
std::shared_ptr<FileObject> OpenFileObject(const OpenRequest& request, DWORD& error, bool& existed);

}  // namespace platform::detail
