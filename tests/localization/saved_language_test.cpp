// The saved-language file: what a start reads from it and what a switch writes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <platform/testing.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/localization/localization_fixture.h"

namespace {

namespace fs = std::filesystem;
using localization_test::LocalizationTest;

std::string Written(const std::string& language) {
    return "{\r\n  \"language\": \"" + language + "\"\r\n}";
}

class SavedLanguage : public LocalizationTest {
protected:
    void Save(const std::string& content) {
        fs::create_directories(language_file_.parent_path());
        test_support::WriteFile(language_file_, content);
    }
};

TEST_F(SavedLanguage, NoFileStartsInEnglishAndASwitchWritesTheFile) {
    localizer_.Init(ResourceConfig());
    EXPECT_EQ(localizer_.GetCurrentLanguage(), "English");
    EXPECT_FALSE(fs::exists(language_file_.parent_path()));
    EXPECT_EQ(Count("[error] ["), 0u);

    localizer_.SetCurrentLanguage("French");
    const std::string content = test_support::ReadFile(language_file_);
    EXPECT_EQ(content, Written("French"));
    EXPECT_EQ(content.size(), 28u);
    EXPECT_EQ(Count("save current language. language=French\n"), 1u);
}

TEST_F(SavedLanguage, AWrittenFileIsTheNextStartsLanguage) {
    const std::string forms[] = {
        Written("German"),
        "{\n  \"language\": \"German\"\n}\n",                    // LF only
        R"({"language":"German"})",                              // one line
        R"({"theme": "dark", "language": "German", "n": [1]})",  // other members
        // The largest file read: 64 KiB to the byte.
        Written("German") + std::string(64 * 1024 - Written("German").size(), ' '),
    };
    for (const auto& form : forms) {
        SCOPED_TRACE(form);
        Save(form);
        Localization::Localizer localizer;
        localizer.Init(ResourceConfig());
        EXPECT_EQ(localizer.GetCurrentLanguage(), "German");
        EXPECT_EQ(test_support::ReadFile(language_file_), form);  // reading never writes
    }
    EXPECT_EQ(Count("[Localization::Localizer::LoadCurrentLanguage]: current_language=German\n"),
              std::size(forms));
    EXPECT_EQ(Count("[error] ["), 0u);
}

TEST_F(SavedLanguage, ABadFileStartsInEnglishAndStaysAsItIs) {
    struct Case {
        const char* content;
        const char* error_line;
    };
    const Case cases[] = {
        {"", "failed to load current language. error="},
        {"// English\n{\"language\": \"German\"}", "failed to load current language. error="},
        {"{\"language\": \"German\"} x", "failed to load current language. error="},
        {"[\"German\"]", "failed to load current language. error="},
        {"42", "failed to load current language. error="},
        {"{\"lang\": \"German\"}", "failed to load current language. error="},
        {"{\"language\": 3}", "failed to load current language. error="},
        {"{\"language\": \"Latin\"}", "language doesn't exist. current_language=Latin\n"},
        {"{\"language\": \"german\"}", "language doesn't exist. current_language=german\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        Save(c.content);
        const std::size_t errors_before = Count("[error] [");
        const std::size_t lines_before = Count(c.error_line);
        Localization::Localizer localizer;
        localizer.Init(ResourceConfig());
        EXPECT_EQ(localizer.GetCurrentLanguage(), "English");
        EXPECT_EQ(Count("[error] ["), errors_before + 1);
        EXPECT_EQ(Count(c.error_line), lines_before + 1);
        EXPECT_EQ(test_support::ReadFile(language_file_), c.content);
    }
}

TEST_F(SavedLanguage, ANewNameReplacesALongerFileWhole) {
    Save("{\n    \"language\":        \"Spanish\",\n    \"padding\": \"................\"\n}");
    localizer_.Init(ResourceConfig());
    ASSERT_EQ(localizer_.GetCurrentLanguage(), "Spanish");
    localizer_.SetCurrentLanguage("German");
    EXPECT_EQ(test_support::ReadFile(language_file_), Written("German"));
}

TEST_F(SavedLanguage, NamesOutsideAsciiAreWrittenAsUtf8) {
    localizer_.Init(
        FolderConfig("{\"languages\": [\"English\", \"Espa\xc3\xb1ol\", \"Quo\\\"te\"]}"));
    localizer_.SetCurrentLanguage("Espa\xc3\xb1ol");
    EXPECT_EQ(test_support::ReadFile(language_file_), Written("Espa\xc3\xb1ol"));
    localizer_.SetCurrentLanguage("Quo\"te");
    EXPECT_EQ(test_support::ReadFile(language_file_), Written("Quo\\\"te"));

    Localization::Localizer next;
    next.Init(FolderConfig("{\"languages\": [\"English\", \"Espa\xc3\xb1ol\", \"Quo\\\"te\"]}"));
    EXPECT_EQ(next.GetCurrentLanguage(), "Quo\"te");
}

TEST_F(SavedLanguage, AFileThatCannotBeWrittenDoesNotStopTheSwitch) {
    // A file where the folder should be: neither the folder nor the file can be made, even as root.
    fs::create_directories(language_file_.parent_path().parent_path());
    test_support::WriteFile(language_file_.parent_path(), "");
    localizer_.Init(ResourceConfig());
    localizer_.SetCurrentLanguage("Spanish");
    EXPECT_EQ(localizer_.GetCurrentLanguage(), "Spanish");
    EXPECT_EQ(Count("save current language. language=Spanish\n"), 1u);
    EXPECT_EQ(Count("[error] ["), 0u);
    EXPECT_TRUE(fs::is_regular_file(language_file_.parent_path()));
}

TEST_F(SavedLanguage, AnEmptyPathFailsTheStart) {
    auto config = ResourceConfig();
    config.language_serialization_file_path.clear();
    try {
        localizer_.Init(config);
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "language serialization file path not set");
    }
    EXPECT_EQ(Count("[error] ["), 1u);
    EXPECT_EQ(Count("[Localization::Localizer::LoadCurrentLanguage]: "
                    "language serialization file path not set\n"),
              1u);
    EXPECT_EQ(localizer_.GetCurrentLanguage(), "");
}

// The file lies in a folder its user can write, while the program may run with more rights:
// nothing at its name or on the way to it that is not a plain file is read or written through.
class HostileLanguageFile : public SavedLanguage {
protected:
    HostileLanguageFile() {
        fs::create_directories(outside_);
        test_support::WriteFile(victim_, Written("German"));
    }

    void ExpectVictimWhole() const {
        EXPECT_EQ(test_support::ReadFile(victim_), Written("German"));
        std::vector<fs::path> names;
        for (const auto& entry : fs::directory_iterator(outside_)) {
            names.push_back(entry.path().filename());
        }
        EXPECT_EQ(names, std::vector<fs::path>{"victim"});
    }

    fs::path outside_ = root_ / "outside";
    fs::path victim_ = outside_ / "victim";
};

TEST_F(HostileLanguageFile, WhatIsNoPlainFileIsNeitherReadNorWrittenThrough) {
    const struct {
        const char* name;
        std::function<void(const fs::path& file)> plant;
        bool error;  // a record says why the file was not read
    } cases[] = {
        {"a link at the file", [&](const fs::path& file) { fs::create_symlink(victim_, file); },
         true},
        {"a hard link at the file",
         [&](const fs::path& file) { fs::create_hard_link(victim_, file); }, true},
        {"a fifo at the file",
         [](const fs::path& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }, true},
        {"a file past 64 KiB",
         [](const fs::path& file) {
             test_support::WriteFile(file, Written("German") + std::string(64 * 1024, ' '));
         },
         true},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        fs::remove_all(language_file_.parent_path());
        fs::create_directories(language_file_.parent_path());
        each.plant(language_file_);
        Localization::Localizer localizer;
        const auto before = Count("failed to load current language. error=");
        localizer.Init(ResourceConfig());
        EXPECT_EQ(localizer.GetCurrentLanguage(), "English");
        EXPECT_EQ(Count("failed to load current language. error="), before + (each.error ? 1 : 0));
        EXPECT_EQ(Count("current_language=German"), 0u);

        localizer.SetCurrentLanguage("French");
        ExpectVictimWhole();
    }
}

TEST_F(HostileLanguageFile, ASettingsFolderThatIsALinkIsNoFolder) {
    const fs::path other = root_ / "other-program";
    fs::create_directories(other);
    test_support::WriteFile(other / "language", Written("German"));
    fs::create_directories(language_file_.parent_path().parent_path());
    fs::create_directory_symlink(other, language_file_.parent_path());
    localizer_.Init(ResourceConfig());
    EXPECT_EQ(localizer_.GetCurrentLanguage(), "English");
    EXPECT_EQ(Count("current_language=German"), 0u);
    localizer_.SetCurrentLanguage("French");
    EXPECT_EQ(test_support::ReadFile(other / "language"), Written("German"));
    EXPECT_EQ(std::distance(fs::directory_iterator(other), fs::directory_iterator()), 1);
}

TEST_F(HostileLanguageFile, ASaveReplacesALinkAtTheNameNotWhatItLeadsTo) {
    for (const bool hard : {false, true}) {
        SCOPED_TRACE(hard ? "hard link" : "link");
        fs::remove_all(language_file_.parent_path());
        fs::create_directories(language_file_.parent_path());
        if (hard) {
            fs::create_hard_link(victim_, language_file_);
        } else {
            fs::create_symlink(victim_, language_file_);
        }
        Localization::Localizer localizer;
        localizer.Init(ResourceConfig());
        localizer.SetCurrentLanguage("Spanish");
        EXPECT_FALSE(fs::is_symlink(language_file_));
        EXPECT_EQ(fs::hard_link_count(language_file_), 1u);
        EXPECT_EQ(test_support::ReadFile(language_file_), Written("Spanish"));
        ExpectVictimWhole();
    }
}

// A save writes a new file beside the old one and puts it in place in one step: a run ended
// at any moment of the save leaves the old file whole or the new one, never an empty one.
TEST_F(SavedLanguage, AnEndedSaveLeavesTheOldFileOrTheNew) {
    Save(Written("German"));
    test_support::WriteFile(language_file_.string() + ".new", "left by a run ended in a save");
    localizer_.Init(ResourceConfig());
    std::vector<std::string> seen;
    const auto look = [&] { seen.push_back(test_support::ReadFile(language_file_)); };
    const std::string new_file = language_file_.string() + ".new";
    platform::testing::BeforeCall("WriteFile", new_file, look);
    platform::testing::BeforeCall("SetFileInformationByHandle", new_file, look, -1);
    localizer_.SetCurrentLanguage("French");
    platform::testing::ClearBeforeCalls();
    ASSERT_GE(seen.size(), 2u);  // before the text is written, and before it is put in place
    for (const auto& content : seen) {
        EXPECT_EQ(content, Written("German"));
    }
    EXPECT_EQ(test_support::ReadFile(language_file_), Written("French"));
    EXPECT_FALSE(fs::exists(new_file));
}

TEST_F(SavedLanguage, AFailedWriteLeavesTheOldFileAndNoNewOne) {
    Save(Written("German"));
    localizer_.Init(ResourceConfig());
    platform::testing::SetWriteLimit(3);  // a full disk
    localizer_.SetCurrentLanguage("French");
    platform::testing::SetWriteLimit(std::nullopt);
    EXPECT_EQ(localizer_.GetCurrentLanguage(), "French");
    EXPECT_EQ(test_support::ReadFile(language_file_), Written("German"));
    EXPECT_FALSE(fs::exists(language_file_.string() + ".new"));
    EXPECT_EQ(Count("[error] ["), 0u);
}

}  // namespace
