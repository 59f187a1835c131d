// The library's languages, its current language and its change signal.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "tests/localization/localization_fixture.h"

namespace {

namespace fs = std::filesystem;
using localization_test::LocalizationTest;
using localization_test::Recorder;

template <typename Call>
std::string ErrorOf(Call call) {
    try {
        call();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(no error)";
}

constexpr char kCreateGerman[] = "create std locale. language=German";
constexpr char kCreateEnglish[] = "create std locale. language=English";

class Localizer : public LocalizationTest {};

TEST_F(Localizer, InstanceIsOneObjectAndLogsEveryCall) {
    EXPECT_EQ(&Localization::Localizer::Instance(), &Localization::Localizer::Instance());
    EXPECT_EQ(Count("] [trace] ["), 2u);
    EXPECT_EQ(Count("[Localization::Localizer::Instance]: instance\n"), 2u);
}

TEST_F(Localizer, KnowsNothingBeforeInit) {
    EXPECT_EQ(ErrorOf([&] { localizer_.GetLanguages(); }), "languages not initialized");
    EXPECT_EQ(Count("[error] ["), 1u);
    EXPECT_EQ(Count("[Localization::Localizer::GetLanguages]: languages not initialized"), 1u);
    EXPECT_EQ(localizer_.GetCurrentLanguage(), "");
}

TEST_F(Localizer, StartsWithTheShippedConfigurationInEnglish) {
    localizer_.Init(ResourceConfig());
    EXPECT_EQ(localizer_.GetLanguages(),
              (std::vector<std::string>{"English", "French", "German", "Spanish"}));
    EXPECT_EQ(localizer_.GetCurrentLanguage(), "English");
    EXPECT_EQ(Count(kCreateEnglish), 1u);
    EXPECT_EQ(Count("create std locale."), 1u);
    EXPECT_EQ(
        Count("init. app_name=Velmora Antivirus. read_localization_files_from_resources=true. "
              "zipped_resource_name=localization. zipped_resource_type_id=10. "
              "localization_files_dir_path=\n"),
        1u);
    EXPECT_FALSE(fs::exists(language_file_.parent_path()));
}

TEST_F(Localizer, RejectsConfigurationsWithoutALanguageList) {
    struct Case {
        const char* config;
        const char* error;      // of Init
        std::size_t languages;  // kept after the failure
    };
    const Case cases[] = {
        {"{}", "no languages array in config", 0},
        {"[]", "no languages array in config", 0},
        {R"({"languages": "English"})", "languages not an array", 0},
        {R"({"languages": []})", "no language to start with", 0},
        {R"({"languages": ["English", 5, "French"]})", "", 1},  // the JSON library's type error
        {R"({"languages": ["English"] // comment
            })",
         "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.config);
        Localization::Localizer localizer;
        const std::string error = ErrorOf([&] { localizer.Init(FolderConfig(c.config)); });
        if (*c.error != '\0') {
            EXPECT_EQ(error, c.error);
            EXPECT_NE(Log().find(std::string("]: ") + c.error + "\n"), std::string::npos);
        } else {
            EXPECT_NE(error, "(no error)");
        }
        if (c.languages == 0) {
            EXPECT_EQ(ErrorOf([&] { localizer.GetLanguages(); }), "languages not initialized");
        } else {
            EXPECT_EQ(localizer.GetLanguages().size(), c.languages);
        }
        EXPECT_EQ(localizer.GetCurrentLanguage(), "");
    }
}

TEST_F(Localizer, SwitchesSavesAndSignalsOnce) {
    localizer_.Init(ResourceConfig());
    Recorder first, second;
    const auto a = localizer_.AttachOnLanguageChanged(first.Slot());
    std::vector<std::string> order;
    const auto b =
        localizer_.AttachOnLanguageChanged([&](const std::string&) { order.push_back("b"); });
    const auto c = localizer_.AttachOnLanguageChanged(second.Slot());
    const auto d =
        localizer_.AttachOnLanguageChanged([&](const std::string&) { order.push_back("d"); });

    localizer_.SetCurrentLanguage("German");
    EXPECT_EQ(first.calls, std::vector<std::string>{"German"});
    EXPECT_EQ(second.calls, std::vector<std::string>{"German"});
    EXPECT_EQ(order, (std::vector<std::string>{"b", "d"}));
    EXPECT_EQ(localizer_.GetCurrentLanguage(), "German");
    EXPECT_NE(test_support::ReadFile(language_file_).find("\"German\""), std::string::npos);
    EXPECT_EQ(Count("set current language. language=German\n"), 1u);
    EXPECT_EQ(Count("set current language internal. language=German. save=true\n"), 1u);
    EXPECT_EQ(Count(kCreateGerman), 1u);

    // The same language again changes nothing.
    fs::remove(language_file_);
    localizer_.SetCurrentLanguage("German");
    EXPECT_EQ(first.calls.size(), 1u);
    EXPECT_EQ(Count("[error] ["), 1u);
    EXPECT_EQ(Count("same language already set. language=German\n"), 1u);
    EXPECT_FALSE(fs::exists(language_file_));

    // Back to English: the locale of the start is reused.
    localizer_.SetCurrentLanguage("English");
    EXPECT_EQ(first.calls, (std::vector<std::string>{"German", "English"}));
    EXPECT_EQ(second.calls, (std::vector<std::string>{"German", "English"}));
    EXPECT_EQ(Count(kCreateEnglish), 1u);
    EXPECT_NE(test_support::ReadFile(language_file_).find("\"English\""), std::string::npos);
    localizer_.SetCurrentLanguage("German");
    EXPECT_EQ(Count(kCreateGerman), 1u);
}

TEST_F(Localizer, RefusesNamesThatAreNotConfigured) {
    localizer_.Init(ResourceConfig());
    Recorder recorder;
    const auto connection = localizer_.AttachOnLanguageChanged(recorder.Slot());
    for (const char* name : {"german", "Latin", ""}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ErrorOf([&] { localizer_.SetCurrentLanguage(name); }), "no language");
        EXPECT_EQ(Count(std::string("]: no language. language=") + name + "\n"), 1u);
    }
    EXPECT_EQ(localizer_.GetCurrentLanguage(), "English");
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_FALSE(fs::exists(language_file_));
}

TEST_F(Localizer, SlotsMayCallBackIntoTheLibrary) {
    localizer_.Init(ResourceConfig());
    std::string seen_language;
    std::wstring seen_text;
    const auto connection = localizer_.AttachOnLanguageChanged([&](const std::string&) {
        seen_language = localizer_.GetCurrentLanguage();
        seen_text = localizer_.Localize(L"Critical Error", L"");
    });
    localizer_.SetCurrentLanguage("German");
    EXPECT_EQ(seen_language, "German");
    EXPECT_EQ(seen_text, L"Kritischer Fehler");
}

TEST_F(Localizer, AFailingSlotStopsTheRestAfterTheSwitch) {
    localizer_.Init(ResourceConfig());
    Recorder later;
    const auto failing = localizer_.AttachOnLanguageChanged(
        [](const std::string&) { throw std::runtime_error("slot failed"); });
    const auto after = localizer_.AttachOnLanguageChanged(later.Slot());
    EXPECT_EQ(ErrorOf([&] { localizer_.SetCurrentLanguage("French"); }), "slot failed");
    EXPECT_EQ(localizer_.GetCurrentLanguage(), "French");
    EXPECT_TRUE(fs::exists(language_file_));
    EXPECT_TRUE(later.calls.empty());
}

TEST_F(Localizer, ADisconnectedSlotIsNotCalled) {
    localizer_.Init(ResourceConfig());
    Recorder recorder;
    {
        const boost::signals2::scoped_connection connection =
            localizer_.AttachOnLanguageChanged(recorder.Slot());
    }
    localizer_.SetCurrentLanguage("Spanish");
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_EQ(Count("attach on language changed\n"), 1u);
}

TEST_F(Localizer, FolderModeWithoutACatalogueLeavesTextsUntranslated) {
    // "french.mo" does not serve "French": names match with case.
    fs::copy_file(fs::path(CATALOGUE_DIR) / "French.mo", files_ / "french.mo");
    localizer_.Init(FolderConfig(R"({"languages": ["English", "French"]})"));
    localizer_.SetCurrentLanguage("French");
    EXPECT_EQ(localizer_.GetCurrentLanguage(), "French");
    EXPECT_EQ(localizer_.Localize(L"Critical Error", L""), L"Critical Error");
    EXPECT_EQ(Count("read file content from filesystem. file_name=French.mo\n"), 1u);
}

TEST_F(Localizer, FolderModeReadsTheCataloguesOfTheFolder) {
    files_ = root_ / "Données ü" / "локализация";  // as under a user's profile
    fs::create_directories(files_);
    fs::copy_file(fs::path(CATALOGUE_DIR) / "German.mo", files_ / "German.mo");
    localizer_.Init(FolderConfig(R"({"languages": ["German", "English"]})"));
    EXPECT_EQ(localizer_.GetCurrentLanguage(), "German");  // the first one listed
    EXPECT_EQ(localizer_.Localize(L"cancel", L""), L"ABBRECHEN");
    EXPECT_EQ(Count("localization_files_dir_path=" + files_.string() + "\n"), 1u);
}

TEST_F(Localizer, ResourceModeWithoutACatalogueFailsTheSwitch) {
    auto config = ResourceConfig();
    config.zipped_resource_name = L"italian";
    localizer_.Init(config);
    Recorder recorder;
    const auto connection = localizer_.AttachOnLanguageChanged(recorder.Slot());
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        EXPECT_EQ(ErrorOf([&] { localizer_.SetCurrentLanguage("Italian"); }), "no item in archive");
        // Nothing was cached: the next attempt builds the locale again.
        EXPECT_EQ(Count("create std locale. language=Italian\n"),
                  static_cast<std::size_t>(attempt));
    }
    EXPECT_EQ(localizer_.GetCurrentLanguage(), "English");
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_FALSE(fs::exists(language_file_));
}

}  // namespace
