#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>

#include "tests/support/scoped_env.h"

namespace {

TEST(GetEnvironmentVariableW, ReportsSizesAsWindowsDoes) {
    const test_support::ScopedEnv set("TALLORIN_TEST_VALUE", "D\u00E9bug");
    const test_support::ScopedEnv empty("TALLORIN_TEST_EMPTY", "");
    const test_support::ScopedEnv unset("TALLORIN_TEST_UNSET", std::nullopt);

    // The size needed counts the terminator; a copy that fits answers the length without it.
    EXPECT_EQ(GetEnvironmentVariableW(L"TALLORIN_TEST_VALUE", nullptr, 0), 6u);
    std::array<wchar_t, 6> buffer{};
    EXPECT_EQ(GetEnvironmentVariableW(L"TALLORIN_TEST_VALUE", buffer.data(), 6), 5u);
    EXPECT_EQ(std::wstring(buffer.data()), L"D\u00E9bug");
    EXPECT_EQ(GetEnvironmentVariableW(L"TALLORIN_TEST_VALUE", buffer.data(), 5), 6u);

    EXPECT_EQ(GetEnvironmentVariableW(L"TALLORIN_TEST_EMPTY", nullptr, 0), 1u);
    EXPECT_EQ(GetEnvironmentVariableW(L"TALLORIN_TEST_UNSET", nullptr, 0), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
    // Names are compared without regard to case.
    EXPECT_EQ(GetEnvironmentVariableW(L"tallorin_test_value", nullptr, 0), 6u);
}

TEST(Process, NamesTheExecutableAndItsId) {
    std::array<wchar_t, MAX_PATH> path{};
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::filesystem::path(path.data()).filename(), "platform_tests");
    EXPECT_EQ(GetModuleFileNameW(GetModuleHandleW(nullptr), path.data(), MAX_PATH), length);

    std::array<wchar_t, 4> small{};
    EXPECT_EQ(GetModuleFileNameW(nullptr, small.data(), 4), 4u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(small[3], L'\0');
    EXPECT_EQ(std::wstring(small.data()), std::wstring(path.data(), 3));  // the path's start

    EXPECT_GT(GetCurrentProcessId(), 0u);
}

TEST(AllocConsole, FailsForThereAreNoConsolesHere) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(AllocConsole(), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
}

}  // namespace
