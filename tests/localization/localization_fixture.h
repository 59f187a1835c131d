// A fresh Localizer for each test, the real log file at trace level, and a product folder in
// a temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "internal_libraries/localization/src/localizer.h"
#include "tests/support/temp_dir.h"

namespace localization_test {

class LocalizationTest : public ::testing::Test {
protected:
    LocalizationTest();
    ~LocalizationTest() override;

    // The program's settings: the resource "localization" and a language file in root_.
    Localization::LocalizerConfig ResourceConfig() const;
    // Folder mode over files_ (config.json and catalogues written by the test).
    Localization::LocalizerConfig FolderConfig(const std::string& config_json) const;

    std::string Log() const;
    std::size_t Count(std::string_view text) const;

    test_support::TempDir root_;
    std::filesystem::path language_file_ = root_ / "Roaming" / "settings" / "language";
    std::filesystem::path files_ = root_ / "localization";
    Localization::Localizer localizer_;
};

// Slots that record the language of every call.
struct Recorder {
    std::vector<std::string> calls;
    auto Slot() {
        return [this](const std::string& language) { calls.push_back(language); };
    }
};

}  // namespace localization_test
