// The "Application" object as the interface's script reaches it.
#include "src/app_asset.h"

#include <gtest/gtest.h>
#include <platform/testing.h>

#include <utility>

#include "engine_stand_in/global_object.h"
#include "src/globals.h"
#include "tests/app/engine_fixture.h"
#include "tests/support/passport_reading.h"

namespace {

using engine_stand_in::GlobalObject;
using engine_stand_in::Value;

class AppAssetTest : public EngineFixture {
protected:
    GlobalObject Register(std::vector<std::wstring> arguments) {
        arguments.insert(arguments.begin(), L"tallorin");
        platform::testing::SetCommandLineArguments(std::move(arguments));
        CreateAppAsset();
        auto object = GlobalObject::Find("Application");
        EXPECT_TRUE(object.has_value());
        EXPECT_EQ(object->asset(), g_app_asset.asset);
        return std::move(*object);
    }
    static void Release() {
        if (g_app_asset.asset != nullptr) {
            SAPI()->SciterReleaseGlobalAsset(std::exchange(g_app_asset, {}).asset);
        }
    }
    ~AppAssetTest() override {
        Release();
        platform::testing::SetCommandLineArguments({});
    }
};

TEST_F(AppAssetTest, EmailIsTheCommandLinesAndEmptyWithoutOne) {
    EXPECT_EQ(Register({L"--email", L"user@example.com"}).Get("Email").Text(), u"user@example.com");
    Release();
    const Value email = Register({L"--crash-uuid", L"U"}).Get("Email");
    EXPECT_EQ(email.type(), T_STRING);
    EXPECT_EQ(email.units(), 0u);
    EXPECT_EQ(email.Text(), u"");
}

TEST_F(AppAssetTest, WithoutACrashIdentifierNothingIsSent) {
    const GlobalObject app = Register({L"--email", L"a@b.c"});
    const Value result = app.Call("SendReport", {Value::String(u"a@b.c"), Value()});
    EXPECT_EQ(result.type(), T_UNDEFINED);
    const std::string log = Log();
    // The class lives in its source file's anonymous namespace, and its records say so.
    EXPECT_NE(log.find("][{anonymous}::AppAsset::SendReport]: send report. email=a@b.c. "
                       "description=undefined. \n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("[debug] ["), std::string::npos);
    EXPECT_NE(log.find("][{anonymous}::AppAsset::SendReport]: crash_uuid=\n"), std::string::npos);
    EXPECT_NE(log.find("[error]"), std::string::npos);
    EXPECT_NE(log.find("]: no crash uuid\n"), std::string::npos);
}

// The identifier names the dump and the archive inside the crash-files folder: one that is not
// a bare file name is refused like a missing one, before any folder is looked at.
TEST_F(AppAssetTest, ACrashIdentifierThatIsNoBareFileNameSendsNothing) {
    const wchar_t* const identifiers[] = {L"/tmp/x/victim",
                                          L"../../../../../x/victim",
                                          L".",
                                          L"..",
                                          L"a\\b",
                                          L"C:victim",
                                          L"line\nbreak",
                                          L"tab\there",
                                          L"del\x7f"};
    for (const wchar_t* identifier : identifiers) {
        SCOPED_TRACE(testing::Message() << std::wstring(identifier).size() << " units");
        const std::size_t before = Log().size();
        const GlobalObject app = Register({L"--crash-uuid", identifier});
        const Value result = app.Call("SendReport", {Value::String(u"a@b.c"), Value::String(u"d")});
        EXPECT_EQ(result.type(), T_UNDEFINED);
        const std::string log = Log().substr(before);
        EXPECT_NE(log.find("[error]"), std::string::npos) << log;
        EXPECT_NE(log.find("]: invalid crash uuid. crash_uuid="), std::string::npos) << log;
        EXPECT_EQ(log.find("report bug result"), std::string::npos) << log;
        Release();
    }
}

TEST_F(AppAssetTest, HasNoEventsToSubscribeTo) {
    const GlobalObject app = Register({});
    const Value uuid =
        app.Call("on", {Value::String(u"any"), Value::Function([](auto&) { return Value(); })});
    EXPECT_EQ(uuid.Text(), u"");
    EXPECT_EQ(app.Call("removeListener", {Value::String(u"x")}).Text(), u"false");
    EXPECT_NE(Log().find("on event. unsupported event=any"), std::string::npos);
}

// The passport as the engine reads it, and each entry wired to its own operation.
TEST_F(AppAssetTest, PassportHasTheBaseMethodsThenSendReportAndTheEmailProperty) {
    const GlobalObject app = Register({L"--email", L"user@example.com"});
    som_asset_t* const asset = app.asset();
    const som_passport_t* const passport = test_support::ExpectReadOnlyPassport(
        asset, "Application", {{"on", 2}, {"removeListener", 1}, {"SendReport", 2}}, {"Email"});
    ASSERT_NE(passport, nullptr);
    ASSERT_EQ(passport->n_methods, 3u);
    ASSERT_EQ(passport->n_properties, 1u);

    const Value function = Value::Function([](auto&) { return Value(); });
    EXPECT_EQ(
        test_support::CallEntry(asset, *passport, 0, {Value::String(u"any"), function}).Text(),
        u"");
    EXPECT_NE(Log().find("on event. unsupported event=any"), std::string::npos);
    const Value removed = test_support::CallEntry(asset, *passport, 1, {Value::String(u"x")});
    EXPECT_EQ(removed.type(), T_BOOL);
    EXPECT_EQ(removed.Text(), u"false");
    EXPECT_EQ(Log().find("send report."), std::string::npos);
    const Value sent = test_support::CallEntry(asset, *passport, 2,
                                               {Value::String(u"a@b.c"), Value::String(u"typed")});
    EXPECT_EQ(sent.type(), T_UNDEFINED);
    EXPECT_NE(Log().find("send report. email=a@b.c. description=typed. "), std::string::npos);

    Value email;
    EXPECT_TRUE(passport->properties[0].getter(asset, email.slot()));
    EXPECT_EQ(email.Text(), u"user@example.com");
}

}  // namespace
