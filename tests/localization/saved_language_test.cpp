// The saved-language file: what a start reads from it and what a switch writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "localization_fixture.h"

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

}  // namespace
