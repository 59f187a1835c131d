// Files and folders: opening with share modes, reading, writing, positioning, facts, deletion.
// Sharing is checked as Windows does between every open handle of the file; descriptors that
// this process or another one holds outside the layer count too (as opened with read and write
// sharing, never delete sharing).
#pragma once

#include "types.h"

// Errors of this area (identical redefinitions elsewhere are harmless).
#define ERROR_HANDLE_EOF 38L
#define ERROR_DISK_FULL 112L
#define ERROR_NEGATIVE_SEEK 131L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_DIRECTORY 267L

#define GENERIC_READ 0x80000000U
#define GENERIC_WRITE 0x40000000U
#define DELETE 0x00010000U

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
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFU

// Needed to open a folder.
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000U

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

// A file open anywhere without delete sharing cannot be deleted (ERROR_SHARING_VIOLATION).
BOOL WINAPI DeleteFileW(LPCWSTR file_name);
// Only an empty folder that no handle holds can be removed.
BOOL WINAPI RemoveDirectoryW(LPCWSTR path_name);

}
