#include "common/path_conversion.h"

#include <gtest/gtest.h>
#include <platform/testing.h>

#include <filesystem>
#include <string>

#include "tests/support/non_ascii_names.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Real files named by the table, reached through the wide text of their names and back.
TEST(PathConversion, FileNamesAreTheirUtf8Bytes) {
    const test_support::TempDir dir;
    const std::wstring folder = PathToWide(dir.path());
    for (const auto& name : test_support::kNonAsciiNames) {
        SCOPED_TRACE(std::string(name.bytes));
        const fs::path file = dir / std::string(name.bytes);
        test_support::WriteFile(file, "x");
        const std::wstring wide = PathToWide(file);

        EXPECT_EQ(PathToWide(file.filename()), name.wide);
        EXPECT_EQ(wide, folder + L"/" + std::wstring(name.wide));
        EXPECT_EQ(WideToPath(wide) == file,
                  name.utf8);  // a name that is not UTF-8 has no wide form
        if (name.utf8) {
            EXPECT_EQ(WideToPath(std::wstring(name.wide)).native(), name.bytes);
            EXPECT_TRUE(fs::is_regular_file(WideToPath(wide)));
        }
    }
}

TEST(PathConversion, AFailedConversionGivesAnEmptyResult) {
    platform::testing::FailCall("WideCharToMultiByte", ERROR_NO_UNICODE_TRANSLATION, 1);
    EXPECT_TRUE(WideToPath(L"/tmp/d\u00E9j\u00E0").empty());
    platform::testing::FailCall("MultiByteToWideChar", ERROR_NO_UNICODE_TRANSLATION, 1);
    EXPECT_EQ(PathToWide("/tmp/d\xC3\xA9j\xC3\xA0"), L"");
    platform::testing::Reset();
}

}  // namespace
