// Files and folders: opening with share modes, reading, writing, positioning, facts, listing a
// folder by its handle, deletion. Sharing is checked as Windows does between every open handle
// of the file; descriptors that this process or another one holds outside the layer count too
// (as opened with read and write sharing, never delete sharing). A symbolic link is this
// platform's reparse point: FILE_FLAG_OPEN_REPARSE_POINT opens the link itself, never its target.
#pragma once

#include "win/types.h"

// Errors of this area (identical redefinitions elsewhere are harmless).
#define ERROR_NOT_SAME_DEVICE 17L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_HANDLE_EOF 38L
#define ERROR_DISK_FULL 112L
#define ERROR_NEGATIVE_SEEK 131L
#define ERROR_INVALID_NAME 123L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_DIRECTORY 267L
#define ERROR_MORE_DATA 234L

#define GENERIC_READ 0x80000000U
#define GENERIC_WRITE 0x40000000U
#define DELETE 0x00010000U
#define SYNCHRONIZE 0x00100000U
#define FILE_READ_DATA 0x0001U
#define FILE_LIST_DIRECTORY 0x0001U

#define FILE_SHARE_READ 0x00000001U
#define FILE_SHARE_WRITE 0x00000002U
#define FILE_SHARE_DELETE 0x00000004U

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_READONLY 0x00000001U
#define FILE_ATTRIBUTE_HIDDEN 0x00000002U
#define FILE_ATTRIBUTE_SYSTEM 0x00000004U
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010U
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020U
#define FILE_ATTRIBUTE_NORMAL 0x00000080U
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400U
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFU

// Needed to open a folder.
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000U
// Opens a reparse point itself instead of what it points to.
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000U

#define IO_REPARSE_TAG_SYMLINK 0xA000000CU

#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFU

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
using LPFILETIME = FILETIME*;

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// Asynchronous I/O is not offered: every call takes a null OVERLAPPED.
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};
using LPBY_HANDLE_FILE_INFORMATION = BY_HANDLE_FILE_INFORMATION*;

// The classes of GetFileInformationByHandleEx and SetFileInformationByHandle that the layer
// offers.
enum FILE_INFO_BY_HANDLE_CLASS {
    FileRenameInfo = 3,
    FileDispositionInfo = 4,
    FileIdBothDirectoryInfo = 10,
    FileIdBothDirectoryRestartInfo = 11,
};

// One entry of a folder's listing; entries follow each other NextEntryOffset bytes apart (0 on
// the last of a call). FileNameLength counts bytes; the name is not terminated.
struct FILE_ID_BOTH_DIR_INFO {
    DWORD NextEntryOffset;
    DWORD FileIndex;
    LARGE_INTEGER CreationTime;
    LARGE_INTEGER LastAccessTime;
    LARGE_INTEGER LastWriteTime;
    LARGE_INTEGER ChangeTime;
    LARGE_INTEGER EndOfFile;
    LARGE_INTEGER AllocationSize;
    DWORD FileAttributes;
    DWORD FileNameLength;
    DWORD EaSize;  // the reparse tag for a reparse point
    char ShortNameLength;
    WCHAR ShortName[12];
    LARGE_INTEGER FileId;
    WCHAR FileName[1];
};

struct FILE_DISPOSITION_INFO {
    BOOLEAN DeleteFile;
};

// FileNameLength counts bytes; the name is not terminated. The buffer holds the whole name.
struct FILE_RENAME_INFO {
    BOOLEAN ReplaceIfExists;
    HANDLE RootDirectory;
    DWORD FileNameLength;
    WCHAR FileName[1];
};

extern "C" {

// Fails with ERROR_SHARING_VIOLATION when the access or share mode clashes with another open
// handle of the file; INVALID_HANDLE_VALUE on every failure.
HANDLE WINAPI CreateFileW(LPCWSTR file_name, DWORD desired_access, DWORD share_mode,
                          LPSECURITY_ATTRIBUTES security_attributes, DWORD creation_disposition,
                          DWORD flags_and_attributes, HANDLE template_file);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytes_to_read, LPDWORD bytes_read,
                     LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes_to_write, LPDWORD bytes_written,
                      LPOVERLAPPED overlapped);
DWORD WINAPI SetFilePointer(HANDLE file, LONG distance_to_move, LONG* distance_to_move_high,
                            DWORD move_method);
BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);
// Cuts the file (or makes it longer) at the current position.
BOOL WINAPI SetEndOfFile(HANDLE file);

// FileIdBothDirectoryInfo lists a folder opened with FILE_FLAG_BACKUP_SEMANTICS: as many entries
// as fit, "." and ".." left out, then FALSE with ERROR_NO_MORE_FILES; the Restart class starts
// the listing again. A link is listed as itself (FILE_ATTRIBUTE_REPARSE_POINT), never followed.
BOOL WINAPI GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                                         LPVOID information, DWORD buffer_size);
// FileDispositionInfo deletes the file, link or empty folder that the handle holds, which needs
// DELETE access. Here it is deleted at once rather than when its last handle closes, and only
// while its name still leads to that very object.
// FileRenameInfo moves that object, in one step, to FileName (a single name) inside the folder
// whose handle is RootDirectory; it too needs DELETE access and a name that still leads to the
// object. What is at FileName already stays (ERROR_ALREADY_EXISTS) unless ReplaceIfExists:
// then a plain file or a link (the link itself) is replaced, never a folder, a read-only file or
// a file held open without delete sharing (ERROR_ACCESS_DENIED). The handle then holds the
// object at its new name.
BOOL WINAPI SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                                       LPVOID information, DWORD buffer_size);

// A file open anywhere without delete sharing cannot be deleted (ERROR_SHARING_VIOLATION).
BOOL WINAPI DeleteFileW(LPCWSTR file_name);
// Only an empty folder that no handle holds can be removed.
BOOL WINAPI RemoveDirectoryW(LPCWSTR path_name);
}
