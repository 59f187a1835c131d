// The real executable, started as the product starts it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>
#include <vector>

#include "engine_stand_in/windows.h"

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class TallorinStartup : public ::testing::Test {
protected:
    TallorinStartup() {
        fs::create_directories(root_ / "ProgramData");
        fs::create_directories(root_ / "AppData" / "Roaming");
    }

    // Runs the program with a scenario that plays the interface (by default none: the window
    // is closed once it is shown).
    test_support::ChildResult Run(std::vector<std::string> arguments, const char* level = "debug",
                                  const std::string& scenario = "[]") {
        test_support::WriteFile(root_ / "scenario.json", scenario);
        test_support::ChildOptions options;
        options.arguments = std::move(arguments);
        options.environment["PLATFORM_ROOT"] = platform_root_.string();
        options.environment["VELMORA_LOG_LEVEL"] = level;
        options.environment[engine_stand_in::kScenarioVariable] =
            (root_ / "scenario.json").string();
        options.environment[engine_stand_in::kTranscriptVariable] =
            (root_ / "transcript.jsonl").string();
        return test_support::RunChild(program_, options);
    }

    std::vector<nlohmann::json> Transcript() const {
        std::vector<nlohmann::json> lines;
        std::istringstream text(test_support::ReadFile(root_ / "transcript.jsonl"));
        for (std::string line; std::getline(text, line);) {
            lines.push_back(nlohmann::json::parse(line));
        }
        return lines;
    }

    std::string OnlyLog() const {
        const auto files = LogFiles();
        EXPECT_EQ(files.size(), 1u);
        return files.empty() ? std::string() : test_support::ReadFile(files[0]);
    }

    std::vector<fs::path> LogFiles() const {
        std::vector<fs::path> files;
        const fs::path logs =
            platform_root_ / "ProgramData" / "Quorbelin" / "Velmora Antivirus" / "logs";
        if (fs::exists(logs)) {
            for (const auto& entry : fs::directory_iterator(logs)) {
                files.push_back(entry.path());
            }
        }
        return files;
    }

    test_support::TempDir root_;
    fs::path platform_root_ = root_.path();
    fs::path language_file_ =
        root_ / "AppData" / "Roaming" / "Quorbelin" / "Velmora Antivirus" / "settings" / "language";
    fs::path program_ = test_support::BinaryFolder() / "tallorin";
};

TEST_F(TallorinStartup, FirstRecordIsTheCommandLineAndVersion) {
    const auto result = Run({"--crash-uuid", "X", "--email", "a@b.c"});
    EXPECT_EQ(result.exit_code, 0) << result.output;
    const auto files = LogFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(
        files[0].filename().string(),
        std::regex(R"(\d{4}\.\d\d\.\d\d_\d\d\.\d\d\.\d\d_tallorin_pid=\d+\.txt)")));

    const std::string content = test_support::ReadFile(files[0]);
    const std::string first_line = content.substr(0, content.find('\n'));
    // The build's version (four numbers) with commas between them.
    std::string version = TALLORIN_PROJECT_VERSION;
    std::replace(version.begin(), version.end(), '.', ',');
    ASSERT_EQ(std::count(version.begin(), version.end(), ','), 3) << version;
    const std::regex shape(R"(\[\d\d/\d\d/\d\d \d\d:\d\d:\d\d \d{3}\] \[debug\] \[\d+\] )"
                           R"(\[tallorin:main\.cpp:\d+\]\[uimain\]: )"
                           R"(cmd=(\S+) --crash-uuid X --email a@b\.c\. version=)" +
                           version);
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
    EXPECT_TRUE(
        std::regex_search(second, std::regex(R"(\[tallorin:init_localization\.cpp:\d+\])"
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

// Where each text first appears in the log; every one must be there, in this order.
void ExpectInOrder(const std::string& log, const std::vector<std::string>& texts) {
    std::size_t at = 0;
    for (const std::string& text : texts) {
        const auto found = log.find(text, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << text << "\n" << log;
        at = found + text.size();
    }
}

TEST_F(TallorinStartup, AScenarioReadsEmailAndClosesTheWindow) {
    const auto result = Run({"--crash-uuid", "U-1", "--email", "user@example.com"}, "debug", R"([
        {"do": "get", "object": "Application", "property": "Email"},
        {"do": "console", "level": "warn", "text": "a warning of the page"},
        {"do": "key", "key_code": 27},
        {"do": "close"}
    ])");
    EXPECT_EQ(result.exit_code, 0) << result.output;  // the engine's quit message

    const auto transcript = Transcript();
    ASSERT_EQ(transcript.size(), 5u);  // the loop ends with the window
    EXPECT_EQ(transcript[0]["loaded"], "this://app/index.html");
    for (const auto& file : transcript[0]["files"]) {
        EXPECT_TRUE(file["delivered"].get<bool>()) << file;
    }
    EXPECT_GT(transcript[0]["files"].size(), 2u);
    EXPECT_EQ(transcript[1]["result"]["text"], "user@example.com");
    EXPECT_EQ(transcript[1]["result"]["type"], "string");
    EXPECT_EQ(transcript[3]["handled"], false);
    EXPECT_EQ(transcript[4]["posted"], true);

    ExpectInOrder(OnlyLog(),
                  {
                      "[uimain]: cmd=",
                      "[SciterLogger::SciterLogger]: created",
                      "[MainWindow::MainWindow]: created",
                      "[MainWindow::show]: show main window",
                      "SciterGetPPI(px:96, py:96), xr:1; yr:1, screenW:1920, screenH:1080",
                      "DPI window rect x:680, y:270, w:560, h:540",
                      "[warning] ",
                      "[SciterLogger::output]: WARNING: SCRIPT: a warning of the page",
                      "[MainWindow::handle_key]: handle main window key",
                  });
}

TEST_F(TallorinStartup, CtrlF5ReloadsAndThePageFindsApplicationAgain) {
    const auto result = Run({"--email", "a@b.c"}, "debug", R"([
        {"do": "key", "key_code": 116, "command": "up", "keyboard_state": ["ctrl", "shift"]},
        {"do": "get", "object": "Application", "property": "Email"},
        {"do": "call", "object": "Application", "method": "SendReport", "arguments": ["a@b.c", "d"]}
    ])");
    EXPECT_EQ(result.exit_code, 0) << result.output;
    const auto transcript = Transcript();
    ASSERT_GE(transcript.size(), 5u);
    EXPECT_EQ(transcript[1]["loaded"], "this://app/index.html");  // the reload, during the key
    EXPECT_EQ(transcript[1]["files"].size(), transcript[0]["files"].size());
    EXPECT_EQ(transcript[2]["handled"], true);
    EXPECT_EQ(transcript[3]["result"]["text"], "a@b.c");
    EXPECT_EQ(transcript[4]["result"]["type"], "undefined");
    EXPECT_EQ(transcript[5]["end"], true);  // then the driver closes the window

    const std::string log = OnlyLog();
    ExpectInOrder(log, {"handle main window key", "]: reload\n", "crash_uuid=\n", "no crash uuid"});
}

TEST_F(TallorinStartup, SetsTheEngineOptionsOnceEachInTheirOrder) {
    const auto result = Run({"--email", "a@b.c"}, "debug", R"([{"do": "options"}])");
    EXPECT_EQ(result.exit_code, 0) << result.output;
    const auto transcript = Transcript();
    ASSERT_GE(transcript.size(), 2u);
    // The engine's own theme first, from the entry point; then script features (files,
    // sockets, eval, system information) and CSS pixels as device-independent pixels; all for
    // every window (none named).
    const auto expected = nlohmann::json::parse(R"([
        {"window": 0, "option": 11, "value": 1},
        {"window": 0, "option": 8, "value": 15},
        {"window": 0, "option": 16, "value": 1}
    ])");
    EXPECT_EQ(transcript[1]["options"], expected) << transcript[1];
}

TEST_F(TallorinStartup, ALogFolderThatIsALinkEndsTheStartWritingNothingThere) {
    const fs::path product = platform_root_ / "ProgramData" / "Quorbelin" / "Velmora Antivirus";
    const fs::path outside = root_ / "outside";
    fs::create_directories(product);
    fs::create_directories(outside);
    test_support::WriteFile(outside / "victim.txt", "not the program's");
    fs::create_directory_symlink(outside, product / "logs");

    const auto result = Run({"--email", "a@b.c"});
    // As every start-up step that throws: the process ends abnormally, without the window.
    EXPECT_TRUE(result.signalled) << result.output;
    EXPECT_NE(result.output.find("Failed opening file " + (product / "logs").string() + "/"),
              std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("for writing: a folder on the way is a link"), std::string::npos)
        << result.output;
    EXPECT_FALSE(fs::exists(root_ / "transcript.jsonl"));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(outside)) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"victim.txt"});
    EXPECT_EQ(test_support::ReadFile(outside / "victim.txt"), "not the program's");
}

// Installed deeper than a MAX_PATH buffer holds, the program still reads its whole path.
TEST_F(TallorinStartup, InstalledDeeperThanMaxPathTheLogIsNamedAfterTheProgram) {
    fs::path installed = root_ / "install";
    while (installed.native().size() < 290) {
        installed /= std::string(40, 'd');
    }
    fs::create_directories(installed);
    for (const char* file : {"tallorin", "libplatform.so", "sciter.dll"}) {
        fs::copy_file(test_support::BinaryFolder() / file, installed / file);
    }
    program_ = installed / "tallorin";
    ASSERT_GT(program_.native().size(), 286u);

    const auto result = Run({"--email", "a@b.c"});
    ASSERT_EQ(result.exit_code, 0) << result.output;
    const auto files = LogFiles();
    ASSERT_EQ(files.size(), 1u);
    const std::regex name(R"(\d{4}\.\d\d\.\d\d_\d\d\.\d\d\.\d\d_tallorin_pid=\d+\.txt)");
    EXPECT_TRUE(std::regex_match(files[0].filename().string(), name)) << files[0];
    const std::string log = test_support::ReadFile(files[0]);
    EXPECT_NE(log.find("[uimain]: cmd=" + program_.string() + " --email"), std::string::npos);
}

TEST_F(TallorinStartup, WithoutTheEngineItEndsWithMinusOneAndNoLog) {
    // The program alone with the platform library, no sciter.dll beside it.
    const test_support::TempDir folder;
    fs::copy_file(program_, folder / "tallorin");
    fs::copy_file(test_support::BinaryFolder() / "libplatform.so", folder / "libplatform.so");
    program_ = folder / "tallorin";
    const auto result = Run({"--email", "a@b.c"});
    EXPECT_EQ(result.exit_code, 255) << result.output;  // -1
    EXPECT_TRUE(LogFiles().empty());
}

// A user whose folders are named outside ASCII, with the program installed in such a folder.
TEST_F(TallorinStartup, FoldersNamedOutsideAsciiWorkAsOthers) {
    platform_root_ = root_ / "Ünïcödé жук 日本 😀";
    fs::create_directories(platform_root_ / "ProgramData");
    fs::create_directories(platform_root_ / "AppData" / "Roaming");
    const fs::path installed = platform_root_ / "Programmes é";
    fs::create_directories(installed);
    for (const char* file : {"tallorin", "libplatform.so", "sciter.dll"}) {
        fs::copy_file(test_support::BinaryFolder() / file, installed / file);
    }
    program_ = installed / "tallorin";

    auto result = Run({"--email", "a@b.c"}, "debug", R"([
        {"do": "call", "object": "Localizer", "method": "SetCurrentLanguage",
         "arguments": ["French"]}
    ])");
    ASSERT_EQ(result.exit_code, 0) << result.output;
    EXPECT_EQ(Transcript().at(0)["loaded"], "this://app/index.html");  // the window was shown
    const std::string log = OnlyLog();
    EXPECT_NE(log.find("[uimain]: cmd=\"" + program_.string() + "\" --email"), std::string::npos)
        << log;
    EXPECT_TRUE(
        std::regex_match(LogFiles().at(0).filename().string(),
                         std::regex(R"(\d{4}\.\d\d\.\d\d_\d\d\.\d\d\.\d\d_tallorin_pid=\d+\.txt)")))
        << LogFiles().at(0);
    EXPECT_EQ(log.find("[error]"), std::string::npos) << log;
    const fs::path language_file = platform_root_ / "AppData" / "Roaming" / "Quorbelin" /
                                   "Velmora Antivirus" / "settings" / "language";
    EXPECT_EQ(test_support::ReadFile(language_file), "{\r\n  \"language\": \"French\"\r\n}");

    // The next run starts in the saved language.
    result = Run({"--email", "a@b.c"}, "debug", R"([
        {"do": "call", "object": "Localizer", "method": "GetCurrentLanguage", "arguments": []}
    ])");
    ASSERT_EQ(result.exit_code, 0) << result.output;
    EXPECT_EQ(Transcript().at(1)["result"]["text"], "French");
}

}  // namespace
