// The native file call that opens a name relative to a folder's handle, for code that must not
// be led out of a folder by a link in a path. Only what the program calls is declared.
#pragma once

#include "windows.h"

#define NTAPI

using USHORT = std::uint16_t;
using PWSTR = WCHAR*;
using ACCESS_MASK = DWORD;

#define NT_SUCCESS(status) (static_cast<NTSTATUS>(status) >= 0)  // NTSTATUS: win/sysinfo.h
#define STATUS_INVALID_HANDLE static_cast<NTSTATUS>(0xC0000008L)
#define STATUS_INVALID_PARAMETER static_cast<NTSTATUS>(0xC000000DL)
#define STATUS_ACCESS_DENIED static_cast<NTSTATUS>(0xC0000022L)
#define STATUS_OBJECT_NAME_INVALID static_cast<NTSTATUS>(0xC0000033L)
#define STATUS_OBJECT_NAME_NOT_FOUND static_cast<NTSTATUS>(0xC0000034L)
#define STATUS_OBJECT_NAME_COLLISION static_cast<NTSTATUS>(0xC0000035L)
#define STATUS_SHARING_VIOLATION static_cast<NTSTATUS>(0xC0000043L)
#define STATUS_TOO_MANY_OPENED_FILES static_cast<NTSTATUS>(0xC000011FL)
#define STATUS_FILE_IS_A_DIRECTORY static_cast<NTSTATUS>(0xC00000BAL)
#define STATUS_NOT_A_DIRECTORY static_cast<NTSTATUS>(0xC0000103L)

struct UNICODE_STRING {
    USHORT Length;  // bytes, without a terminating zero
    USHORT MaximumLength;
    PWSTR Buffer;
};
using PUNICODE_STRING = UNICODE_STRING*;

struct OBJECT_ATTRIBUTES {
    ULONG Length;
    HANDLE RootDirectory;
    PUNICODE_STRING ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
};
using POBJECT_ATTRIBUTES = OBJECT_ATTRIBUTES*;

#define OBJ_CASE_INSENSITIVE 0x00000040L

#define InitializeObjectAttributes(p, n, a, r, s) \
    do {                                          \
        (p)->Length = sizeof(OBJECT_ATTRIBUTES);  \
        (p)->RootDirectory = (r);                 \
        (p)->Attributes = (a);                    \
        (p)->ObjectName = (n);                    \
        (p)->SecurityDescriptor = (s);            \
        (p)->SecurityQualityOfService = nullptr;  \
    } while (0)

struct IO_STATUS_BLOCK {
    NTSTATUS Status;
    ULONG_PTR Information;  // FILE_OPENED or FILE_CREATED
};
using PIO_STATUS_BLOCK = IO_STATUS_BLOCK*;

// Create dispositions.
#define FILE_OPEN 0x00000001U
#define FILE_CREATE 0x00000002U
#define FILE_OPEN_IF 0x00000003U

// Create options.
#define FILE_DIRECTORY_FILE 0x00000001U
#define FILE_SYNCHRONOUS_IO_NONALERT 0x00000020U
#define FILE_NON_DIRECTORY_FILE 0x00000040U
#define FILE_OPEN_REPARSE_POINT 0x00200000U

// Information of the status block.
#define FILE_OPENED 0x00000001U
#define FILE_CREATED 0x00000002U

extern "C" {

// Opens or creates `ObjectName` inside the folder `RootDirectory` (a handle of that folder). The
// layer takes only a single name there, with no separator; it takes FILE_OPEN, FILE_CREATE
// (STATUS_OBJECT_NAME_COLLISION when anything, a link included, is at the name) and
// FILE_OPEN_IF, for files and, with FILE_DIRECTORY_FILE, for folders: a folder is made inside
// the root and the handle is of the very folder made, never reached through a link. With
// FILE_OPEN_REPARSE_POINT a link is opened as itself, never followed or written. Sharing as
// CreateFileW. Information: FILE_CREATED or FILE_OPENED.
NTSTATUS NTAPI NtCreateFile(PHANDLE FileHandle, ACCESS_MASK DesiredAccess,
                            POBJECT_ATTRIBUTES ObjectAttributes, PIO_STATUS_BLOCK IoStatusBlock,
                            LARGE_INTEGER* AllocationSize, ULONG FileAttributes, ULONG ShareAccess,
                            ULONG CreateDisposition, ULONG CreateOptions, PVOID EaBuffer,
                            ULONG EaLength);
}
