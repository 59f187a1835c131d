#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Runs a copy of the probe in a fresh folder, with `library` beside it as sciter.dll.
test_support::ChildResult RunProbeWith(const std::optional<fs::path>& library) {
    const test_support::TempDir folder;
    const fs::path loading = test_support::BinaryFolder() / "engine_loading";
    fs::copy_file(loading / "sapi_probe", folder / "sapi_probe");
    if (library) {
        fs::copy_file(*library, folder / "sciter.dll");
    }
    test_support::ChildOptions options;
    // The copy still needs the platform library from the build folder.
    options.environment["LD_LIBRARY_PATH"] = test_support::BinaryFolder().string();
    return test_support::RunChild(folder / "sapi_probe", options);
}

TEST(SapiLoading, ExitsWithMinusOneWithoutAnEngineBesideTheProgram) {
    const fs::path loading = test_support::BinaryFolder() / "engine_loading";
    struct Case {
        const char* name;
        std::optional<fs::path> library;
    };
    const Case cases[] = {
        {"no sciter.dll", std::nullopt},
        {"no SciterAPI export", loading / "libengine_without_export.so"},
        {"export gives no table", loading / "libengine_with_null_table.so"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = RunProbeWith(c.library);
        EXPECT_FALSE(result.signalled);
        EXPECT_EQ(result.exit_code, 255);  // exit(-1)
        EXPECT_EQ(result.output, "");      // nothing shown
    }
}

TEST(SapiLoading, FindsTheStandInEngineBesideTheProgram) {
    const auto result = RunProbeWith(test_support::BinaryFolder() / "sciter.dll");
    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_EQ(result.output, "table\n");
}

}  // namespace
