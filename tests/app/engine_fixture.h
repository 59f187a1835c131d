// A clean platform and stand-in engine for tests that run the program's window in-process,
// and a log file to read what it wrote.
#pragma once

#include <gtest/gtest.h>
#include <platform/testing.h>
#include <spdlog/spdlog.h>

#include <filesystem>
#include <string>

#include "sciter/sapi.h"
#include "src/logging.h"
#include "tests/support/temp_dir.h"

class EngineFixture : public ::testing::Test {
protected:
    EngineFixture() {
        platform::testing::Reset();
        LoggerSettings settings;
        settings.log_dir_path = (root_ / "logs").wstring();
        settings.level = 0;
        settings.max_file_size = 20 * 1024 * 1024;
        SetupDefaultLogger(settings);
    }
    ~EngineFixture() override {
        SAPI()->SciterSetupDebugOutput(nullptr, nullptr, nullptr);  // no sink left dangling
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("reset"));
        platform::testing::Reset();
    }

    std::string Log() const {
        std::string content;
        for (const auto& entry : std::filesystem::directory_iterator(root_ / "logs")) {
            content += test_support::ReadFile(entry.path());
        }
        return content;
    }

    static std::size_t Count(const std::string& text, const std::string& part) {
        std::size_t count = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
            ++count;
        }
        return count;
    }

    test_support::TempDir root_;
};
