#include "src/logging.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <platform/testing.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "common/log_call.h"
#include "common/log_tag.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

TEST(LogLevelFromEnvironment, ReadsTheFiveWordsAfterLowerCasing) {
    struct Case {
        std::optional<std::string> value;
        int level;
    };
    const Case cases[] = {
        {std::nullopt, 2}, {"", 2},      {"verbose", 2}, {"warning", 2}, {" debug", 2},
        {"debug ", 2},     {"trace", 0}, {"debug", 1},   {"DEBUG", 1},   {"DeBuG", 1},
        {"info", 2},       {"warn", 3},  {"Warn", 3},    {"error", 4},   {"err", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.value_or("(unset)"));
        const test_support::ScopedEnv env("VELMORA_LOG_LEVEL", c.value);
        EXPECT_EQ(LogLevelFromEnvironment(), c.level);
    }
}

TEST(MakeLogFileName, HasTimeProgramStemAndProcessId) {
    const std::wstring name = MakeLogFileName(L"/opt/velmora/tallorin", 4242);
    const std::wregex shape(LR"(\d{4}\.\d{2}\.\d{2}_\d{2}\.\d{2}\.\d{2}_tallorin_pid=4242\.txt)");
    EXPECT_TRUE(std::regex_match(name, shape));
    EXPECT_TRUE(MakeLogFileName(L"C:/dir/tallorin.exe", 1).ends_with(L"_tallorin_pid=1.txt"));
}

class LogFile : public ::testing::Test {
protected:
    ~LogFile() override { spdlog::set_default_logger(std::make_shared<spdlog::logger>("reset")); }

    fs::path OnlyFile() const {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            files.push_back(entry.path());
        }
        EXPECT_EQ(files.size(), 1u);
        return files.empty() ? fs::path() : files.front();
    }

    void Setup(int level, std::size_t max_size = 20 * 1024 * 1024) {
        LoggerSettings settings;
        settings.log_dir_path = folder_.wstring();
        settings.level = level;
        settings.max_file_size = max_size;
        SetupDefaultLogger(settings);
    }

    test_support::TempDir root_;
    fs::path folder_ = root_ / "logs" / "nested";  // made by the sink
};

// Answers the line of its log call.
int WriteTheRecord() {
    LOG_AT(kLogTag, spdlog::level::debug, "crash_uuid={}", "U-1");
    return __LINE__ - 1;
}

TEST_F(LogFile, WritesEveryRecordThroughInThePattern) {
    Setup(1);
    const int line = WriteTheRecord();
    const fs::path file = OnlyFile();
    EXPECT_TRUE(file.filename().string().ends_with("_app_tests_pid=" + std::to_string(::getpid()) +
                                                   ".txt"));
    // Flushed at once: the record is on disk while the logger still holds the file.
    const std::string content = test_support::ReadFile(file);
    const std::regex shape(R"(\[\d{2}/\d{2}/\d{2} \d{2}:\d{2}:\d{2} \d{3}\] \[debug\] \[\d+\] )"
                           R"(\[tallorin:logging_test\.cpp:)" +
                           std::to_string(line) +
                           R"(\]\[\{anonymous\}::WriteTheRecord\]: crash_uuid=U-1\n)");
    EXPECT_TRUE(std::regex_match(content, shape)) << content;
}

TEST_F(LogFile, HonoursTheThresholdAndSpdlogLevelNames) {
    Setup(3);
    LOG_AT(kLogTag, spdlog::level::info, "hidden");
    LOG_AT(kLogTag, spdlog::level::warn, "shown");
    LOG_AT(kLogTag, spdlog::level::err, "failed");
    const std::string content = test_support::ReadFile(OnlyFile());
    EXPECT_EQ(content.find("hidden"), std::string::npos);
    EXPECT_NE(content.find("] [warning] ["), std::string::npos);
    EXPECT_NE(content.find("] [error] ["), std::string::npos);
}

TEST_F(LogFile, EmptiesAFileThatAlreadyHasContent) {
    // Same second, same process id: the second run takes over the same file, emptied. The
    // file name changes with the second, so two set-ups that straddle one are tried again.
    const auto second = [] { return MakeLogFileName(L"stamp", 1); };
    for (int attempt = 0;; ++attempt) {
        ASSERT_LT(attempt, 5) << "the two set-ups never fell in one second";
        const std::wstring before = second();
        Setup(2);
        LOG_AT(kLogTag, spdlog::level::info, "first run");
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("closed"));
        ASSERT_NE(test_support::ReadFile(OnlyFile()).find("first run"), std::string::npos);
        Setup(2);
        LOG_AT(kLogTag, spdlog::level::info, "second run");
        if (second() == before) {
            break;
        }
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("closed"));
        fs::remove_all(folder_);
    }
    const std::string content = test_support::ReadFile(OnlyFile());
    EXPECT_EQ(content.find("first run"), std::string::npos);
    EXPECT_NE(content.find("second run"), std::string::npos);
}

TEST_F(LogFile, StartsAgainFromEmptyAtTheMaximumSizeWithoutBackups) {
    constexpr std::size_t kMax = 4096;
    Setup(2, kMax);
    const std::string filler(100, 'x');
    for (int i = 0; i < 100; ++i) {
        LOG_AT(kLogTag, spdlog::level::info, "record={} {}", i, filler);
    }
    const fs::path file = OnlyFile();  // no backup file beside it
    const std::string content = test_support::ReadFile(file);
    EXPECT_LE(content.size(), kMax);
    EXPECT_EQ(content.find("record=0 "), std::string::npos);
    EXPECT_NE(content.find("record=99 "), std::string::npos);
}

TEST_F(LogFile, FailsWhenTheFileCannotBeOpened) {
    test_support::WriteFile(root_ / "blocker", "");  // a file where the folder should be
    LoggerSettings settings;
    settings.log_dir_path = (root_ / "blocker" / "logs").wstring();
    settings.max_file_size = 1024;
    EXPECT_THROW(SetupDefaultLogger(settings), std::exception);
    settings.log_dir_path = folder_.wstring();
    settings.create_console = true;  // there is no console to allocate here
    try {
        SetupDefaultLogger(settings);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Failed to create console");
    }
    EXPECT_FALSE(fs::exists(folder_));
}

// One record of `payload`, always from this line, so that every record has the same size.
void WritePayload(const std::string& payload) {
    LOG_AT(kLogTag, spdlog::level::info, "{}", payload);
}

TEST_F(LogFile, InitLoggingEmptiesTheFileAtTwentyMebibytesNotBefore) {
    fs::create_directories(root_ / "ProgramData");
    const test_support::ScopedEnv platform_root("PLATFORM_ROOT", root_.path().string());
    const test_support::ScopedEnv level("VELMORA_LOG_LEVEL", std::nullopt);
    folder_ = root_ / "ProgramData" / "Quorbelin" / "Velmora Antivirus" / "logs";
    InitLogging();

    constexpr std::uintmax_t kLimit = 20 * 1024 * 1024;
    const std::string payload(256 * 1024, 'x');
    WritePayload(payload);
    const fs::path file = OnlyFile();
    const std::uintmax_t record = fs::file_size(file);
    const std::uintmax_t fit = kLimit / record;
    for (std::uintmax_t written = 1; written < fit; ++written) {
        WritePayload(payload);
    }
    EXPECT_EQ(fs::file_size(file), fit * record);  // at most 20 MiB: nothing emptied yet
    WritePayload(payload);                         // this one would pass 20 MiB
    EXPECT_EQ(fs::file_size(file), record);
    EXPECT_EQ(OnlyFile(), file);  // the same file, no backup beside it
}

// A file that cannot be emptied at the maximum size is reported through the logger's error
// handler: its new records are not written over the old ones from its start.
TEST_F(LogFile, AFileThatCannotBeEmptiedAtTheMaximumIsReported) {
    constexpr std::size_t kMax = 4096;
    Setup(2, kMax);
    std::vector<std::string> errors;
    spdlog::default_logger()->set_error_handler(
        [&errors](const std::string& message) { errors.push_back(message); });
    const fs::path file = OnlyFile();
    const std::string filler(100, 'x');
    platform::testing::FailCall("SetEndOfFile", ERROR_ACCESS_DENIED, 1);
    for (int i = 0; i < 100; ++i) {
        LOG_AT(kLogTag, spdlog::level::info, "record={} {}", i, filler);
    }
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].starts_with("Failed emptying file " + file.string() + ". error=5"))
        << errors[0];
    const std::string content = test_support::ReadFile(file);
    EXPECT_LE(content.size(), kMax);
    EXPECT_NE(content.find("record=99 "), std::string::npos);
}

// The file is emptied only when a record would take it past the maximum: records that fill
// it exactly stay.
TEST_F(LogFile, RecordsThatFillTheMaximumExactlyStay) {
    Setup(2);
    WritePayload(std::string(1000, 'x'));
    const std::uintmax_t record = fs::file_size(OnlyFile());
    spdlog::set_default_logger(std::make_shared<spdlog::logger>("closed"));
    folder_ = root_ / "exact";
    Setup(2, 3 * record);
    const fs::path file = OnlyFile();
    for (int written = 0; written < 3; ++written) {
        WritePayload(std::string(1000, 'x'));
    }
    EXPECT_EQ(fs::file_size(file), 3 * record);
    WritePayload(std::string(1000, 'x'));
    EXPECT_EQ(fs::file_size(file), record);
}

// A link where the log goes would make the program create or empty a file elsewhere.
class LinkedLog : public LogFile {
protected:
    LinkedLog() {
        fs::create_directories(folder_);
        fs::create_directories(outside_);
        test_support::WriteFile(victim_, "not the program's");
    }

    // Plants what `plant` makes at the name of this second's log file, then sets the logger
    // up; the message it failed with, or "" when it did not. Tried again when the second
    // changed in between, since the name did too.
    std::string SetupOverPlanted(const std::function<void(const fs::path&)>& plant) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            const std::wstring name = MakeLogFileName(L"app_tests", ::getpid());
            plant(folder_ / name);
            std::string message;
            try {
                Setup(2);
            } catch (const std::exception& error) {
                message = error.what();
            }
            if (MakeLogFileName(L"app_tests", ::getpid()) == name) {
                return message;
            }
            spdlog::set_default_logger(std::make_shared<spdlog::logger>("closed"));
            fs::remove_all(folder_);
            fs::create_directories(folder_);
        }
        ADD_FAILURE() << "the set-up never stayed in one second";
        return {};
    }

    std::vector<fs::path> Outside() const {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(outside_)) {
            files.push_back(entry.path().filename());
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    fs::path outside_ = root_ / "outside";
    fs::path victim_ = outside_ / "victim.txt";
};

TEST_F(LinkedLog, ALinkOnTheWayToTheLogFolderIsRefused) {
    fs::create_directories(outside_ / "nested");
    const struct {
        const char* name;
        fs::path link;  // replaced by a link to the outside folder (or its "nested")
        fs::path target;
    } cases[] = {
        {"the log folder", folder_, outside_},
        {"one folder higher", folder_.parent_path(), outside_},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        fs::remove_all(root_ / "logs");
        fs::create_directories(folder_.parent_path());
        fs::remove_all(each.link);
        fs::create_directory_symlink(each.target, each.link);
        try {
            Setup(2);
            ADD_FAILURE() << "no exception";
        } catch (const std::exception& error) {
            const std::string message = error.what();
            EXPECT_TRUE(message.starts_with("Failed opening file " + folder_.string() + "/"))
                << message;
            EXPECT_NE(message.find("a folder on the way is a link"), std::string::npos) << message;
        }
        EXPECT_EQ(Outside(), (std::vector<fs::path>{"nested", "victim.txt"}));
        EXPECT_TRUE(fs::is_empty(outside_ / "nested"));
        EXPECT_EQ(test_support::ReadFile(victim_), "not the program's");
    }
}

TEST_F(LinkedLog, WhatIsNoPlainFileAtTheFilesNameIsRefusedByName) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> plant;
        const char* what;
    };
    const Case cases[] = {
        {"link to a file", [&](const fs::path& at) { fs::create_symlink(victim_, at); },
         "a link (reparse point) is there"},
        {"link to nothing yet",
         [&](const fs::path& at) { fs::create_symlink(outside_ / "made.txt", at); },
         "a link (reparse point) is there"},
        {"link to a folder",
         [&](const fs::path& at) { fs::create_directory_symlink(outside_, at); },
         "a link (reparse point) is there"},
        {"hard link", [&](const fs::path& at) { fs::create_hard_link(victim_, at); },
         "a hard link is there (2 names)"},
        {"folder", [&](const fs::path& at) { fs::create_directories(at); }, "a folder is there"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string message = SetupOverPlanted(c.plant);
        EXPECT_TRUE(message.starts_with("Failed opening file " + folder_.string() + "/"))
            << message;
        EXPECT_TRUE(message.ends_with(std::string(" for writing: ") + c.what)) << message;
        EXPECT_EQ(Outside(), std::vector<fs::path>{"victim.txt"});
        EXPECT_EQ(test_support::ReadFile(victim_), "not the program's");
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
}

// A file that cannot be made, or a leftover that changes after it was looked at or cannot be
// emptied, is refused with its reason, and what was swapped in is neither emptied nor written.
TEST_F(LinkedLog, ALogFileThatCannotBeMadeOrTakenOverIsRefusedWithItsReason) {
    const fs::path swapped_in = outside_ / "swapped-in.txt";
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> plant;
        const char* what;
    };
    const Case cases[] = {
        {"cannot be made",
         [](const fs::path& at) {
             platform::testing::BeforeCall("NtCreateFile", at.string(), [] {
                 platform::testing::FailCall("NtCreateFile", ERROR_ACCESS_DENIED, 1);
             });
         },
         "cannot be made. status=3221225506"},
        {"another file swapped in after the look",
         [&](const fs::path& at) {
             test_support::WriteFile(at, "left by an earlier run");
             test_support::WriteFile(swapped_in, "not the program's");
             auto calls = std::make_shared<int>(0);
             // Made, looked at, opened: just before the open.
             platform::testing::BeforeCall(
                 "NtCreateFile", at.string(),
                 [calls, at, swapped_in] {
                     if (++*calls == 3) {
                         fs::rename(swapped_in, at);
                     }
                 },
                 -1);
         },
         "it changed while it was opened, or is in use"},
        {"a leftover that cannot be emptied",
         [](const fs::path& at) {
             test_support::WriteFile(at, "left by an earlier run");
             platform::testing::FailCall("SetEndOfFile", ERROR_ACCESS_DENIED, 1);
         },
         "it cannot be emptied. error=5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string message = SetupOverPlanted(c.plant);
        platform::testing::ClearBeforeCalls();
        platform::testing::ClearFailures();
        EXPECT_TRUE(message.starts_with("Failed opening file " + folder_.string() + "/"))
            << message;
        EXPECT_TRUE(message.ends_with(std::string(" for writing: ") + c.what)) << message;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            const std::string content = test_support::ReadFile(entry.path());
            EXPECT_TRUE(content == "left by an earlier run" || content == "not the program's")
                << content;
        }
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
}

// The sink writes and empties the file it made through its handle: a link put at the name,
// or in place of the folder, once the file is open leads nothing elsewhere, at the maximum
// size neither.
TEST_F(LinkedLog, TheSinkNeverGoesBackToTheNames) {
    constexpr std::size_t kMax = 4096;
    Setup(2, kMax);
    LOG_AT(kLogTag, spdlog::level::info, "first record");
    const fs::path file = OnlyFile();
    const fs::path moved = root_ / "moved";
    fs::rename(folder_, moved);
    fs::create_directories(folder_);
    fs::create_symlink(victim_, folder_ / file.filename());
    fs::create_symlink(victim_, moved / "other-name.txt");
    const std::string filler(100, 'x');
    for (int i = 0; i < 100; ++i) {
        LOG_AT(kLogTag, spdlog::level::info, "record={} {}", i, filler);
    }
    spdlog::set_default_logger(std::make_shared<spdlog::logger>("closed"));
    EXPECT_EQ(test_support::ReadFile(victim_), "not the program's");
    EXPECT_EQ(Outside(), std::vector<fs::path>{"victim.txt"});
    const std::string content = test_support::ReadFile(moved / file.filename());
    EXPECT_LE(content.size(), kMax);
    EXPECT_EQ(content.find("first record"), std::string::npos);  // emptied at the maximum
    EXPECT_NE(content.find("record=99 "), std::string::npos);
}

}  // namespace
