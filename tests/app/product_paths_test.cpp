#include "src/product_paths.h"

#include <gtest/gtest.h>
#include <platform/testing.h>

#include <filesystem>
#include <stdexcept>

#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class ProductPaths : public ::testing::Test {
protected:
    ProductPaths() {
        fs::create_directories(root_ / "ProgramData");
        fs::create_directories(root_ / "AppData" / "Roaming");
    }

    fs::path DataFolder() const {
        return root_ / "ProgramData" / "Quorbelin" / "Velmora Antivirus";
    }

    test_support::TempDir root_;
    test_support::ScopedEnv env_{"PLATFORM_ROOT", root_.path().string()};
};

TEST_F(ProductPaths, NamesEveryPlaceUnderTheSpecialFolders) {
    EXPECT_EQ(GetProductDataFolder(), DataFolder());
    EXPECT_EQ(fs::path(GetLogsFolder()), DataFolder() / "logs");
    EXPECT_EQ(GetCrashInfoFolder(), DataFolder() / "crash_info");
    EXPECT_EQ(fs::path(GetLanguageFilePath()), root_ / "AppData" / "Roaming" / "Quorbelin" /
                                                   "Velmora Antivirus" / "settings" / "language");
    // Nothing is created by asking.
    EXPECT_FALSE(fs::exists(root_ / "ProgramData" / "Quorbelin"));
}

TEST_F(ProductPaths, MarkersCountAsFilesOrFolders) {
    EXPECT_FALSE(IsDevMode());
    EXPECT_FALSE(IsPeerVerificationDisabled());

    fs::create_directories(DataFolder() / "dev-mode");  // an empty folder is a marker too
    EXPECT_TRUE(IsDevMode());

    test_support::WriteFile(DataFolder() / "verify-peer", "");  // not in "settings": no effect
    EXPECT_FALSE(IsPeerVerificationDisabled());
    test_support::WriteFile(DataFolder() / "settings" / "verify-peer", "ignored content");
    EXPECT_TRUE(IsPeerVerificationDisabled());
}

TEST_F(ProductPaths, AFailedSpecialFolderNamesTheCsidl) {
    fs::remove(root_ / "ProgramData");
    fs::remove(root_ / "AppData" / "Roaming");
    const auto message = [](auto call) {
        try {
            call();
        } catch (const std::runtime_error& error) {
            return std::string(error.what());
        }
        return std::string("no exception");
    };
    // The system's text for the result, as Windows gives it, between the two parts.
    const std::string missing =
        "failed to get special folder path. error=The system cannot find "
        "the path specified.. csidl=";
    EXPECT_EQ(message([] { GetProductDataFolder(); }), missing + "35");
    EXPECT_EQ(message([] { GetLogsFolder(); }), missing + "35");
    EXPECT_EQ(message([] { GetLanguageFilePath(); }), missing + "26");
    // The marker test passes the failure on too.
    EXPECT_EQ(message([] { IsDevMode(); }), missing + "35");

    platform::testing::FailCall("SHGetFolderPathW", ERROR_ACCESS_DENIED, 1);
    EXPECT_EQ(message([] { GetLanguageFilePath(); }),
              "failed to get special folder path. error=Access is denied.. csidl=26");
}

TEST(BuildProductIdentity, JoinsMakerProductAndTheBuildsDottedVersion) {
    // The build's version, four numbers, written once in the top CMakeLists.txt.
    EXPECT_EQ(BuildProductIdentity(),
              std::string("Quorbelin-Velmora Antivirus-") + TALLORIN_PROJECT_VERSION);
}

}  // namespace
