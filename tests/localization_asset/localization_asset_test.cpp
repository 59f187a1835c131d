#include "src/localization_asset.h"

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine_stand_in/global_object.h"
#include "engine_stand_in/value.h"
#include "sciter/sapi.h"
#include "src/globals.h"
#include "src/init_localization.h"
#include "src/logging.h"
#include "tests/support/passport_reading.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using engine_stand_in::GlobalObject;
using engine_stand_in::LiveValueCount;
using engine_stand_in::Value;

// The program's start-up, once for the whole test program: the log at trace level in a
// sandbox, the library started from the executable's resources (English: no language file),
// and the object registered as the global "Localizer".
class Sandbox : public ::testing::Environment {
public:
    void SetUp() override {
        fs::create_directories(root_ / "ProgramData");
        fs::create_directories(root_ / "AppData" / "Roaming");
        LoggerSettings settings;
        settings.log_dir_path = (root_ / "logs").wstring();
        settings.level = 0;
        settings.max_file_size = 20 * 1024 * 1024;
        SetupDefaultLogger(settings);
        InitLocalization();
        CreateLocalizationAsset();
    }
    void TearDown() override {
        SAPI()->SciterReleaseGlobalAsset(std::exchange(g_localization_asset, {}).asset);
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("reset"));
    }

    static std::string LogText() {
        for (const auto& entry : fs::directory_iterator(Root() / "logs")) {
            return test_support::ReadFile(entry.path());
        }
        return {};
    }
    static fs::path Root() { return instance->root_.path(); }

    static inline Sandbox* instance = nullptr;

private:
    test_support::TempDir root_;
    test_support::ScopedEnv env_{"PLATFORM_ROOT", root_.path().string()};
};

const auto* const kSandbox = [] {
    Sandbox::instance = new Sandbox();
    return ::testing::AddGlobalTestEnvironment(Sandbox::instance);
}();

class LocalizerObject : public ::testing::Test {
protected:
    LocalizerObject() : live_(LiveValueCount()) {}
    ~LocalizerObject() override {
        // Each test leaves the library in English.
        if (object_->Call("GetCurrentLanguage", {}).Text() != u"English") {
            object_->Call("SetCurrentLanguage", {Value::String(u"English")});
        }
        object_.reset();
        EXPECT_EQ(LiveValueCount(), live_) << "a script value outlived its test";
    }

    Value Call(const char* method, std::vector<Value> arguments) const {
        return object_->Call(method, arguments);
    }

    std::size_t live_;
    std::optional<GlobalObject> object_ = GlobalObject::Find("Localizer");
};

TEST_F(LocalizerObject, TranslatesWithAndWithoutContext) {
    ASSERT_TRUE(object_.has_value());
    Call("SetCurrentLanguage", {Value::String(u"German")});
    const std::u16string plain = Call("Localize", {Value::String(u"Critical Error")}).Text();
    EXPECT_NE(plain, u"Critical Error");
    EXPECT_EQ(Call("Localize", {Value::String(u"Critical Error"), Value::String(u"")}).Text(),
              plain);
    EXPECT_EQ(Call("Localize", {Value::String(u"Critical Error"), Value()}).Text(), plain);
    // "Email" is the one text of the window that no catalogue translates.
    EXPECT_EQ(Call("Localize", {Value::String(u"Email")}).Text(), u"Email");
    EXPECT_EQ(Call("Localize", {Value::String(u"")}).Text(), u"");

    const std::string log = Sandbox::LogText();
    // The class lives in its source file's anonymous namespace, and its records say so.
    EXPECT_NE(log.find("[{anonymous}::LocalizationAsset::Localize]: localize. text=Critical Error"),
              std::string::npos);
    EXPECT_NE(log.find("]: localized_text="), std::string::npos);
}

TEST_F(LocalizerObject, LooksTextUpUnderTheGivenContext) {
    Call("SetCurrentLanguage", {Value::String(u"German")});
    const Value sorry =
        Value::String(u"We\u2019re sorry, the information you were working on might be lost.");
    // The paragraph is translated only under its context "description".
    EXPECT_EQ(Call("Localize", {sorry}).Text(), sorry.Text());
    EXPECT_TRUE(Call("Localize", {sorry, Value::String(u"description")})
                    .Text()
                    .starts_with(u"Es tut uns leid!"));
    // A context the catalogues do not know leaves a text as it is, even one that has a
    // translation without context.
    EXPECT_EQ(
        Call("Localize", {Value::String(u"Critical Error"), Value::String(u"no-such-context")})
            .Text(),
        u"Critical Error");
}

TEST_F(LocalizerObject, ListsTheFourLanguagesInOrder) {
    const Value languages = Call("GetLanguages", {});
    ASSERT_EQ(languages.type(), T_ARRAY);
    EXPECT_EQ(languages.Text(), u"English,French,German,Spanish");
    EXPECT_EQ(Call("GetCurrentLanguage", {}).Text(), u"English");
}

// The passport as the engine reads it, and each entry wired to its own operation.
TEST_F(LocalizerObject, PassportHasTheBaseMethodsThenItsOwnAndNoProperties) {
    ASSERT_TRUE(object_.has_value());
    som_asset_t* const asset = object_->asset();
    const som_passport_t* const passport =
        test_support::ExpectReadOnlyPassport(asset, "Localizer",
                                             {{"on", 2},
                                              {"removeListener", 1},
                                              {"GetLanguages", 0},
                                              {"GetCurrentLanguage", 0},
                                              {"SetCurrentLanguage", 1},
                                              {"Localize", 2}},
                                             {});
    ASSERT_NE(passport, nullptr);
    ASSERT_EQ(passport->n_methods, 6u);

    const auto call = [&](std::size_t index, std::vector<Value> arguments) {
        return test_support::CallEntry(asset, *passport, index, arguments);
    };
    const Value function = Value::Function([](const auto&) { return Value(); });
    const Value uuid = call(0, {Value::String(u"language-changed"), function});
    EXPECT_EQ(uuid.Text().size(), 36u);
    const Value removed = call(1, {uuid});
    EXPECT_EQ(removed.type(), T_BOOL);
    EXPECT_EQ(removed.Text(), u"true");
    const Value languages = call(2, {});
    EXPECT_EQ(languages.type(), T_ARRAY);
    EXPECT_EQ(languages.Text(), u"English,French,German,Spanish");
    EXPECT_EQ(call(3, {}).Text(), u"English");
    const Value refused = call(4, {Value::String(u"Klingon")});
    EXPECT_EQ(refused.units(), static_cast<UINT>(UT_STRING_ERROR));
    EXPECT_EQ(refused.Text(), u"no language");
    EXPECT_EQ(call(5, {Value::String(u"Email")}).Text(), u"Email");
}

TEST_F(LocalizerObject, FiresLanguageChangedToEveryListenerBeforeTheCallReturns) {
    std::vector<std::u16string> first, second;
    const auto recorder = [](std::vector<std::u16string>& calls) {
        return Value::Function([&calls](const std::vector<Value>& arguments) {
            calls.push_back(arguments.empty() ? u"(none)" : arguments.front().Text());
            return Value();
        });
    };
    const Value uuid_first = Call("on", {Value::String(u"language-changed"), recorder(first)});
    const Value uuid_second = Call("on", {Value::String(u"language-changed"), recorder(second)});
    EXPECT_EQ(uuid_first.Text().size(), 36u);
    EXPECT_EQ(Call("on", {Value::String(u"other-event"), recorder(first)}).Text(), u"");

    const Value result = Call("SetCurrentLanguage", {Value::String(u"German")});
    EXPECT_EQ(result.type(), T_UNDEFINED);
    EXPECT_EQ(first, std::vector<std::u16string>{u"German"});
    EXPECT_EQ(second, std::vector<std::u16string>{u"German"});

    // The language that is current already: no event, still undefined.
    EXPECT_EQ(Call("SetCurrentLanguage", {Value::String(u"German")}).type(), T_UNDEFINED);
    EXPECT_EQ(first.size(), 1u);

    // An unknown name: the library's error reaches the script as an error value.
    const Value unknown = Call("SetCurrentLanguage", {Value::String(u"Klingon")});
    EXPECT_EQ(unknown.type(), T_STRING);
    EXPECT_EQ(unknown.units(), static_cast<UINT>(UT_STRING_ERROR));
    EXPECT_EQ(unknown.Text(), u"no language");
    EXPECT_EQ(first.size(), 1u);

    EXPECT_EQ(Call("removeListener", {uuid_first}).Text(), u"true");
    EXPECT_EQ(Call("removeListener", {uuid_second}).Text(), u"true");
    EXPECT_NE(
        Sandbox::LogText().find("on LanguageChanged default handler. fire - language-changed"),
        std::string::npos);
}

TEST_F(LocalizerObject, AListenerMayCallBackIntoTheObject) {
    std::u16string seen_language, seen_text;
    const Value listener = Value::Function([&](const std::vector<Value>&) {
        seen_language = object_->Call("GetCurrentLanguage", {}).Text();
        seen_text = object_->Call("Localize", {Value::String(u"Critical Error")}).Text();
        return Value();
    });
    const Value uuid = Call("on", {Value::String(u"language-changed"), listener});
    Call("SetCurrentLanguage", {Value::String(u"French")});
    EXPECT_EQ(seen_language, u"French");
    EXPECT_NE(seen_text, u"Critical Error");
    Call("removeListener", {uuid});
}

TEST_F(LocalizerObject, DisconnectedSignalsReachNoListener) {
    int calls = 0;
    const Value uuid =
        Call("on", {Value::String(u"language-changed"), Value::Function([&](const auto&) {
                        ++calls;
                        return Value();
                    })});
    // What the main window does at close, before it releases the registration.
    g_localization_asset.connections->clear();
    Call("SetCurrentLanguage", {Value::String(u"Spanish")});
    EXPECT_EQ(calls, 0);
    Call("removeListener", {uuid});
}

}  // namespace
