// The product's folders, and what they hold, reached only by handles. The program may run with
// more rights than the users who can write these folders, so a folder is reached from a trusted
// root (the special folder that its path lies under) one name at a time, each folder opened
// inside the handle of the one above without following a reparse point (a link or a junction):
// a folder that is a reparse point anywhere on the way counts as missing. Every open, create,
// rename and delete inside a folder then goes through its handle, and a file is used only while
// it is a plain file with one link, so neither a link planted at any moment nor a hard link to
// another file leads a read, a write or a deletion out of the product's folders.
// Any thread may call these; nothing here logs or throws but List.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/scoped_handle.h"

// The number, attributes, size and link count of an open object.
struct ObjectFacts {
    DWORD attributes = 0;
    std::int64_t id = 0;
    std::uint64_t size = 0;
    DWORD links = 0;
};
// None when they cannot be read.
std::optional<ObjectFacts> FactsOf(HANDLE object);
// Deletes the file, link or empty folder that `object` (opened with DELETE access) holds.
bool DeleteThrough(HANDLE object);

// A file that is not a folder, not a reparse point and has no other name (a hard link).
bool IsPlainFile(const ObjectFacts& facts);

class NoFollowFolder {
public:
    struct Entry {
        std::wstring name;
        DWORD attributes = 0;
        std::int64_t id = 0;  // the file system's number of the object listed
    };

    enum class Missing {
        kAbsent,  // a missing folder is no folder
        kCreate,  // missing folders are made, each inside the handle of the one above
    };

    // The folder at `path`, reached from its trusted root: the special folder it lies under
    // (all users' or the user's application data), or else the root of the path. None when a
    // folder on the way is missing (unless made), is not a folder, or is a reparse point, and
    // for a relative path or one with "." or ".." in it.
    static std::optional<NoFollowFolder> Open(const std::filesystem::path& path,
                                              Missing missing = Missing::kAbsent);

    // The entries in the file system's order. Throws std::system_error (of the Windows error)
    // when listing fails.
    std::vector<Entry> List() const;

    // A subfolder opened as this one; none when it cannot be, with the reason in `status`
    // (STATUS_NOT_A_DIRECTORY also for a reparse point).
    std::optional<NoFollowFolder> OpenSubfolder(std::wstring_view name, NTSTATUS& status,
                                                Missing missing = Missing::kAbsent) const;

    // A plain file of the folder (see IsPlainFile), or an empty handle. With `id`, only the
    // object of that number: a name that now leads elsewhere gives an empty handle.
    ScopedHandle OpenFile(std::wstring_view name, ACCESS_MASK access, ULONG share,
                          std::optional<std::int64_t> id = std::nullopt) const;

    // Whatever is at `name`, opened as it is (a link as itself) and unchecked: for a caller that
    // looks at its facts before it uses it. An empty handle with the reason in `status`.
    ScopedHandle OpenAsIs(std::wstring_view name, ACCESS_MASK access, ULONG share,
                          NTSTATUS& status) const;

    // A new empty file at `name`, or an empty handle with the reason in `status`
    // (STATUS_OBJECT_NAME_COLLISION when anything is there already).
    ScopedHandle CreateNewFile(std::wstring_view name, ACCESS_MASK access, ULONG share,
                               NTSTATUS& status) const;

    // Deletes the plain file or the empty real subfolder `name` (of number `id`, when given,
    // and of `size` bytes, when given) unless it is open elsewhere without delete sharing.
    // True when it is gone.
    bool Remove(std::wstring_view name, std::optional<std::int64_t> id = std::nullopt,
                std::optional<std::uint64_t> size = std::nullopt) const;

    // Makes room for a new file at `name`: deletes a plain file or a link (as itself, never
    // what it points to) that stands there; never a folder, nor a file with another name.
    // True when nothing is there any more.
    bool Clear(std::wstring_view name) const;

    // Gives the object of `object` (a handle opened with DELETE access of a file in this
    // folder) the name `name` here, replacing a plain file or a link of that name, in one step.
    bool MoveHere(HANDLE object, std::wstring_view name) const;

    // Deletes this folder, once it is empty, through the handle of the folder above, while its
    // name there still leads to it. A trusted root is never deleted.
    bool RemoveSelf() const;

    std::int64_t id() const { return id_; }
    HANDLE handle() const { return handle_->get(); }

private:
    NoFollowFolder(std::shared_ptr<const ScopedHandle> handle,
                   std::shared_ptr<const ScopedHandle> parent, std::wstring name, std::int64_t id)
        : handle_(std::move(handle)), parent_(std::move(parent)), name_(std::move(name)), id_(id) {}

    std::shared_ptr<const ScopedHandle> handle_;
    std::shared_ptr<const ScopedHandle> parent_;  // null for a trusted root
    std::wstring name_;                           // its name inside the parent
    std::int64_t id_;
};
