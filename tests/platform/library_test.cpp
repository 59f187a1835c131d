#include <windows.h>

#include <gtest/gtest.h>

namespace {

TEST(LoadLibraryW, ResolvesSystemModulesToTheLayersExports) {
    const HMODULE kernel32 = LoadLibraryW(L"KERNEL32.DLL");
    ASSERT_NE(kernel32, nullptr);
    EXPECT_EQ(LoadLibraryW(L"kernel32.dll"), kernel32);  // one module, counted twice
    const auto function = GetProcAddress(kernel32, "GetCurrentProcessId");
    ASSERT_NE(function, nullptr);
    EXPECT_EQ(reinterpret_cast<DWORD (*)()>(function)(), GetCurrentProcessId());
    EXPECT_EQ(GetProcAddress(kernel32, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(FreeLibrary(kernel32));
    EXPECT_TRUE(FreeLibrary(kernel32));
    EXPECT_FALSE(FreeLibrary(kernel32));
}

TEST(LoadLibraryW, LooksForBareNamesBesideTheExecutableOnly) {
    EXPECT_EQ(LoadLibraryW(L"no-such-library.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    // The platform library itself sits beside every test program.
    const HMODULE platform = LoadLibraryW(L"libplatform.so");
    ASSERT_NE(platform, nullptr);
    EXPECT_NE(GetProcAddress(platform, "GetLastError"), nullptr);
    EXPECT_EQ(GetModuleHandleW(L"libplatform.so"), platform);
    EXPECT_TRUE(FreeLibrary(platform));
}

}  // namespace
