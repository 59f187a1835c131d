#include "common/no_follow_folder.h"

#include <shlobj.h>
#include <win_error.h>

#include <array>
#include <cstddef>
#include <system_error>
#include <vector>

#include "common/path_conversion.h"

namespace fs = std::filesystem;

namespace {

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY;

bool IsReparsePoint(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// A folder that is no reparse point: a junction or a link to a folder is both.
bool IsRealFolder(const ObjectFacts& facts) {
    return IsFolder(facts.attributes) && !IsReparsePoint(facts.attributes);
}

// Opens `name` inside `folder`; a reparse point is opened as itself, never followed.
ScopedHandle OpenInside(HANDLE folder, std::wstring_view name, ACCESS_MASK access, ULONG share,
                        ULONG disposition, ULONG options, NTSTATUS& status) {
    std::wstring text(name);
    UNICODE_STRING object_name{static_cast<USHORT>(text.size() * sizeof(WCHAR)),
                               static_cast<USHORT>(text.size() * sizeof(WCHAR)), text.data()};
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE handle = INVALID_HANDLE_VALUE;
    status = NtCreateFile(
        &handle, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
        disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    return NT_SUCCESS(status) ? ScopedHandle(handle) : ScopedHandle();
}

// The special folders that the product's folders lie under: their paths are the system's and
// are followed as the system gives them.
std::vector<fs::path> TrustedRoots() {
    std::vector<fs::path> roots;
    for (const int csidl : {CSIDL_COMMON_APPDATA, CSIDL_APPDATA}) {
        std::array<wchar_t, MAX_PATH> buffer{};
        if (SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, buffer.data()))) {
            roots.push_back(WideToPath(buffer.data()));
        }
    }
    return roots;
}

// The names of `path` after `root`, when `root` is a leading part of it.
std::optional<std::vector<fs::path>> NamesBelow(const fs::path& root, const fs::path& path) {
    auto part = path.begin();
    for (const auto& root_part : root) {
        if (root_part.empty()) {
            continue;  // a trailing separator
        }
        if (part == path.end() || *part != root_part) {
            return std::nullopt;
        }
        ++part;
    }
    std::vector<fs::path> names;
    for (; part != path.end(); ++part) {
        if (!part->empty()) {
            names.push_back(*part);
        }
    }
    return names;
}

struct WalkPlan {
    fs::path root;
    std::vector<std::wstring> names;
};

// Where the walk to `path` starts, and the names it takes from there: the deepest special
// folder that holds the path, or else the path's own root.
std::optional<WalkPlan> PlanWalk(const fs::path& path) {
    if (!path.is_absolute()) {
        return std::nullopt;
    }
    std::optional<WalkPlan> plan;
    std::vector<fs::path> names;
    for (const auto& root : TrustedRoots()) {
        auto below = NamesBelow(root, path);
        if (below && (!plan || below->size() < names.size())) {
            plan = WalkPlan{root, {}};
            names = std::move(*below);
        }
    }
    if (!plan) {
        plan = WalkPlan{path.root_path(), {}};
        names = *NamesBelow(path.root_path(), path);
    }
    // "." and ".." are no names inside a folder: opening one fails, so the walk ends there.
    for (const auto& name : names) {
        std::wstring wide = PathToWide(name);
        if (WideToPath(wide) != name) {
            return std::nullopt;  // no wide name leads back to it
        }
        plan->names.push_back(std::move(wide));
    }
    return plan;
}

}  // namespace

std::optional<ObjectFacts> FactsOf(HANDLE object) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(object, &information) == FALSE) {
        return std::nullopt;
    }
    const auto join = [](DWORD high, DWORD low) {
        return (static_cast<std::uint64_t>(high) << 32) | low;
    };
    return ObjectFacts{
        information.dwFileAttributes,
        static_cast<std::int64_t>(join(information.nFileIndexHigh, information.nFileIndexLow)),
        join(information.nFileSizeHigh, information.nFileSizeLow), information.nNumberOfLinks};
}

bool DeleteThrough(HANDLE object) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(object, FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
}

bool IsPlainFile(const ObjectFacts& facts) {
    return !IsFolder(facts.attributes) && !IsReparsePoint(facts.attributes) && facts.links == 1;
}

std::optional<NoFollowFolder> NoFollowFolder::Open(const fs::path& path, Missing missing) {
    const auto plan = PlanWalk(path);
    if (!plan) {
        return std::nullopt;
    }
    const std::wstring root_text = PathToWide(plan->root);
    auto root = std::make_shared<const ScopedHandle>(
        CreateFileW(root_text.c_str(), kFolderAccess | SYNCHRONIZE, kShareAll, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!*root) {
        return std::nullopt;
    }
    const auto facts = FactsOf(root->get());
    if (!facts || !IsFolder(facts->attributes)) {
        return std::nullopt;
    }
    std::optional<NoFollowFolder> folder(NoFollowFolder(std::move(root), nullptr, {}, facts->id));
    for (const auto& name : plan->names) {
        NTSTATUS status = STATUS_SUCCESS;
        folder = folder->OpenSubfolder(name, status, missing);
        if (!folder) {
            return std::nullopt;
        }
    }
    return folder;
}

std::vector<NoFollowFolder::Entry> NoFollowFolder::List() const {
    // Aligned as the records inside it are.
    alignas(8) std::array<std::byte, 16384> buffer{};
    std::vector<Entry> entries;
    for (auto information_class = FileIdBothDirectoryRestartInfo;;
         information_class = FileIdBothDirectoryInfo) {
        if (GetFileInformationByHandleEx(handle(), information_class, buffer.data(),
                                         static_cast<DWORD>(buffer.size())) == FALSE) {
            const DWORD error = GetLastError();
            if (error == ERROR_NO_MORE_FILES) {
                return entries;
            }
            throw std::system_error(static_cast<int>(error), win_error::system_category(),
                                    "failed to list a folder");
        }
        for (std::size_t offset = 0;;) {
            const auto* const record =
                reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
            entries.push_back(
                {std::wstring(record->FileName, record->FileNameLength / sizeof(WCHAR)),
                 record->FileAttributes, record->FileId.QuadPart});
            if (record->NextEntryOffset == 0) {
                break;
            }
            offset += record->NextEntryOffset;
        }
    }
}

std::optional<NoFollowFolder> NoFollowFolder::OpenSubfolder(std::wstring_view name,
                                                            NTSTATUS& status,
                                                            Missing missing) const {
    ScopedHandle opened = OpenInside(handle(), name, kFolderAccess, kShareAll, FILE_OPEN,
                                     FILE_DIRECTORY_FILE, status);
    if (!opened && status == STATUS_OBJECT_NAME_NOT_FOUND && missing == Missing::kCreate) {
        opened = OpenInside(handle(), name, kFolderAccess, kShareAll, FILE_CREATE,
                            FILE_DIRECTORY_FILE, status);
        if (!opened && status == STATUS_OBJECT_NAME_COLLISION) {  // made meanwhile
            opened = OpenInside(handle(), name, kFolderAccess, kShareAll, FILE_OPEN,
                                FILE_DIRECTORY_FILE, status);
        }
    }
    if (!opened) {
        return std::nullopt;
    }
    const auto facts = FactsOf(opened.get());
    if (!facts || !IsRealFolder(*facts)) {
        status = STATUS_NOT_A_DIRECTORY;
        return std::nullopt;
    }
    return NoFollowFolder(std::make_shared<const ScopedHandle>(std::move(opened)), handle_,
                          std::wstring(name), facts->id);
}

ScopedHandle NoFollowFolder::OpenFile(std::wstring_view name, ACCESS_MASK access, ULONG share,
                                      std::optional<std::int64_t> id) const {
    NTSTATUS status = STATUS_SUCCESS;
    ScopedHandle file =
        OpenInside(handle(), name, access, share, FILE_OPEN, FILE_NON_DIRECTORY_FILE, status);
    if (!file) {
        return file;
    }
    const auto facts = FactsOf(file.get());
    if (!facts || !IsPlainFile(*facts) || (id && facts->id != *id)) {
        return ScopedHandle();
    }
    return file;
}

ScopedHandle NoFollowFolder::OpenAsIs(std::wstring_view name, ACCESS_MASK access, ULONG share,
                                      NTSTATUS& status) const {
    return OpenInside(handle(), name, access, share, FILE_OPEN, 0, status);
}

ScopedHandle NoFollowFolder::CreateNewFile(std::wstring_view name, ACCESS_MASK access, ULONG share,
                                           NTSTATUS& status) const {
    ScopedHandle file =
        OpenInside(handle(), name, access, share, FILE_CREATE, FILE_NON_DIRECTORY_FILE, status);
    if (!file) {
        return file;
    }
    const auto facts = FactsOf(file.get());
    if (!facts || !IsPlainFile(*facts)) {
        status = STATUS_ACCESS_DENIED;
        return ScopedHandle();
    }
    return file;
}

bool NoFollowFolder::Remove(std::wstring_view name, std::optional<std::int64_t> id,
                            std::optional<std::uint64_t> size) const {
    NTSTATUS status = STATUS_SUCCESS;
    const ScopedHandle object = OpenInside(handle(), name, DELETE, kShareAll, FILE_OPEN, 0, status);
    if (!object) {
        return status == STATUS_OBJECT_NAME_NOT_FOUND && !id;  // nothing there
    }
    const auto facts = FactsOf(object.get());
    if (!facts || (id && facts->id != *id)) {
        return false;
    }
    const bool folder = IsRealFolder(*facts);
    if (!folder && (!IsPlainFile(*facts) || (size && facts->size != *size))) {
        return false;
    }
    return DeleteThrough(object.get());
}

bool NoFollowFolder::Clear(std::wstring_view name) const {
    NTSTATUS status = STATUS_SUCCESS;
    const ScopedHandle object =
        OpenInside(handle(), name, DELETE, kShareAll, FILE_OPEN, FILE_NON_DIRECTORY_FILE, status);
    if (!object) {
        return status == STATUS_OBJECT_NAME_NOT_FOUND;
    }
    const auto facts = FactsOf(object.get());
    const bool removable = facts && (IsReparsePoint(facts->attributes) || IsPlainFile(*facts));
    return removable && DeleteThrough(object.get());
}

bool NoFollowFolder::MoveHere(HANDLE object, std::wstring_view name) const {
    const std::size_t name_bytes = name.size() * sizeof(WCHAR);
    const std::size_t size = offsetof(FILE_RENAME_INFO, FileName) + name_bytes + sizeof(WCHAR);
    // Aligned as the record inside it is.
    std::vector<std::uint64_t> storage((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    auto* const rename = reinterpret_cast<FILE_RENAME_INFO*>(storage.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = handle();
    rename->FileNameLength = static_cast<DWORD>(name_bytes);
    std::copy(name.begin(), name.end(), rename->FileName);
    return SetFileInformationByHandle(object, FileRenameInfo, rename, static_cast<DWORD>(size)) !=
           FALSE;
}

bool NoFollowFolder::RemoveSelf() const {
    if (!parent_) {
        return false;
    }
    NTSTATUS status = STATUS_SUCCESS;
    const ScopedHandle self = OpenInside(parent_->get(), name_, DELETE, kShareAll, FILE_OPEN,
                                         FILE_DIRECTORY_FILE, status);
    if (!self) {
        return false;
    }
    const auto facts = FactsOf(self.get());
    if (!facts || !IsRealFolder(*facts) || facts->id != id_) {
        return false;  // the name leads elsewhere now
    }
    return DeleteThrough(self.get());
}
