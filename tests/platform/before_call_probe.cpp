// Reads one file the way the program reaches files, for the tests of PLATFORM_BEFORE_CALL:
// opens the folder argv[1], the name argv[2] inside it (without following a link), reads it and
// prints what it read, or "refused" when it was not a plain file with one link.
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    const std::wstring folder_path = std::filesystem::path(argv[1]).wstring();
    const HANDLE folder =
        CreateFileW(folder_path.c_str(), FILE_LIST_DIRECTORY,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        return 3;
    }
    std::wstring name = std::filesystem::path(argv[2]).wstring();
    UNICODE_STRING object_name{static_cast<USHORT>(name.size() * sizeof(WCHAR)),
                               static_cast<USHORT>(name.size() * sizeof(WCHAR)), name.data()};
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &object_name, 0, folder, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE file = INVALID_HANDLE_VALUE;
    if (!NT_SUCCESS(NtCreateFile(&file, GENERIC_READ, &attributes, &io, nullptr, 0, FILE_SHARE_READ,
                                 FILE_OPEN, FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT,
                                 nullptr, 0))) {
        CloseHandle(folder);
        return 4;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    std::string text = "refused";
    if (GetFileInformationByHandle(file, &information) &&
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
        information.nNumberOfLinks == 1) {
        char buffer[256];
        DWORD got = 0;
        text = ReadFile(file, buffer, sizeof buffer, &got, nullptr) ? std::string(buffer, got)
                                                                    : "unread";
    }
    std::fputs(text.c_str(), stdout);
    CloseHandle(file);
    CloseHandle(folder);
    return 0;
}
