#include "src/base_asset.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "engine_stand_in/global_object.h"
#include "sciter/sapi.h"
#include "src/logging.h"
#include "tests/support/temp_dir.h"

namespace {

using engine_stand_in::GlobalObject;
using engine_stand_in::LiveValueCount;
using engine_stand_in::Value;

// A script object with the one event "language-changed", or with none.
template <bool kWithEvent>
class Scripted : public BaseAsset<Scripted<kWithEvent>> {
public:
    Scripted()
        : BaseAsset<Scripted>(
              kWithEvent ? std::vector<std::wstring>{L"language-changed", L"language-changed"}
                         : std::vector<std::wstring>{}) {}

    som_passport_t* asset_get_passport() const override {
        static const auto tables =
            BaseAsset<Scripted>::PassportTables(std::array<sciter::om::method_entry, 0>{});
        static som_passport_t passport{};
        return tables.fill(passport, kWithEvent ? "Talker" : "Silent");
    }
};
using Talker = Scripted<true>;
using Silent = Scripted<false>;

// Both objects registered as globals, reached by the script through their thunks, with the
// log written to a real file at trace level.
class Events : public ::testing::Test {
protected:
    Events() {
        LoggerSettings settings;
        settings.log_dir_path = (folder_ / "logs").wstring();
        settings.level = 0;
        settings.max_file_size = 20 * 1024 * 1024;
        SetupDefaultLogger(settings);
        talker_ = new Talker();
        silent_ = new Silent();
        SAPI()->SciterSetGlobalAsset(talker_);
        SAPI()->SciterSetGlobalAsset(silent_);
        talker_found_ = GlobalObject::Find("Talker");
        silent_found_ = GlobalObject::Find("Silent");
    }
    ~Events() override {
        talker_found_.reset();
        silent_found_.reset();
        SAPI()->SciterReleaseGlobalAsset(talker_);
        SAPI()->SciterReleaseGlobalAsset(silent_);
        EXPECT_EQ(LiveValueCount(), live_) << "a handler value outlived its object";
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("reset"));
    }

    // The uuid that `on` gives the script, as text.
    std::u16string On(const GlobalObject& object, const std::u16string& event,
                      const Value& handler) {
        const Value uuid = object.Call("on", {Value::String(event), handler});
        EXPECT_EQ(uuid.type(), T_STRING);
        return uuid.Text();
    }
    bool RemoveListener(const GlobalObject& object, const std::u16string& uuid) {
        const Value removed = object.Call("removeListener", {Value::String(uuid)});
        EXPECT_EQ(removed.type(), T_BOOL);
        return removed.Text() == u"true";
    }
    static Value Counting(int& calls) {
        return Value::Function([&calls](const auto&) {
            ++calls;
            return Value();
        });
    }

    // Records of the log file that carry `level` and end with `message`, from base_asset.h.
    int CountLines(const std::string& level, const std::string& message) const {
        std::istringstream lines(ReadLog());
        int count = 0;
        for (std::string line; std::getline(lines, line);) {
            if (line.find("] [" + level + "] ") != std::string::npos &&
                line.find("[tallorin:base_asset.h:") != std::string::npos &&
                line.ends_with("]: " + message)) {
                ++count;
            }
        }
        return count;
    }
    std::string ReadLog() const {
        std::string content;
        for (const auto& entry : std::filesystem::directory_iterator(folder_ / "logs")) {
            content += test_support::ReadFile(entry.path());
        }
        return content;
    }
    static std::string Utf8(const std::u16string& text) { return {text.begin(), text.end()}; }

    const std::size_t live_ = LiveValueCount();
    test_support::TempDir folder_;
    Talker* talker_;
    Silent* silent_;
    std::optional<GlobalObject> talker_found_;
    std::optional<GlobalObject> silent_found_;
    const GlobalObject& talker_object_ = *talker_found_;
    const GlobalObject& silent_object_ = *silent_found_;
};

TEST_F(Events, OnGivesANewVersionFourUuidForEverySubscription) {
    int calls = 0;
    const Value handler = Counting(calls);
    const std::u16string first = On(talker_object_, u"language-changed", handler);
    const std::u16string second = On(talker_object_, u"language-changed", handler);
    const std::u16string third = On(talker_object_, u"language-changed", Value::Object());
    const std::regex shape("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    for (const auto& uuid : {first, second, third}) {
        EXPECT_TRUE(std::regex_match(Utf8(uuid), shape)) << Utf8(uuid);
    }
    EXPECT_NE(first, second);
    EXPECT_NE(second, third);
    EXPECT_EQ(CountLines("trace", "on event. event=language-changed"), 3);

    talker_->FireEvent(L"language-changed", "German");
    EXPECT_EQ(calls, 2);  // once per subscription; the object handler cannot be called
}

TEST_F(Events, OnRefusesBadHandlersAndUnknownEvents) {
    int calls = 0;
    struct Case {
        const GlobalObject* object;
        std::u16string event;
        Value handler;
        int warnings;
        int errors;
    };
    const Case cases[] = {
        {&talker_object_, u"language-changed", Value::Integer(5), 1, 0},
        {&talker_object_, u"language-changed", Value::String(u"f"), 1, 0},
        {&talker_object_, u"Language-Changed", Counting(calls), 0, 1},
        {&talker_object_, u"no-such-event", Value::Integer(5), 1, 0},  // the handler test first
        {&silent_object_, u"language-changed", Counting(calls), 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf8(c.event) + " " + Utf8(c.handler.Text()));
        const int warnings =
            CountLines("warning", "on event. invalid handler type. event=" + Utf8(c.event));
        const int errors = CountLines("error", "on event. unsupported event=" + Utf8(c.event));
        EXPECT_EQ(On(*c.object, c.event, c.handler), u"");
        EXPECT_EQ(CountLines("warning", "on event. invalid handler type. event=" + Utf8(c.event)),
                  warnings + c.warnings);
        EXPECT_EQ(CountLines("error", "on event. unsupported event=" + Utf8(c.event)),
                  errors + c.errors);
    }
    talker_->FireEvent(L"language-changed", "German");
    EXPECT_EQ(calls, 0);
}

TEST_F(Events, RemoveListenerAnswersTrueOnceThenFalse) {
    int calls = 0;
    const std::u16string uuid = On(talker_object_, u"language-changed", Counting(calls));
    EXPECT_FALSE(RemoveListener(silent_object_, uuid));  // valid only on its own object
    EXPECT_TRUE(RemoveListener(talker_object_, uuid));
    EXPECT_FALSE(RemoveListener(talker_object_, uuid));
    talker_->FireEvent(L"language-changed", "German");
    EXPECT_EQ(calls, 0);

    EXPECT_EQ(CountLines("trace", "remove listener. connection_uuid=" + Utf8(uuid)), 3);
    EXPECT_EQ(CountLines("trace", "listener removed. connection_uuid=" + Utf8(uuid)), 1);
    EXPECT_EQ(CountLines("error", "no listener found. connection_uuid=" + Utf8(uuid)), 2);
}

TEST_F(Events, FireEventPassesItsUtf8TextAsAStringValue) {
    std::vector<Value> received;
    const Value handler = Value::Function([&](const std::vector<Value>& arguments) {
        received.insert(received.end(), arguments.begin(), arguments.end());
        return Value();
    });
    On(talker_object_, u"language-changed", handler);
    talker_->FireEvent(L"language-changed", "German");
    talker_->FireEvent(L"language-changed",
                       "Fran\xC3\xA7"
                       "ais");
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].type(), T_STRING);
    EXPECT_EQ(received[0].Text(), u"German");
    EXPECT_EQ(received[1].Text(), u"Fran\u00E7ais");
    received.clear();
    EXPECT_EQ(CountLines("trace", "fire event. event=language-changed"), 2);

    silent_->FireEvent(L"language-changed", "German");
    EXPECT_EQ(CountLines("error", "fire event. unsupported event=language-changed"), 1);
}

TEST_F(Events, FireWithoutListenersOnlyLogsItsTraceLine) {
    talker_->FireEvent(L"language-changed", "German");
    EXPECT_EQ(CountLines("trace", "fire event. event=language-changed"), 1);
    EXPECT_EQ(ReadLog().find("[error]"), std::string::npos);
}

TEST_F(Events, AHandlerRemovingItselfIsGoneAfterTheFire) {
    std::u16string uuid;
    int calls = 0;
    bool answered = false;
    uuid = On(talker_object_, u"language-changed", Value::Function([&](const auto&) {
                  ++calls;
                  answered = RemoveListener(talker_object_, uuid);
                  return Value();
              }));
    int other_calls = 0;
    On(talker_object_, u"language-changed", Counting(other_calls));

    talker_->FireEvent(L"language-changed", "German");
    EXPECT_TRUE(answered);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(other_calls, 1);
    EXPECT_FALSE(RemoveListener(talker_object_, uuid));
    talker_->FireEvent(L"language-changed", "German");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(other_calls, 2);
}

TEST_F(Events, AHandlerRemovingAListenerNotYetCalledKeepsItFromBeingCalled) {
    // Each removes the other; whichever the walk reaches first keeps the other from running.
    std::u16string first_uuid;
    std::u16string second_uuid;
    int first_calls = 0;
    int second_calls = 0;
    first_uuid = On(talker_object_, u"language-changed", Value::Function([&](const auto&) {
                        ++first_calls;
                        RemoveListener(talker_object_, second_uuid);
                        return Value();
                    }));
    second_uuid = On(talker_object_, u"language-changed", Value::Function([&](const auto&) {
                         ++second_calls;
                         RemoveListener(talker_object_, first_uuid);
                         return Value();
                     }));
    talker_->FireEvent(L"language-changed", "German");
    EXPECT_EQ(first_calls + second_calls, 1);
    talker_->FireEvent(L"language-changed", "German");
    EXPECT_EQ(first_calls + second_calls, 2);
    EXPECT_TRUE(first_calls == 2 || second_calls == 2);
}

TEST_F(Events, AHandlerSubscribingDuringAFireIsCalledFromTheNextFire) {
    int added_calls = 0;
    int subscriber_calls = 0;
    const Value added = Counting(added_calls);
    On(talker_object_, u"language-changed", Value::Function([&](const auto&) {
           ++subscriber_calls;
           EXPECT_NE(On(talker_object_, u"language-changed", added), u"");
           return Value();
       }));
    talker_->FireEvent(L"language-changed", "German");
    EXPECT_EQ(subscriber_calls, 1);
    EXPECT_EQ(added_calls, 0);
    talker_->FireEvent(L"language-changed", "German");
    EXPECT_EQ(subscriber_calls, 2);
    EXPECT_EQ(added_calls, 1);
}

TEST_F(Events, AFireInsideAFireWalksBothAndErasesAfterTheOuterOne) {
    std::u16string uuid;
    int calls = 0;
    uuid = On(talker_object_, u"language-changed", Value::Function([&](const auto&) {
                  if (++calls == 1) {
                      talker_->FireEvent(L"language-changed", "French");  // runs this handler again
                      EXPECT_TRUE(RemoveListener(talker_object_, uuid));
                  }
                  return Value();
              }));
    talker_->FireEvent(L"language-changed", "German");
    EXPECT_EQ(calls, 2);
    talker_->FireEvent(L"language-changed", "German");
    EXPECT_EQ(calls, 2);
}

TEST_F(Events, ListenersLeftAtDestructionAreReleased) {
    const std::size_t before = LiveValueCount();
    int calls = 0;
    On(talker_object_, u"language-changed", Counting(calls));
    On(talker_object_, u"language-changed", Value::Object());
    EXPECT_EQ(LiveValueCount(), before + 2);  // the listeners' copies only
    // The fixture's release destroys the object and checks nothing was left behind.
}

}  // namespace
