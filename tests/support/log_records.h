// The run's real log file for one test: the default logger writes into a fresh folder through
// SetupDefaultLogger, and the test reads the records back. Header-only, for test programs that
// link the application's logging.
#pragma once

#include <spdlog/spdlog.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <platform/testing.h>

#include "src/logging.h"
#include "tests/support/temp_dir.h"

namespace test_support {

struct LogRecord {
    std::string level;     // spdlog's name: "trace", "debug", "info", "warning", "error"
    std::string source;    // "<tag>:<file>:<line>"
    std::string function;  // the qualified name of the logging function
    std::string message;

    // The record's text without its time, thread and line: "level [tag:file] message".
    std::string Brief() const {
        const auto colon = source.rfind(':');
        return level + " [" + source.substr(0, colon) + "] " + message;
    }
};

class LogFile {
public:
    explicit LogFile(int level = 0) {
        LoggerSettings settings;
        settings.log_dir_path = (folder_ / "logs").wstring();
        settings.level = level;
        settings.max_file_size = 20 * 1024 * 1024;
        SetupDefaultLogger(settings);
        current_ = this;
    }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile() {
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("closed"));
        current_ = nullptr;  // the default logger writes nowhere now, whichever was current
    }

    // The layer's open handles but the log file's own, for leak checks: the sink of the
    // LogFile made last holds its file by one handle while its logger is the default.
    static std::size_t HandlesBesideLogFiles() {
        return platform::testing::OpenHandleCount() - (current_ != nullptr ? 1 : 0);
    }

    std::vector<LogRecord> Records() const {
        static const std::regex kRecord(
            R"(\[[^\]]*\] \[([a-z]+)\] \[\d+\] \[([^\]]*)\]\[([^\]]*)\]: (.*))");
        std::vector<LogRecord> records;
        for (const auto& entry : std::filesystem::directory_iterator(folder_ / "logs")) {
            const std::string content = ReadFile(entry.path());
            std::size_t start = 0;
            while (start < content.size()) {
                auto end = content.find('\n', start);
                end = end == std::string::npos ? content.size() : end;
                const std::string line = content.substr(start, end - start);
                std::smatch match;
                if (std::regex_match(line, match, kRecord)) {
                    records.push_back({match[1], match[2], match[3], match[4]});
                } else {
                    records.push_back({"?", "", "", line});
                }
                start = end + 1;
            }
        }
        return records;
    }

    // Every record as LogRecord::Brief gives it.
    std::vector<std::string> Briefs() const {
        std::vector<std::string> briefs;
        for (const auto& record : Records()) {
            briefs.push_back(record.Brief());
        }
        return briefs;
    }

private:
    static inline const LogFile* current_ = nullptr;
    TempDir folder_;
};

}  // namespace test_support
