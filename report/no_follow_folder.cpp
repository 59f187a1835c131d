#include "no_follow_folder.h"

#include <array>
#include <system_error>

#include "common/path_conversion.h"

namespace {

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsReparsePoint(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// Opens `name` inside `folder`; a reparse point is opened as itself, never followed.
ScopedHandle OpenInside(HANDLE folder, std::wstring_view name, ACCESS_MASK access, ULONG share,
                        ULONG options, NTSTATUS& status) {
    std::wstring text(name);
    UNICODE_STRING object_name{static_cast<USHORT>(text.size() * sizeof(WCHAR)),
                               static_cast<USHORT>(text.size() * sizeof(WCHAR)), text.data()};
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE handle = INVALID_HANDLE_VALUE;
    status =
        NtCreateFile(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr, 0, share, FILE_OPEN,
                     options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    return NT_SUCCESS(status) ? ScopedHandle(handle) : ScopedHandle();
}

bool Delete(HANDLE object) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(object, FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
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
        join(information.nFileSizeHigh, information.nFileSizeLow)};
}

std::optional<NoFollowFolder> NoFollowFolder::Open(const std::filesystem::path& path) {
    const std::wstring wide = PathToWide(path);
    if (wide.empty() || WideToPath(wide) != path) {
        return std::nullopt;  // no wide name leads back to it
    }
    ScopedHandle handle(CreateFileW(
        wide.c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAll, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle) {
        return std::nullopt;
    }
    const auto facts = FactsOf(handle.get());
    if (!facts || !IsFolder(facts->attributes) || IsReparsePoint(facts->attributes)) {
        return std::nullopt;
    }
    return NoFollowFolder(std::move(handle), path, facts->id);
}

std::vector<NoFollowFolder::Entry> NoFollowFolder::List() const {
    // Aligned as the records inside it are.
    alignas(8) std::array<std::byte, 16384> buffer{};
    std::vector<Entry> entries;
    for (auto information_class = FileIdBothDirectoryRestartInfo;;
         information_class = FileIdBothDirectoryInfo) {
        if (GetFileInformationByHandleEx(handle_.get(), information_class, buffer.data(),
                                         static_cast<DWORD>(buffer.size())) == FALSE) {
            const DWORD error = GetLastError();
            if (error == ERROR_NO_MORE_FILES) {
                return entries;
            }
            throw std::system_error(static_cast<int>(error), std::system_category(),
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
                                                            NTSTATUS& status) const {
    ScopedHandle handle = OpenInside(handle_.get(), name, FILE_LIST_DIRECTORY, kShareAll,
                                     FILE_DIRECTORY_FILE, status);
    if (!handle) {
        return std::nullopt;
    }
    const auto facts = FactsOf(handle.get());
    if (!facts || !IsFolder(facts->attributes) || IsReparsePoint(facts->attributes)) {
        status = STATUS_NOT_A_DIRECTORY;  // a junction is a folder that is a reparse point
        return std::nullopt;
    }
    return NoFollowFolder(std::move(handle), path_ / WideToPath(std::wstring(name)), facts->id);
}

ScopedHandle NoFollowFolder::OpenFile(std::wstring_view name, ACCESS_MASK access, ULONG share,
                                      std::optional<std::int64_t> id) const {
    NTSTATUS status = STATUS_SUCCESS;
    ScopedHandle handle =
        OpenInside(handle_.get(), name, access, share, FILE_NON_DIRECTORY_FILE, status);
    if (!handle) {
        return handle;
    }
    const auto facts = FactsOf(handle.get());
    if (!facts || IsReparsePoint(facts->attributes) || (id && facts->id != *id)) {
        return ScopedHandle();
    }
    return handle;
}

bool NoFollowFolder::Remove(std::wstring_view name, std::optional<std::int64_t> id) const {
    NTSTATUS status = STATUS_SUCCESS;
    const ScopedHandle handle = OpenInside(handle_.get(), name, DELETE, kShareAll, 0, status);
    if (!handle) {
        return status == STATUS_OBJECT_NAME_NOT_FOUND && !id;  // nothing there
    }
    const auto facts = FactsOf(handle.get());
    if (!facts || IsReparsePoint(facts->attributes) || (id && facts->id != *id)) {
        return false;
    }
    return Delete(handle.get());
}

bool NoFollowFolder::Clear(std::wstring_view name) const {
    NTSTATUS status = STATUS_SUCCESS;
    const ScopedHandle handle =
        OpenInside(handle_.get(), name, DELETE, kShareAll, FILE_NON_DIRECTORY_FILE, status);
    if (!handle) {
        return status == STATUS_OBJECT_NAME_NOT_FOUND;
    }
    return Delete(handle.get());
}

bool NoFollowFolder::RemoveSelf() const {
    const std::wstring wide = PathToWide(path_);
    const ScopedHandle handle(CreateFileW(wide.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                          nullptr));
    if (!handle) {
        return false;
    }
    const auto facts = FactsOf(handle.get());
    if (!facts || IsReparsePoint(facts->attributes) || facts->id != id_) {
        return false;  // the path leads elsewhere now
    }
    return Delete(handle.get());
}
