#include <wtsapi32.h>

#include <gtest/gtest.h>
#include <platform/testing.h>

#include <functional>
#include <string>
#include <thread>

namespace {

namespace testing_api = platform::testing;

class Sessions : public ::testing::Test {
protected:
    Sessions() { testing_api::Reset(); }
    ~Sessions() override {
        EXPECT_EQ(testing_api::OpenHandleCount(), 0u);
        testing_api::Reset();
    }
};

TEST_F(Sessions, DefaultIsSessionOneTheOnlyActiveSessionOfTheProcessUser) {
    DWORD session = 0xFFFFFFFF;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    EXPECT_EQ(session, 1u);
    EXPECT_FALSE(ProcessIdToSessionId(GetCurrentProcessId() + 1, &session));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    WTS_SESSION_INFOW* list = nullptr;
    DWORD count = 0;
    ASSERT_TRUE(WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &list, &count));
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(list[0].SessionId, 1u);
    EXPECT_EQ(list[0].State, WTSActive);
    EXPECT_EQ(std::wstring(list[0].pWinStationName), L"Console");
    EXPECT_EQ(testing_api::OutstandingSessionListCount(), 1u);
    WTSFreeMemory(list);
    EXPECT_EQ(testing_api::OutstandingSessionListCount(), 0u);

    HANDLE token = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(WTSQueryUserToken(1, &token));
    ASSERT_TRUE(ImpersonateLoggedOnUser(token));
    const std::wstring session_user = testing_api::ActingUser();
    RevertToSelf();
    EXPECT_EQ(session_user, testing_api::ActingUser());  // the process's own account
    EXPECT_FALSE(session_user.empty());
    CloseHandle(token);
}

TEST_F(Sessions, ListsTheSessionsThatATestSets) {
    testing_api::SetProcessSessionId(0);
    testing_api::SetSessions({{0, WTSDisconnected, L"Services"}, {3, WTSActive, L"RDP-Tcp#0"}});
    DWORD session = 0xFFFFFFFF;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    EXPECT_EQ(session, 0u);

    WTS_SESSION_INFOW* first = nullptr;
    WTS_SESSION_INFOW* second = nullptr;
    DWORD count = 0;
    ASSERT_TRUE(WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &first, &count));
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(first[1].SessionId, 3u);
    EXPECT_EQ(std::wstring(first[1].pWinStationName), L"RDP-Tcp#0");
    testing_api::SetSessions({});
    ASSERT_TRUE(WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &second, &count));
    EXPECT_EQ(count, 0u);
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(first[0].State, WTSDisconnected);  // a list stays valid until released
    EXPECT_EQ(testing_api::OutstandingSessionListCount(), 2u);
    WTSFreeMemory(second);
    WTSFreeMemory(first);
    EXPECT_EQ(testing_api::OutstandingSessionListCount(), 0u);

    EXPECT_FALSE(WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 2, &first, &count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    HANDLE token = INVALID_HANDLE_VALUE;
    EXPECT_FALSE(WTSQueryUserToken(3, &token));  // nobody logged on there
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
    EXPECT_EQ(token, INVALID_HANDLE_VALUE);
}

TEST_F(Sessions, TokensTellTheirElevationAndGiveTheirLinkedToken) {
    testing_api::SetSessionToken(2, testing_api::TokenSpec{L"alice", TokenElevationTypeLimited});
    HANDLE token = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(WTSQueryUserToken(2, &token));

    TOKEN_ELEVATION_TYPE elevation = TokenElevationTypeDefault;
    DWORD length = 0;
    ASSERT_TRUE(
        GetTokenInformation(token, TokenElevationType, &elevation, sizeof(elevation), &length));
    EXPECT_EQ(elevation, TokenElevationTypeLimited);
    EXPECT_EQ(length, sizeof(elevation));
    EXPECT_FALSE(GetTokenInformation(token, TokenElevationType, &elevation, 2, &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_FALSE(GetTokenInformation(token, TokenUser, &elevation, sizeof(elevation), &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    TOKEN_LINKED_TOKEN linked{nullptr};
    ASSERT_TRUE(GetTokenInformation(token, TokenLinkedToken, &linked, sizeof(linked), &length));
    EXPECT_EQ(testing_api::OpenHandleCount(), 2u);  // a new handle for the caller to close
    ASSERT_TRUE(GetTokenInformation(linked.LinkedToken, TokenElevationType, &elevation,
                                    sizeof(elevation), &length));
    EXPECT_EQ(elevation, TokenElevationTypeFull);
    ASSERT_TRUE(ImpersonateLoggedOnUser(linked.LinkedToken));
    EXPECT_EQ(testing_api::ImpersonatedToken()->elevation, TokenElevationTypeFull);
    RevertToSelf();
    EXPECT_TRUE(CloseHandle(linked.LinkedToken));
    EXPECT_TRUE(CloseHandle(token));

    // A process token of elevation type default has no linked token.
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    EXPECT_FALSE(GetTokenInformation(token, TokenLinkedToken, &linked, sizeof(linked), &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_LOGON_SESSION));
    EXPECT_TRUE(CloseHandle(token));
    EXPECT_FALSE(
        GetTokenInformation(token, TokenElevationType, &elevation, sizeof(elevation), &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(ImpersonateLoggedOnUser(token));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Sessions, ImpersonationBelongsToOneThread) {
    testing_api::SetProcessToken({L"SYSTEM"});
    testing_api::SetSessionToken(1, testing_api::TokenSpec{L"alice"});
    HANDLE token = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(WTSQueryUserToken(1, &token));
    ASSERT_TRUE(ImpersonateLoggedOnUser(token));
    std::wstring other;
    std::thread([&] { other = testing_api::ActingUser(); }).join();
    EXPECT_EQ(other, L"SYSTEM");
    EXPECT_EQ(testing_api::ActingUser(), L"alice");
    EXPECT_TRUE(RevertToSelf());
    EXPECT_EQ(testing_api::ActingUser(), L"SYSTEM");
    EXPECT_FALSE(testing_api::ImpersonatedToken());
    CloseHandle(token);

    const auto calls = testing_api::RecordedCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].function, "ImpersonateLoggedOnUser");
    EXPECT_EQ(calls[1].acting_user, L"SYSTEM");
    EXPECT_EQ(calls[2].function, "RevertToSelf");
    EXPECT_EQ(calls[2].acting_user, L"alice");
}

TEST_F(Sessions, EveryCallCanBeMadeToFail) {
    struct Case {
        const char* function;
        std::function<bool()> call;
    };
    HANDLE token = INVALID_HANDLE_VALUE;
    DWORD value = 0;
    DWORD length = 0;
    WTS_SESSION_INFOW* list = nullptr;
    const Case cases[] = {
        {"ProcessIdToSessionId",
         [&] { return ProcessIdToSessionId(GetCurrentProcessId(), &value) != 0; }},
        {"WTSEnumerateSessionsW",
         [&] {
             return WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &list, &value) != 0;
         }},
        {"WTSQueryUserToken", [&] { return WTSQueryUserToken(1, &token) != 0; }},
        {"OpenProcessToken",
         [&] { return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) != 0; }},
        {"GetTokenInformation",
         [&] { return GetTokenInformation(token, TokenElevationType, &value, 4, &length) != 0; }},
        {"ImpersonateLoggedOnUser", [&] { return ImpersonateLoggedOnUser(token) != 0; }},
        {"RevertToSelf", [] { return RevertToSelf() != 0; }},
    };
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    const HANDLE held = token;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        testing_api::FailCall(c.function, 4242, 1);
        EXPECT_FALSE(c.call());
        EXPECT_EQ(GetLastError(), 4242u);
        token = held;
    }
    CloseHandle(held);
}

}  // namespace
