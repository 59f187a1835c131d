#include "report/system_info_helper.h"

#include <intrin.h>
#include <windows.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "common/module_path.h"

namespace SystemInfoHelper {
namespace {

using RtlGetVersionFunction = NTSTATUS(WINAPI*)(PRTL_OSVERSIONINFOEXW);
using GetNativeSystemInfoFunction = void(WINAPI*)(LPSYSTEM_INFO);
using GetProductInfoFunction = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);

bool IsWorkstation(const OSVERSIONINFOEXW& version) {
    return version.wProductType == VER_NT_WORKSTATION;
}

bool HasSuite(const OSVERSIONINFOEXW& version, WORD suite) {
    return (version.wSuiteMask & suite) != 0;
}

// The edition of a version 6 system, by its product type.
const wchar_t* Version6Edition(DWORD product_type) {
    switch (product_type) {
        case PRODUCT_ULTIMATE:
            return L"Ultimate Edition";
        case PRODUCT_HOME_BASIC:
            return L"Home Basic Edition";
        case PRODUCT_HOME_PREMIUM:
            return L"Home Premium Edition";
        case PRODUCT_ENTERPRISE:
        case PRODUCT_ENTERPRISE_SERVER:
            return L"Enterprise Edition";
        case PRODUCT_BUSINESS:
            return L"Business Edition";
        case PRODUCT_STANDARD_SERVER:
            return L"Standard Edition";
        case PRODUCT_DATACENTER_SERVER:
            return L"Datacenter Edition";
        case PRODUCT_SMALLBUSINESS_SERVER:
            return L"Small Business Server";
        case PRODUCT_STARTER:
            return L"Starter Edition";
        case PRODUCT_DATACENTER_SERVER_CORE:
            return L"Datacenter Edition (core installation)";
        case PRODUCT_STANDARD_SERVER_CORE:
            return L"Standard Edition (core installation)";
        case PRODUCT_ENTERPRISE_SERVER_CORE:
            return L"Enterprise Edition (core installation)";
        case PRODUCT_ENTERPRISE_SERVER_IA64:
            return L"Enterprise Edition for Itanium-based Systems";
        case PRODUCT_WEB_SERVER:
            return L"Web Server Edition";
        case PRODUCT_CLUSTER_SERVER:
            return L"Cluster Server Edition";
        case PRODUCT_SMALLBUSINESS_SERVER_PREMIUM:
            return L"Small Business Server Premium Edition";
        default:
            return L"";
    }
}

std::wstring Version6Name(const OSVERSIONINFOEXW& version, HMODULE kernel32) {
    std::wstring text;
    const bool workstation = IsWorkstation(version);
    switch (version.dwMinorVersion) {
        case 0:
            text = workstation ? L"Windows Vista " : L"Windows Server 2008 ";
            break;
        case 1:
            text = workstation ? L"Windows 7 " : L"Windows Server 2008 R2 ";
            break;
        case 2:
        case 3:
            text = workstation ? L"Windows 8 " : L"Windows Server 2012 ";
            break;
        default:
            break;
    }
    // Present on every version 6 system.
    const auto get_product_info =
        reinterpret_cast<GetProductInfoFunction>(GetProcAddress(kernel32, "GetProductInfo"));
    DWORD product_type = PRODUCT_UNDEFINED;
    get_product_info(version.dwMajorVersion, version.dwMinorVersion, 0, 0, &product_type);
    return text + Version6Edition(product_type);
}

std::wstring Server2003Edition(const OSVERSIONINFOEXW& version, WORD architecture) {
    if (architecture == PROCESSOR_ARCHITECTURE_IA64) {
        if (HasSuite(version, VER_SUITE_DATACENTER))
            return L"Datacenter Edition for Itanium-based Systems";
        if (HasSuite(version, VER_SUITE_ENTERPRISE))
            return L"Enterprise Edition for Itanium-based Systems";
        return L"";
    }
    if (architecture == PROCESSOR_ARCHITECTURE_AMD64) {
        if (HasSuite(version, VER_SUITE_DATACENTER)) return L"Datacenter x64 Edition";
        if (HasSuite(version, VER_SUITE_ENTERPRISE)) return L"Enterprise x64 Edition";
        return L"Standard x64 Edition";
    }
    if (HasSuite(version, VER_SUITE_COMPUTE_SERVER)) return L"Compute Cluster Edition";
    if (HasSuite(version, VER_SUITE_DATACENTER)) return L"Datacenter Edition";
    if (HasSuite(version, VER_SUITE_ENTERPRISE)) return L"Enterprise Edition";
    if (HasSuite(version, VER_SUITE_BLADE)) return L"Web Edition";
    return L"Standard Edition";
}

std::wstring Version5Name(const OSVERSIONINFOEXW& version, WORD architecture) {
    const bool workstation = IsWorkstation(version);
    switch (version.dwMinorVersion) {
        case 2: {
            std::wstring text;
            if (GetSystemMetrics(SM_SERVERR2) != 0) {
                text = L"Windows Server 2003 R2, ";
            } else if (version.wSuiteMask == VER_SUITE_STORAGE_SERVER) {
                text = L"Windows Storage Server 2003";
            } else if (version.wSuiteMask == VER_SUITE_WH_SERVER) {
                text = L"Windows Home Server";
            } else if (workstation && architecture == PROCESSOR_ARCHITECTURE_AMD64) {
                text = L"Windows XP Professional x64 Edition";
            } else {
                text = L"Windows Server 2003, ";
            }
            return workstation ? text : text + Server2003Edition(version, architecture);
        }
        case 1:
            return std::wstring(L"Windows XP ") +
                   (HasSuite(version, VER_SUITE_PERSONAL) ? L"Home Edition" : L"Professional");
        case 0:
            if (workstation) {
                return L"Windows 2000 Professional";
            }
            if (HasSuite(version, VER_SUITE_DATACENTER)) return L"Windows 2000 Datacenter Server";
            if (HasSuite(version, VER_SUITE_ENTERPRISE)) return L"Windows 2000 Advanced Server";
            return L"Windows 2000 Server";
        default:
            return L"";
    }
}

}  // namespace

std::wstring GetWindowsVersion() {
    const HMODULE ntdll = LoadLibraryW(L"ntdll.dll");
    if (ntdll == nullptr) {
        return L"";
    }
    // RtlGetVersion tells the truth where the documented call answers by the manifest.
    const auto rtl_get_version =
        reinterpret_cast<RtlGetVersionFunction>(GetProcAddress(ntdll, "RtlGetVersion"));
    if (rtl_get_version == nullptr) {
        FreeLibrary(ntdll);
        return L"";
    }
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    rtl_get_version(&version);
    FreeLibrary(ntdll);

    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    SYSTEM_INFO system_info{};
    if (const auto get_native_system_info = reinterpret_cast<GetNativeSystemInfoFunction>(
            GetProcAddress(kernel32, "GetNativeSystemInfo"))) {
        get_native_system_info(&system_info);
    } else {
        GetSystemInfo(&system_info);
    }
    const WORD architecture = system_info.wProcessorArchitecture;

    if (version.dwPlatformId != VER_PLATFORM_WIN32_NT || version.dwMajorVersion < 5) {
        return L"Unsupported operation system";
    }
    std::wstring text = L"Microsoft ";
    const bool workstation = IsWorkstation(version);
    switch (version.dwMajorVersion) {
        case 10:
            text += workstation ? L"Windows 10 " : L"Windows Server 2016 ";
            break;
        case 6:
            text += Version6Name(version, kernel32);
            break;
        case 5:
            text += Version5Name(version, architecture);
            break;
        default:
            break;
    }
    if (version.szCSDVersion[0] != L'\0') {
        text += L" ";
        text += version.szCSDVersion;
    }
    text += L" (build " + std::to_wstring(version.dwBuildNumber) + L")";
    if (version.dwMajorVersion >= 6) {
        if (architecture == PROCESSOR_ARCHITECTURE_AMD64) {
            text += L", 64-bit";
        } else if (architecture == PROCESSOR_ARCHITECTURE_INTEL) {
            text += L", 32-bit";
        }
    }
    return text;
}

std::wstring GetCpuName() {
    std::array<int, 4> registers{};
    __cpuid(registers.data(), static_cast<int>(0x80000000));
    const auto highest_leaf = static_cast<unsigned int>(registers[0]);
    char brand[64] = {};
    for (unsigned int index = 0; index < 3; ++index) {
        const unsigned int leaf = 0x80000002 + index;
        if (leaf > highest_leaf) {
            break;
        }
        __cpuid(registers.data(), static_cast<int>(leaf));
        std::memcpy(brand + 16 * index, registers.data(), sizeof(registers));
    }
    wchar_t wide[65] = {};
    if (std::mbstowcs(wide, brand, 64) == static_cast<std::size_t>(-1)) {
        return L"";
    }
    return wide;
}

std::int32_t GetAvailableMemoryMb() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof(status);
    GlobalMemoryStatusEx(&status);
    return static_cast<std::int32_t>(status.ullAvailVirtual >> 20);
}

std::wstring GetInstalledPath() {
    std::wstring path;
    try {
        path = ModuleFileName();  // whole, however deep the program is installed
    } catch (const std::runtime_error&) {
        return {};
    }
    const auto separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(0, separator);
}

std::int32_t GetAvailableDiskSpaceGb() {
    ULARGE_INTEGER free_to_caller{};
    GetDiskFreeSpaceExW(nullptr, &free_to_caller, nullptr, nullptr);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(free_to_caller.QuadPart >> 30));
}

}  // namespace SystemInfoHelper
