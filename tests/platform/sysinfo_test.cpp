#include <intrin.h>
#include <windows.h>

#include <platform/screen.h>
#include <platform/testing.h>

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>
#include <fstream>
#include <string>

#include "tests/support/scoped_env.h"

namespace {

class SystemFacts : public ::testing::Test {
protected:
    ~SystemFacts() override { platform::testing::Reset(); }
};

TEST_F(SystemFacts, RtlGetVersionExistsOnlyWithAVersionRecord) {
    const HMODULE ntdll = LoadLibraryW(L"ntdll.dll");
    ASSERT_NE(ntdll, nullptr);
    EXPECT_EQ(GetProcAddress(ntdll, "RtlGetVersion"), nullptr);

    OSVERSIONINFOEXW record{};
    record.dwMajorVersion = 6;
    record.dwMinorVersion = 1;
    record.dwBuildNumber = 7601;
    record.dwPlatformId = VER_PLATFORM_WIN32_NT;
    std::wcscpy(record.szCSDVersion, L"Service Pack 1");
    platform::testing::SetVersionRecord(record);
    using RtlGetVersionFunction = NTSTATUS(WINAPI*)(PRTL_OSVERSIONINFOEXW);
    const auto rtl_get_version =
        reinterpret_cast<RtlGetVersionFunction>(GetProcAddress(ntdll, "RtlGetVersion"));
    ASSERT_NE(rtl_get_version, nullptr);
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    EXPECT_EQ(rtl_get_version(&version), STATUS_SUCCESS);
    EXPECT_EQ(version.dwOSVersionInfoSize, sizeof(version));
    EXPECT_EQ(version.dwBuildNumber, 7601u);
    EXPECT_STREQ(version.szCSDVersion, L"Service Pack 1");

    platform::testing::Reset();
    EXPECT_EQ(GetProcAddress(ntdll, "RtlGetVersion"), nullptr);
    EXPECT_TRUE(FreeLibrary(ntdll));
}

TEST_F(SystemFacts, Kernel32IsThereWithoutLoadingIt) {
    const HMODULE kernel32 = GetModuleHandleW(L"KERNEL32.dll");
    ASSERT_NE(kernel32, nullptr);
    EXPECT_EQ(GetModuleHandleW(L"kernel32.dll"), kernel32);
    EXPECT_EQ(LoadLibraryW(L"kernel32.dll"), kernel32);
    EXPECT_TRUE(FreeLibrary(kernel32));
    using GetNativeSystemInfoFunction = void(WINAPI*)(LPSYSTEM_INFO);
    const auto get_native_system_info = reinterpret_cast<GetNativeSystemInfoFunction>(
        GetProcAddress(kernel32, "GetNativeSystemInfo"));
    ASSERT_NE(get_native_system_info, nullptr);  // still loaded after the FreeLibrary
    EXPECT_NE(GetProcAddress(kernel32, "GetProductInfo"), nullptr);

    SYSTEM_INFO native{};
    get_native_system_info(&native);
#if defined(__x86_64__)
    EXPECT_EQ(native.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
#endif
    EXPECT_GT(native.dwNumberOfProcessors, 0u);
    platform::testing::SetProcessorArchitecture(PROCESSOR_ARCHITECTURE_AMD64,
                                                PROCESSOR_ARCHITECTURE_INTEL);
    SYSTEM_INFO process{};
    GetSystemInfo(&process);
    EXPECT_EQ(process.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_INTEL);
}

TEST_F(SystemFacts, ScreenIsFullHdUntilATestSaysOtherwise) {
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1920);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 1080);
    EXPECT_EQ(GetSystemMetrics(SM_SERVERR2), 0);
    platform::testing::SetSystemMetric(SM_CXSCREEN, 1280);
    platform::testing::SetSystemMetric(SM_SERVERR2, 1);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1280);
    EXPECT_EQ(GetSystemMetrics(SM_SERVERR2), 1);
    platform::testing::Reset();
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1920);
}

TEST_F(SystemFacts, ScreenIsTheRealDisplaysOnceTheEngineFrontTellsItsSize) {
    platform::SetPrimaryScreenSize(0, 800);  // no size: ignored
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1920);
    platform::SetPrimaryScreenSize(1024, 768);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
    platform::testing::SetSystemMetric(SM_CYSCREEN, 600);  // a test's word wins
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 600);
    platform::testing::Reset();
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1920);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 1080);
}

TEST_F(SystemFacts, LocaleIdentifierComesFromTheLocaleEnvironment) {
    struct Case {
        const char* lc_all;
        const char* lang;
        LCID lcid;
    };
    constexpr Case kCases[] = {
        {nullptr, "de_CH.UTF-8", 0x0807},
        {nullptr, "fr_CA", 0x0C0C},
        {"pt_BR.UTF-8", "de_DE.UTF-8", 0x0416},  // LC_ALL wins
        {nullptr, "xx_YY.UTF-8", 0x0409},
        {nullptr, "C.UTF-8", 0x0409},
        {nullptr, nullptr, 0x0409},
    };
    const test_support::ScopedEnv messages("LC_MESSAGES", std::nullopt);
    for (std::size_t index = 0; index < std::size(kCases); ++index) {
        SCOPED_TRACE(index);
        const auto& item = kCases[index];
        const test_support::ScopedEnv lc_all(
            "LC_ALL", item.lc_all ? std::optional<std::string>(item.lc_all) : std::nullopt);
        const test_support::ScopedEnv lang(
            "LANG", item.lang ? std::optional<std::string>(item.lang) : std::nullopt);
        EXPECT_EQ(GetUserDefaultLCID(), item.lcid);
    }
    platform::testing::SetUserDefaultLCID(0x0411);
    EXPECT_EQ(GetUserDefaultLCID(), 0x0411u);
}

TEST_F(SystemFacts, FreeAddressSpaceShrinksWithWhatTheProcessMaps) {
    MEMORYSTATUSEX before{};
    before.dwLength = 0;
    EXPECT_FALSE(GlobalMemoryStatusEx(&before));  // the length must be set
    before.dwLength = sizeof(before);
    ASSERT_TRUE(GlobalMemoryStatusEx(&before));
    EXPECT_GT(before.ullTotalPhys, 0u);
    EXPECT_LE(before.ullAvailVirtual, before.ullTotalVirtual);

    constexpr std::size_t kSize = std::size_t{1} << 32;  // reserved, never touched
    void* const block = ::mmap(nullptr, kSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(block, MAP_FAILED);
    MEMORYSTATUSEX after{};
    after.dwLength = sizeof(after);
    ASSERT_TRUE(GlobalMemoryStatusEx(&after));
    ::munmap(block, kSize);
    EXPECT_GE(before.ullAvailVirtual - after.ullAvailVirtual, kSize);
}

TEST_F(SystemFacts, DiskSpaceOfAFolderOrItsFailure) {
    ULARGE_INTEGER free_to_caller{};
    ULARGE_INTEGER total{};
    ULARGE_INTEGER total_free{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(nullptr, &free_to_caller, &total, &total_free));
    EXPECT_GT(total.QuadPart, 0u);
    EXPECT_LE(free_to_caller.QuadPart, total_free.QuadPart);
    EXPECT_LE(total_free.QuadPart, total.QuadPart);
    EXPECT_TRUE(GetDiskFreeSpaceExW(L"/", &free_to_caller, nullptr, nullptr));
    EXPECT_FALSE(GetDiskFreeSpaceExW(L"/no/such/folder", &free_to_caller, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(Cpuid, GivesTheProcessorsVendor) {
    int registers[4] = {};
    __cpuid(registers, 0);
    char vendor[13] = {};
    std::memcpy(vendor, &registers[1], 4);  // EBX, EDX, ECX
    std::memcpy(vendor + 4, &registers[3], 4);
    std::memcpy(vendor + 8, &registers[2], 4);
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line) && line.rfind("vendor_id", 0) != 0) {
    }
    EXPECT_NE(line.find(vendor), std::string::npos) << line;
    EXPECT_GT(registers[0], 0);
}

}  // namespace
