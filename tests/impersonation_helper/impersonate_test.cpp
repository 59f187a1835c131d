#include "internal_libraries/impersonation_helper/src/impersonate.h"

#include <gtest/gtest.h>
#include <platform/testing.h>
#include <win_error.h>

#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "tests/support/log_records.h"

namespace {

namespace testing_api = platform::testing;
using ImpersonationHelper::GetUserTokenFromSession;
using ImpersonationHelper::ImpersonationScope;
using ImpersonationHelper::TokenHandle;

constexpr char kTrace[] = "trace [impersonation_helper_lib_mt:impersonate.cpp] ";
constexpr char kError[] = "error [impersonation_helper_lib_mt:impersonate.cpp] ";

std::string Trace(const std::string& message) { return kTrace + message; }
std::string Error(const std::string& message) { return kError + message; }

// The process runs as SYSTEM in session 0; alice is logged on to session 1.
class Impersonation : public ::testing::Test {
protected:
    Impersonation() {
        testing_api::Reset();
        testing_api::SetProcessSessionId(0);
        testing_api::SetProcessToken({L"SYSTEM"});
        testing_api::SetSessions({{0, WTSDisconnected, L"Services"}, {1, WTSActive, L"Console"}});
        testing_api::SetSessionToken(1, testing_api::TokenSpec{L"alice"});
    }
    ~Impersonation() override { testing_api::Reset(); }

    test_support::LogFile log_;
};

TEST_F(Impersonation, OwnSessionHoldsTheProcessTokenAndImpersonatesNobody) {
    {
        const ImpersonationScope scope(0);
        EXPECT_FALSE(testing_api::ImpersonatedToken());
        EXPECT_EQ(testing_api::ActingUser(), L"SYSTEM");
        EXPECT_EQ(test_support::LogFile::HandlesBesideLogFiles(), 1u);
        EXPECT_EQ(testing_api::RecordedCalls("OpenProcessToken").at(0).arguments,
                  L"access=" + std::to_wstring(0x2000B));
    }
    EXPECT_EQ(test_support::LogFile::HandlesBesideLogFiles(), 0u);
    EXPECT_TRUE(testing_api::RecordedCalls("ImpersonateLoggedOnUser").empty());
    EXPECT_TRUE(testing_api::RecordedCalls("GetTokenInformation").empty());
    EXPECT_EQ(log_.Briefs(),
              (std::vector<std::string>{Trace("impersonating user of session=00000000..."),
                                        Trace("no impersonation needed, already the same user."),
                                        Trace("impersonating back to self.")}));
}

TEST_F(Impersonation, ActsAsTheSessionUserForTheScopeOnly) {
    testing_api::SetSessionToken(0x1A2B, testing_api::TokenSpec{L"bob"});
    for (const DWORD session : {DWORD{1}, DWORD{0x1A2B}}) {
        SCOPED_TRACE(session);
        const std::wstring user = session == 1 ? L"alice" : L"bob";
        {
            const ImpersonationScope scope(session);
            EXPECT_EQ(testing_api::ActingUser(), user);
            EXPECT_EQ(test_support::LogFile::HandlesBesideLogFiles(), 1u);
        }
        EXPECT_EQ(testing_api::ActingUser(), L"SYSTEM");
        EXPECT_EQ(test_support::LogFile::HandlesBesideLogFiles(), 0u);
    }
    EXPECT_EQ(log_.Briefs(),
              (std::vector<std::string>{Trace("impersonating user of session=00000001..."),
                                        Trace("impersonating back to self."),
                                        Trace("impersonating user of session=00001a2b..."),
                                        Trace("impersonating back to self.")}));
}

TEST_F(Impersonation, UnknownSessionDoesNothing) {
    { const ImpersonationScope scope(0xFFFFFFFF); }
    EXPECT_TRUE(testing_api::RecordedCalls().empty());
    EXPECT_TRUE(log_.Briefs().empty());
}

TEST_F(Impersonation, LimitedTokenIsSwappedForItsLinkedToken) {
    testing_api::SetSessionToken(1, testing_api::TokenSpec{L"alice", TokenElevationTypeLimited});
    {
        const ImpersonationScope scope(1);
        const auto token = testing_api::ImpersonatedToken();
        ASSERT_TRUE(token);
        EXPECT_EQ(token->user, L"alice");
        EXPECT_EQ(token->elevation, TokenElevationTypeFull);
        EXPECT_EQ(test_support::LogFile::HandlesBesideLogFiles(), 1u);  // the limited one is closed
    }
    EXPECT_EQ(test_support::LogFile::HandlesBesideLogFiles(), 0u);
    EXPECT_EQ(log_.Briefs(),
              (std::vector<std::string>{Trace("impersonating user of session=00000001..."),
                                        Trace("token is not elevated, getting the right one"),
                                        Trace("impersonating back to self.")}));
}

TEST_F(Impersonation, FullTokenIsUsedAsItIs) {
    testing_api::SetSessionToken(1, testing_api::TokenSpec{L"alice", TokenElevationTypeFull});
    const ImpersonationScope scope(1);
    EXPECT_EQ(testing_api::ImpersonatedToken()->elevation, TokenElevationTypeFull);
    EXPECT_EQ(testing_api::RecordedCalls("GetTokenInformation").size(), 1u);
}

TEST_F(Impersonation, EveryFailureIsLoggedThrownAndLeaksNoToken) {
    struct Case {
        const char* name;
        void (*arrange)();
        DWORD error;
        const char* line;
        const char* system_text;  // Windows' own, as the thrown error carries it
    };
    const Case cases[] = {
        {"no user token", [] { testing_api::FailCall("WTSQueryUserToken", ERROR_ACCESS_DENIED); },
         ERROR_ACCESS_DENIED, "failed to get user token of session=00000001. system says 5.",
         "Access is denied."},
        {"nobody logged on", [] { testing_api::SetSessionToken(1, std::nullopt); }, ERROR_NO_TOKEN,
         "failed to get user token of session=00000001. system says 1008.",
         "An attempt was made to reference a token that does not exist."},
        {"elevation type",
         [] { testing_api::FailCall("GetTokenInformation", ERROR_INVALID_PARAMETER); },
         ERROR_INVALID_PARAMETER,
         "failed to get token information of session=00000001. system says 87.",
         "The parameter is incorrect."},
        {"linked token",
         [] {
             testing_api::SetSessionToken(
                 1, testing_api::TokenSpec{L"alice", TokenElevationTypeLimited, false});
         },
         ERROR_NO_SUCH_LOGON_SESSION,
         "failed to get token information of session=00000001. system says 1312.",
         "A specified logon session does not exist. It may already have been terminated."},
        {"impersonation",
         [] { testing_api::FailCall("ImpersonateLoggedOnUser", ERROR_PRIVILEGE_NOT_HELD); },
         ERROR_PRIVILEGE_NOT_HELD, "failed to impersonate logged on user. system says 1314.",
         "A required privilege is not held by the client."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing_api::ClearFailures();
        testing_api::SetSessionToken(1, testing_api::TokenSpec{L"alice"});
        c.arrange();
        const test_support::LogFile log;
        try {
            const ImpersonationScope scope(1);
            ADD_FAILURE() << "no exception";
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code().value(), static_cast<int>(c.error));
            EXPECT_EQ(e.code().category(), win_error::system_category());
            EXPECT_EQ(std::string(e.what()),
                      std::string("failed to impersonate user: ") + c.system_text);
        }
        EXPECT_EQ(log.Briefs().back(), Error(c.line));
        EXPECT_EQ(test_support::LogFile::HandlesBesideLogFiles(), 0u);
        EXPECT_FALSE(testing_api::ImpersonatedToken());
    }
}

TEST_F(Impersonation, OwnProcessTokenThatCannotBeOpenedIsOnlyLogged) {
    testing_api::FailCall("OpenProcessToken", ERROR_ACCESS_DENIED);
    { const ImpersonationScope scope(0); }
    EXPECT_TRUE(testing_api::RecordedCalls("RevertToSelf").empty());
    EXPECT_EQ(log_.Briefs(),
              (std::vector<std::string>{Trace("impersonating user of session=00000000..."),
                                        Trace("no impersonation needed, already the same user."),
                                        Error("failed to get current user user token. error=5")}));
}

TEST_F(Impersonation, FailedRevertStillClosesTheToken) {
    {
        const ImpersonationScope scope(1);
        testing_api::FailCall("RevertToSelf", ERROR_ACCESS_DENIED, 1);
    }
    EXPECT_EQ(test_support::LogFile::HandlesBesideLogFiles(), 0u);
}

TEST_F(Impersonation, ImpersonationBelongsToTheCallingThread) {
    const ImpersonationScope scope(1);
    std::wstring other_thread_user;
    std::thread([&] { other_thread_user = testing_api::ActingUser(); }).join();
    EXPECT_EQ(other_thread_user, L"SYSTEM");
    EXPECT_EQ(testing_api::ActingUser(), L"alice");
}

TEST_F(Impersonation, GetUserTokenFromSessionTellsWhetherTheSessionIsOwn) {
    bool own = false;
    {
        const TokenHandle token = GetUserTokenFromSession(0, &own);
        EXPECT_TRUE(own);
        EXPECT_TRUE(token);
    }
    {
        const TokenHandle token = GetUserTokenFromSession(1, &own);
        EXPECT_FALSE(own);
        EXPECT_TRUE(token);
        EXPECT_TRUE(GetUserTokenFromSession(1));
    }
    EXPECT_EQ(test_support::LogFile::HandlesBesideLogFiles(), 0u);
    // The own session is read afresh on every call.
    testing_api::SetProcessSessionId(1);
    const TokenHandle token = GetUserTokenFromSession(1, &own);
    EXPECT_TRUE(own);
}

}  // namespace
