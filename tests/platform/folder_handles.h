// Handles of folders and of names inside them, as the program reaches them, for the file tests.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"

inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A folder (or a link, as itself) by its path.
inline HANDLE OpenFolder(const std::filesystem::path& path, DWORD access = FILE_LIST_DIRECTORY) {
    return CreateFileW(path.wstring().c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

struct Opened {
    NTSTATUS status;
    HANDLE handle;
    ULONG_PTR information = 0;  // FILE_OPENED or FILE_CREATED
};

inline Opened OpenInside(HANDLE folder, std::wstring name, ACCESS_MASK access, ULONG options,
                         ULONG share = kShareAll, ULONG disposition = FILE_OPEN) {
    UNICODE_STRING object_name{static_cast<USHORT>(name.size() * sizeof(WCHAR)),
                               static_cast<USHORT>(name.size() * sizeof(WCHAR)), name.data()};
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &object_name, 0, folder, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE handle = INVALID_HANDLE_VALUE;
    const NTSTATUS status = NtCreateFile(&handle, access, &attributes, &io, nullptr, 0, share,
                                         disposition, options, nullptr, 0);
    return {status, handle, NT_SUCCESS(status) ? io.Information : 0};
}

inline BY_HANDLE_FILE_INFORMATION InformationOf(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information)) {
        information.dwFileAttributes = INVALID_FILE_ATTRIBUTES;
    }
    return information;
}

inline bool DeleteThrough(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
}

// What the folder tests work on, under `dir`: "folder" with a file, a subfolder and links to
// "outside" (a file, the folder itself, nothing), and "outside" with its "secret".
inline void LayOutFolderWithLinks(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir / "folder" / "sub");
    std::filesystem::create_directories(dir / "outside");
    test_support::WriteFile(dir / "folder" / "file.log", "inside");
    test_support::WriteFile(dir / "outside" / "secret", "outside");
    std::filesystem::create_symlink(dir / "outside" / "secret", dir / "folder" / "file-link");
    std::filesystem::create_directory_symlink(dir / "outside", dir / "folder" / "folder-link");
    std::filesystem::create_symlink(dir / "nowhere", dir / "folder" / "dangling");
}
