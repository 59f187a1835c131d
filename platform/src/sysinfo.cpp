#include "platform/src/sysinfo.h"

#include <intrin.h>
#include <windows.h>

#include <platform/screen.h>
#include <platform/testing.h>

#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
// The header's macro of this name takes five arguments; the intrinsic this layer offers, two.
#undef __cpuid
#endif

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#include "platform/src/fault_injection.h"
#include "platform/src/utf.h"

namespace {

struct SystemState {
    std::mutex mutex;
    std::optional<OSVERSIONINFOEXW> version;
    std::optional<WORD> native_architecture;
    std::optional<WORD> process_architecture;
    DWORD product_type = PRODUCT_UNDEFINED;
    std::map<int, int> metrics;
    std::optional<std::pair<int, int>> screen;  // a real display's, when a front shows on one
    std::optional<LCID> lcid;
};

SystemState& State() {
    static SystemState state;
    return state;
}

const platform::detail::ResetRegistration kResetSystem([] {
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    state.version.reset();
    state.native_architecture.reset();
    state.process_architecture.reset();
    state.product_type = PRODUCT_UNDEFINED;
    state.metrics.clear();
    state.screen.reset();
    state.lcid.reset();
});

WORD MachineArchitecture() {
    utsname names{};
    if (::uname(&names) != 0) {
        return PROCESSOR_ARCHITECTURE_UNKNOWN;
    }
    const std::string_view machine(names.machine);
    if (machine == "x86_64") {
        return PROCESSOR_ARCHITECTURE_AMD64;
    }
    if (machine == "aarch64" || machine == "arm64") {
        return PROCESSOR_ARCHITECTURE_ARM64;
    }
    if (machine.substr(0, 3) == "arm") {
        return PROCESSOR_ARCHITECTURE_ARM;
    }
    if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86") {
        return PROCESSOR_ARCHITECTURE_INTEL;
    }
    return PROCESSOR_ARCHITECTURE_UNKNOWN;
}

void FillSystemInfo(LPSYSTEM_INFO info, WORD architecture) {
    *info = SYSTEM_INFO{};
    info->wProcessorArchitecture = architecture;
    const long page_size = ::sysconf(_SC_PAGESIZE);
    info->dwPageSize = static_cast<DWORD>(page_size);
    info->dwAllocationGranularity = 65536;
    info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(page_size));
    info->lpMaximumApplicationAddress =
        reinterpret_cast<LPVOID>((static_cast<ULONG_PTR>(1) << (sizeof(void*) == 8 ? 47 : 31)) - 1);
    const long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
    info->dwNumberOfProcessors = processors > 0 ? static_cast<DWORD>(processors) : 1;
    info->dwActiveProcessorMask =
        info->dwNumberOfProcessors >= sizeof(DWORD_PTR) * 8
            ? ~static_cast<DWORD_PTR>(0)
            : (static_cast<DWORD_PTR>(1) << info->dwNumberOfProcessors) - 1;
}

// The user address space and how much of it is mapped, from the kernel's list of mappings.
struct AddressSpace {
    ULONGLONG total = 0;
    ULONGLONG used = 0;
};

AddressSpace ProcessAddressSpace() {
    AddressSpace space;
    space.total = sizeof(void*) == 8 ? (1ULL << 47) : (1ULL << 31);
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur < space.total) {
        space.total = limit.rlim_cur;
    }
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream fields(line);
        ULONGLONG start = 0;
        ULONGLONG end = 0;
        char dash = 0;
        fields >> std::hex >> start >> dash >> end;
        if (fields && end > start && end <= (1ULL << 47)) {
            space.used += end - start;
        }
    }
    if (space.used > space.total) {
        space.used = space.total;
    }
    return space;
}

// Language_territory of the locale environment to the Windows locale identifier.
const std::map<std::string_view, LCID> kLocaleIds = {
    {"de_DE", 0x0407}, {"de_CH", 0x0807}, {"de_AT", 0x0C07}, {"de_LU", 0x1007}, {"de_LI", 0x1407},
    {"en_US", 0x0409}, {"en_GB", 0x0809}, {"en_AU", 0x0C09}, {"en_CA", 0x1009}, {"es_ES", 0x0C0A},
    {"es_MX", 0x080A}, {"es_GT", 0x100A}, {"es_CR", 0x140A}, {"es_PA", 0x180A}, {"es_DO", 0x1C0A},
    {"es_VE", 0x200A}, {"es_CO", 0x240A}, {"es_PE", 0x280A}, {"es_AR", 0x2C0A}, {"es_EC", 0x300A},
    {"es_CL", 0x340A}, {"es_UY", 0x380A}, {"es_PY", 0x3C0A}, {"es_BO", 0x400A}, {"es_SV", 0x440A},
    {"es_HN", 0x480A}, {"es_NI", 0x4C0A}, {"es_PR", 0x500A}, {"fr_FR", 0x040C}, {"fr_BE", 0x080C},
    {"fr_CA", 0x0C0C}, {"fr_CH", 0x100C}, {"fr_LU", 0x140C}, {"fr_MC", 0x180C}, {"fr_RE", 0x200C},
    {"fr_CD", 0x240C}, {"fr_SN", 0x280C}, {"fr_CM", 0x2C0C}, {"fr_CI", 0x300C}, {"fr_ML", 0x340C},
    {"fr_MA", 0x380C}, {"fr_HT", 0x3C0C}, {"fy_NL", 0x0462}, {"it_IT", 0x0410}, {"it_CH", 0x0810},
    {"ja_JP", 0x0411}, {"pt_BR", 0x0416}, {"pt_PT", 0x0816}, {"ru_RU", 0x0419}, {"ru_MD", 0x0819},
};

constexpr LCID kEnglishUnitedStates = 0x0409;

LCID LocaleIdFromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') {
            continue;
        }
        std::string_view locale(value);
        locale = locale.substr(0, locale.find_first_of(".@"));
        const auto found = kLocaleIds.find(locale);
        return found == kLocaleIds.end() ? kEnglishUnitedStates : found->second;
    }
    return kEnglishUnitedStates;
}

}  // namespace

namespace platform::detail {

bool HasVersionRecord() {
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    return state.version.has_value();
}

}  // namespace platform::detail

namespace platform::testing {

void SetVersionRecord(const OSVERSIONINFOEXW& record) {
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    state.version = record;
}

void ClearVersionRecord() {
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    state.version.reset();
}

void SetProcessorArchitecture(WORD native, WORD process) {
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    state.native_architecture = native;
    state.process_architecture = process;
}

void SetProductType(DWORD product_type) {
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    state.product_type = product_type;
}

void SetSystemMetric(int index, int value) {
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    state.metrics[index] = value;
}

void SetUserDefaultLCID(LCID lcid) {
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    state.lcid = lcid;
}

}  // namespace platform::testing

namespace platform {

void SetPrimaryScreenSize(int width, int height) {
    if (width <= 0 || height <= 0) {
        return;
    }
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    state.screen = std::make_pair(width, height);
}

}  // namespace platform

using platform::detail::TakeInjectedFailure;

extern "C" {

NTSTATUS WINAPI RtlGetVersion(PRTL_OSVERSIONINFOEXW version) {
    if (const auto error = TakeInjectedFailure("RtlGetVersion")) {
        return static_cast<NTSTATUS>(0xC0000001);  // STATUS_UNSUCCESSFUL
    }
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    if (version == nullptr || !state.version) {
        return static_cast<NTSTATUS>(0xC000000D);  // STATUS_INVALID_PARAMETER
    }
    // The caller's size field says how much of the record it has room for.
    const DWORD size = version->dwOSVersionInfoSize;
    if (size < offsetof(OSVERSIONINFOEXW, wServicePackMajor)) {
        return static_cast<NTSTATUS>(0xC000000D);
    }
    std::memcpy(version, &*state.version, std::min<std::size_t>(size, sizeof(OSVERSIONINFOEXW)));
    version->dwOSVersionInfoSize = size;
    return STATUS_SUCCESS;
}

void WINAPI GetNativeSystemInfo(LPSYSTEM_INFO info) {
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    FillSystemInfo(info, state.native_architecture.value_or(MachineArchitecture()));
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO info) {
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    FillSystemInfo(info, state.process_architecture.value_or(MachineArchitecture()));
}

BOOL WINAPI GetProductInfo(DWORD /*os_major*/, DWORD /*os_minor*/, DWORD /*sp_major*/,
                           DWORD /*sp_minor*/, PDWORD product_type) {
    if (TakeInjectedFailure("GetProductInfo") || product_type == nullptr) {
        return FALSE;
    }
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    *product_type = state.product_type;
    return TRUE;
}

int WINAPI GetSystemMetrics(int index) {
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    if (const auto found = state.metrics.find(index); found != state.metrics.end()) {
        return found->second;
    }
    switch (index) {
        case SM_CXSCREEN:
            return state.screen ? state.screen->first : 1920;
        case SM_CYSCREEN:
            return state.screen ? state.screen->second : 1080;
        default:
            return 0;
    }
}

BOOL WINAPI GlobalMemoryStatusEx(LPMEMORYSTATUSEX buffer) {
    if (TakeInjectedFailure("GlobalMemoryStatusEx")) {
        return FALSE;
    }
    if (buffer == nullptr || buffer->dwLength != sizeof(MEMORYSTATUSEX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct sysinfo machine {};
    if (::sysinfo(&machine) != 0) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    const ULONGLONG unit = machine.mem_unit == 0 ? 1 : machine.mem_unit;
    buffer->ullTotalPhys = machine.totalram * unit;
    buffer->ullAvailPhys = machine.freeram * unit;
    buffer->ullTotalPageFile = (machine.totalram + machine.totalswap) * unit;
    buffer->ullAvailPageFile = (machine.freeram + machine.freeswap) * unit;
    buffer->dwMemoryLoad =
        buffer->ullTotalPhys == 0
            ? 0
            : static_cast<DWORD>(100 - buffer->ullAvailPhys * 100 / buffer->ullTotalPhys);
    const auto space = ProcessAddressSpace();
    buffer->ullTotalVirtual = space.total;
    buffer->ullAvailVirtual = space.total - space.used;
    buffer->ullAvailExtendedVirtual = 0;
    return TRUE;
}

BOOL WINAPI GetDiskFreeSpaceExW(LPCWSTR directory, PULARGE_INTEGER free_bytes_available_to_caller,
                                PULARGE_INTEGER total_bytes, PULARGE_INTEGER total_free_bytes) {
    if (TakeInjectedFailure("GetDiskFreeSpaceExW")) {
        return FALSE;
    }
    const std::string path =
        directory == nullptr ? std::string(".") : platform::detail::WideToUtf8(directory);
    struct statvfs volume {};
    if (::statvfs(path.c_str(), &volume) != 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    const ULONGLONG unit = volume.f_frsize;
    if (free_bytes_available_to_caller != nullptr) {
        free_bytes_available_to_caller->QuadPart = volume.f_bavail * unit;
    }
    if (total_bytes != nullptr) {
        total_bytes->QuadPart = volume.f_blocks * unit;
    }
    if (total_free_bytes != nullptr) {
        total_free_bytes->QuadPart = volume.f_bfree * unit;
    }
    return TRUE;
}

LCID WINAPI GetUserDefaultLCID() {
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    return state.lcid.value_or(LocaleIdFromEnvironment());
}

void __cpuid(int cpu_info[4], int function_id) {
    unsigned int registers[4] = {0, 0, 0, 0};
#if defined(__x86_64__) || defined(__i386__)
    __cpuid_count(static_cast<unsigned int>(function_id), 0, registers[0], registers[1],
                  registers[2], registers[3]);
#endif
    std::memcpy(cpu_info, registers, sizeof registers);
}
}
