#include <shlobj.h>

#include <gtest/gtest.h>
#include <platform/testing.h>

#include <array>
#include <filesystem>

#include "tests/support/non_ascii_names.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

TEST(SHGetFolderPathW, MapsTheTwoFoldersUnderPlatformRoot) {
    const test_support::TempDir root;
    fs::create_directories(root / "ProgramData");
    fs::create_directories(root / "AppData" / "Roaming");
    const test_support::ScopedEnv env("PLATFORM_ROOT", root.path().string());

    std::array<wchar_t, MAX_PATH> path{};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path.data()), S_OK);
    EXPECT_EQ(fs::path(path.data()), root / "ProgramData");
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, path.data()), S_OK);
    EXPECT_EQ(fs::path(path.data()), root / "AppData" / "Roaming");
}

TEST(SHGetFolderPathW, FailsForAMissingFolderOrAnUnknownCsidl) {
    const test_support::TempDir root;
    const test_support::ScopedEnv env("PLATFORM_ROOT", root.path().string());
    std::array<wchar_t, MAX_PATH> path{};
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path.data()),
              HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(FAILED(SHGetFolderPathW(nullptr, 0x0005, nullptr, 0, path.data())));

    fs::create_directories(root / "ProgramData");
    platform::testing::FailCall("SHGetFolderPathW", ERROR_ACCESS_DENIED, 1);
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path.data()),
              HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path.data()), S_OK);
}

TEST(SHGetFolderPathW, UsesTheMachineFoldersWithoutPlatformRoot) {
    const test_support::TempDir home;
    const test_support::ScopedEnv root("PLATFORM_ROOT", std::nullopt);
    const test_support::ScopedEnv config("XDG_CONFIG_HOME", home.path().string());
    std::array<wchar_t, MAX_PATH> path{};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, path.data()), S_OK);
    EXPECT_EQ(fs::path(path.data()), home.path());
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path.data()), S_OK);
    EXPECT_EQ(fs::path(path.data()), "/var/lib");
}

// A user's folder named outside ASCII is its UTF-8 text; one whose name is not UTF-8 has no
// wide form, so it cannot be given.
TEST(SHGetFolderPathW, FoldersNamedOutsideAscii) {
    const test_support::TempDir home;
    const test_support::ScopedEnv root("PLATFORM_ROOT", std::nullopt);
    for (const auto& name : test_support::kNonAsciiNames) {
        SCOPED_TRACE(std::string(name.bytes));
        fs::create_directories(home / std::string(name.bytes));
        const test_support::ScopedEnv config("XDG_CONFIG_HOME",
                                             (home / std::string(name.bytes)).string());
        std::array<wchar_t, MAX_PATH> path{};
        const HRESULT result = SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, path.data());
        if (name.utf8) {
            ASSERT_EQ(result, S_OK);
            EXPECT_EQ(path.data(), home.path().wstring() + L"/" + std::wstring(name.wide));
        } else {
            EXPECT_EQ(result, HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
        }
    }
}

}  // namespace
