// The "Application" object as the interface's script reaches it.
#include "app_asset.h"

#include <gtest/gtest.h>
#include <platform/testing.h>

#include <utility>

#include "engine_fixture.h"
#include "engine_stand_in/global_object.h"
#include "globals.h"

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
    EXPECT_NE(log.find("[debug] [") , std::string::npos);
    EXPECT_NE(log.find("][{anonymous}::AppAsset::SendReport]: crash_uuid=\n"), std::string::npos);
    EXPECT_NE(log.find("[error]"), std::string::npos);
    EXPECT_NE(log.find("]: no crash uuid\n"), std::string::npos);
}

TEST_F(AppAssetTest, HasNoEventsToSubscribeTo) {
    const GlobalObject app = Register({});
    const Value uuid = app.Call("on", {Value::String(u"any"), Value::Function([](auto&) { return Value(); })});
    EXPECT_EQ(uuid.Text(), u"");
    EXPECT_EQ(app.Call("removeListener", {Value::String(u"x")}).Text(), u"false");
    EXPECT_NE(Log().find("on event. unsupported event=any"), std::string::npos);
}

}  // namespace
