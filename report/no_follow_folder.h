// One of the product's folders (the logs, the crash files), held by a handle that was opened
// without following a reparse point (a link or a junction), and what it holds, reached only
// through that handle: each name is looked up inside the folder on its own, and nothing that is
// a reparse point is followed, read or deleted. So no link, whenever it is planted, leads a read
// or a deletion out of the folder.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scoped_handle.h"  // the zip writer's, shared

class NoFollowFolder {
public:
    struct Entry {
        std::wstring name;
        DWORD attributes = 0;
        std::int64_t id = 0;  // the file system's number of the object listed
    };

    // None when nothing is at the path, or it is not a folder, or it is a reparse point itself.
    static std::optional<NoFollowFolder> Open(const std::filesystem::path& path);

    // The entries in the file system's order. Throws std::system_error when listing fails.
    std::vector<Entry> List() const;

    // A subfolder opened as this one; none when it cannot be, with the reason in `status`
    // (STATUS_NOT_A_DIRECTORY also for a reparse point).
    std::optional<NoFollowFolder> OpenSubfolder(std::wstring_view name, NTSTATUS& status) const;

    // A file of the folder that is not a reparse point, or an empty handle. With `id`, only
    // the object of that number: a name that now leads elsewhere gives an empty handle.
    ScopedHandle OpenFile(std::wstring_view name, ACCESS_MASK access, ULONG share,
                          std::optional<std::int64_t> id = std::nullopt) const;

    // Deletes the file or empty subfolder `name` (of number `id`, when given) unless it is a
    // reparse point or open elsewhere without delete sharing. True when it is gone.
    bool Remove(std::wstring_view name, std::optional<std::int64_t> id = std::nullopt) const;

    // Makes room for a new file at `name`: deletes the file or the link (as itself, never what
    // it points to) that stands there; never a folder. True when nothing is there any more.
    bool Clear(std::wstring_view name) const;

    // Deletes this folder once it is empty, while its path still leads to it.
    bool RemoveSelf() const;

    // The folder's own number.
    std::int64_t id() const { return id_; }

private:
    NoFollowFolder(ScopedHandle handle, std::filesystem::path path, std::int64_t id)
        : handle_(std::move(handle)), path_(std::move(path)), id_(id) {}

    ScopedHandle handle_;
    std::filesystem::path path_;  // how it was reached: its name under its parent's path
    std::int64_t id_;
};

// The number and attributes of an open object, or none when they cannot be read.
struct ObjectFacts {
    DWORD attributes = 0;
    std::int64_t id = 0;
    std::uint64_t size = 0;
};
std::optional<ObjectFacts> FactsOf(HANDLE object);
