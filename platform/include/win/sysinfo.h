// Facts about the system: version record, processor, memory, disk, screen and user locale.
// RtlGetVersion, GetNativeSystemInfo and GetProductInfo are reached through GetProcAddress of
// "ntdll.dll" / "kernel32.dll", as a program built for older Windows versions does.
#pragma once

#include "win/types.h"

using NTSTATUS = LONG;
using LCID = DWORD;

#define STATUS_SUCCESS static_cast<NTSTATUS>(0)

#define VER_PLATFORM_WIN32_NT 2
#define VER_NT_WORKSTATION 0x0000001
#define VER_NT_DOMAIN_CONTROLLER 0x0000002
#define VER_NT_SERVER 0x0000003

#define VER_SUITE_ENTERPRISE 0x00000002
#define VER_SUITE_DATACENTER 0x00000080
#define VER_SUITE_PERSONAL 0x00000200
#define VER_SUITE_BLADE 0x00000400
#define VER_SUITE_STORAGE_SERVER 0x00002000
#define VER_SUITE_COMPUTE_SERVER 0x00004000
#define VER_SUITE_WH_SERVER 0x00008000

#define PROCESSOR_ARCHITECTURE_INTEL 0
#define PROCESSOR_ARCHITECTURE_ARM 5
#define PROCESSOR_ARCHITECTURE_IA64 6
#define PROCESSOR_ARCHITECTURE_AMD64 9
#define PROCESSOR_ARCHITECTURE_ARM64 12
#define PROCESSOR_ARCHITECTURE_UNKNOWN 0xffff

#define PRODUCT_UNDEFINED 0x00000000
#define PRODUCT_ULTIMATE 0x00000001
#define PRODUCT_HOME_BASIC 0x00000002
#define PRODUCT_HOME_PREMIUM 0x00000003
#define PRODUCT_ENTERPRISE 0x00000004
#define PRODUCT_BUSINESS 0x00000006
#define PRODUCT_STANDARD_SERVER 0x00000007
#define PRODUCT_DATACENTER_SERVER 0x00000008
#define PRODUCT_SMALLBUSINESS_SERVER 0x00000009
#define PRODUCT_ENTERPRISE_SERVER 0x0000000A
#define PRODUCT_STARTER 0x0000000B
#define PRODUCT_DATACENTER_SERVER_CORE 0x0000000C
#define PRODUCT_STANDARD_SERVER_CORE 0x0000000D
#define PRODUCT_ENTERPRISE_SERVER_CORE 0x0000000E
#define PRODUCT_ENTERPRISE_SERVER_IA64 0x0000000F
#define PRODUCT_WEB_SERVER 0x00000011
#define PRODUCT_CLUSTER_SERVER 0x00000012
#define PRODUCT_SMALLBUSINESS_SERVER_PREMIUM 0x00000019
#define PRODUCT_PROFESSIONAL 0x00000030

#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_SERVERR2 89

struct OSVERSIONINFOEXW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
};
using POSVERSIONINFOEXW = OSVERSIONINFOEXW*;
using LPOSVERSIONINFOEXW = OSVERSIONINFOEXW*;
using RTL_OSVERSIONINFOEXW = OSVERSIONINFOEXW;
using PRTL_OSVERSIONINFOEXW = OSVERSIONINFOEXW*;

struct SYSTEM_INFO {
    union {
        DWORD dwOemId;
        struct {
            WORD wProcessorArchitecture;
            WORD wReserved;
        };
    };
    DWORD dwPageSize;
    LPVOID lpMinimumApplicationAddress;
    LPVOID lpMaximumApplicationAddress;
    DWORD_PTR dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
};
using LPSYSTEM_INFO = SYSTEM_INFO*;

struct MEMORYSTATUSEX {
    DWORD dwLength;
    DWORD dwMemoryLoad;
    DWORDLONG ullTotalPhys;
    DWORDLONG ullAvailPhys;
    DWORDLONG ullTotalPageFile;
    DWORDLONG ullAvailPageFile;
    DWORDLONG ullTotalVirtual;
    DWORDLONG ullAvailVirtual;
    DWORDLONG ullAvailExtendedVirtual;
};
using LPMEMORYSTATUSEX = MEMORYSTATUSEX*;

extern "C" {

// Exported by "ntdll.dll" only while a test has set a version record: there is no Windows
// version to report on this platform.
NTSTATUS WINAPI RtlGetVersion(PRTL_OSVERSIONINFOEXW version);

// The machine's architecture; GetSystemInfo gives the one the process runs as.
void WINAPI GetNativeSystemInfo(LPSYSTEM_INFO info);
void WINAPI GetSystemInfo(LPSYSTEM_INFO info);
BOOL WINAPI GetProductInfo(DWORD os_major, DWORD os_minor, DWORD sp_major, DWORD sp_minor,
                           PDWORD product_type);

// SM_CXSCREEN / SM_CYSCREEN (a 1920 x 1080 primary screen unless a test says otherwise, or
// the engine's front shows the program's window on a real display: platform/screen.h),
// SM_SERVERR2; 0 for every other index.
int WINAPI GetSystemMetrics(int index);

// The virtual figures are the free and total user address space of this process.
BOOL WINAPI GlobalMemoryStatusEx(LPMEMORYSTATUSEX buffer);

// Null directory: the volume of the current directory. Any result pointer may be null.
BOOL WINAPI GetDiskFreeSpaceExW(LPCWSTR directory, PULARGE_INTEGER free_bytes_available_to_caller,
                                PULARGE_INTEGER total_bytes, PULARGE_INTEGER total_free_bytes);

// From the locale environment (LC_ALL, LC_MESSAGES, LANG); 0x0409 for a locale it does not know.
LCID WINAPI GetUserDefaultLCID();
}
