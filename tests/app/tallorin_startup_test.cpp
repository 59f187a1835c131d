// The real executable, started as the product starts it.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <vector>

#include "child_process.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;

class TallorinStartup : public ::testing::Test {
protected:
    TallorinStartup() {
        fs::create_directories(root_ / "ProgramData");
        fs::create_directories(root_ / "AppData" / "Roaming");
    }

    test_support::ChildResult Run(std::vector<std::string> arguments, const char* level = "debug") {
        test_support::ChildOptions options;
        options.arguments = std::move(arguments);
        options.environment["PLATFORM_ROOT"] = root_.path().string();
        options.environment["VELMORA_LOG_LEVEL"] = level;
        return test_support::RunChild(program_, options);
    }

    std::vector<fs::path> LogFiles() const {
        std::vector<fs::path> files;
        const fs::path logs = root_ / "ProgramData" / "Quorbelin" / "Velmora Antivirus" / "logs";
        if (fs::exists(logs)) {
            for (const auto& entry : fs::directory_iterator(logs)) {
                files.push_back(entry.path());
            }
        }
        return files;
    }

    std::string OnlyLog() const {
        const auto files = LogFiles();
        EXPECT_EQ(files.size(), 1u);
        return files.empty() ? std::string() : test_support::ReadFile(files[0]);
    }

    test_support::TempDir root_;
    fs::path language_file_ =
        root_ / "AppData" / "Roaming" / "Quorbelin" / "Velmora Antivirus" / "settings" / "language";
    fs::path program_ = test_support::BinaryFolder() / "tallorin";
};

TEST_F(TallorinStartup, FirstRecordIsTheCommandLineAndVersion) {
    const auto result = Run({"--crash-uuid", "X", "--email", "a@b.c"});
    EXPECT_EQ(result.exit_code, 0) << result.output;
    const auto files = LogFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files[0].filename().string(),
                                 std::regex(R"(\d{4}\.\d\d\.\d\d_\d\d\.\d\d\.\d\d_tallorin_pid=\d+\.txt)")));

    const std::string content = test_support::ReadFile(files[0]);
    const std::string first_line = content.substr(0, content.find('\n'));
    const std::regex shape(R"(\[\d\d/\d\d/\d\d \d\d:\d\d:\d\d \d{3}\] \[debug\] \[\d+\] )"
                           R"(\[tallorin:main\.cpp:\d+\]\[uimain\]: )"
                           R"(cmd=(\S+) --crash-uuid X --email a@b\.c\. version=14,3,43577,3505)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(first_line, match, shape)) << first_line;
    EXPECT_EQ(fs::path(match[1].str()), program_);
}

TEST_F(TallorinStartup, InfoLevelWritesNoDebugRecord) {
    const auto result = Run({"--email", "a@b.c"}, "info");
    EXPECT_EQ(result.exit_code, 0) << result.output;
    const auto files = LogFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(test_support::ReadFile(files[0]).find("cmd="), std::string::npos);
}

TEST_F(TallorinStartup, AMissingSpecialFolderEndsTheProcessWithoutALog) {
    fs::remove(root_ / "ProgramData");
    const auto result = Run({"--email", "a@b.c"});
    EXPECT_NE(result.exit_code, 0);
    EXPECT_NE(result.output.find("failed to get special folder path. error="), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find(". csidl=35"), std::string::npos);
    EXPECT_TRUE(LogFiles().empty());
}

TEST_F(TallorinStartup, StartsLocalizationRightAfterTheCommandLineRecord) {
    const auto result = Run({"--email", "a@b.c"});
    EXPECT_EQ(result.exit_code, 0) << result.output;
    const std::string log = OnlyLog();
    const auto second_line = log.find('\n') + 1;
    const std::string second = log.substr(second_line, log.find('\n', second_line) - second_line);
    EXPECT_TRUE(std::regex_search(second, std::regex(R"(\[tallorin:init_localization\.cpp:\d+\])"
                                                     R"(\[InitLocalization\]: init localization$)")))
        << log;
    EXPECT_NE(log.find("init. app_name=Velmora Antivirus. read_localization_files_from_resources="
                       "true. zipped_resource_name=localization. zipped_resource_type_id=10. "
                       "localization_files_dir_path=\n"),
              std::string::npos);
    EXPECT_NE(log.find("set current language internal. language=English. save=false\n"),
              std::string::npos);
    EXPECT_EQ(log.find("[error]"), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(language_file_));
}

TEST_F(TallorinStartup, StartsInTheLanguageOfTheUsersLanguageFile) {
    fs::create_directories(language_file_.parent_path());
    test_support::WriteFile(language_file_, "{\r\n  \"language\": \"German\"\r\n}");
    const auto result = Run({"--email", "a@b.c"});
    EXPECT_EQ(result.exit_code, 0) << result.output;
    const std::string log = OnlyLog();
    EXPECT_NE(log.find("]: current_language=German\n"), std::string::npos) << log;
    EXPECT_NE(log.find("create std locale. language=German\n"), std::string::npos);
    EXPECT_EQ(log.find("[error]"), std::string::npos) << log;
}

TEST_F(TallorinStartup, AMissingRoamingFolderEndsTheProcessAfterTheFirstRecord) {
    fs::remove_all(root_ / "AppData");
    const auto result = Run({"--email", "a@b.c"});
    EXPECT_NE(result.exit_code, 0);
    EXPECT_NE(result.output.find(". csidl=26"), std::string::npos) << result.output;
    const std::string log = OnlyLog();
    EXPECT_NE(log.find("init localization"), std::string::npos);
    EXPECT_EQ(log.find("localization_lib_mt"), std::string::npos) << log;
}

}  // namespace
