#include "internal_libraries/cpr-helper/src/proxies.h"

#include <gtest/gtest.h>
#include <platform/testing.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "internal_libraries/cpr-helper/src/proxies_testing.h"
#include "tests/support/log_records.h"
#include "tests/support/scoped_env.h"

namespace {

namespace testing_api = platform::testing;
using testing_api::ProxyResolution;
using testing_api::UserProxyConfig;

constexpr char kReportUrl[] = "https://reports.example/bug";
constexpr char kDebug[] = "debug [cpr-helper-lib-mt:proxies.cpp] ";
constexpr char kTrace[] = "trace [impersonation_helper_lib_mt:impersonate.cpp] ";

std::string Debug(const std::string& message) { return kDebug + message; }
std::string Trace(const std::string& message) { return kTrace + message; }

std::vector<std::wstring> Arguments(std::string_view function) {
    std::vector<std::wstring> arguments;
    for (const auto& call : testing_api::RecordedCalls(function)) {
        arguments.push_back(call.arguments);
    }
    return arguments;
}

std::vector<std::wstring> ActingUsers(std::string_view function) {
    std::vector<std::wstring> users;
    for (const auto& call : testing_api::RecordedCalls(function)) {
        users.push_back(call.acting_user);
    }
    return users;
}

ProxyResolution Named(std::wstring proxy) {
    ProxyResolution resolution;
    resolution.proxy = std::move(proxy);
    resolution.proxy_bypass = L"<local>";
    return resolution;
}

// By default the process runs as "user" in session 1, the only session.
class Proxies : public ::testing::Test {
protected:
    Proxies() {
        testing_api::Reset();
        CprHelper::testing::ResetSessionIdCache();
        testing_api::SetProcessToken({L"user"});
        testing_api::SetSessionToken(1, testing_api::TokenSpec{L"user"});
    }
    ~Proxies() override {
        EXPECT_EQ(test_support::LogFile::HandlesBesideLogFiles(), 0u);
        EXPECT_EQ(testing_api::OpenInternetHandleCount(), 0u);
        EXPECT_EQ(testing_api::OutstandingGlobalBlockCount(), 0u);
        EXPECT_EQ(testing_api::OutstandingSessionListCount(), 0u);
        EXPECT_FALSE(testing_api::ImpersonatedToken());
        testing_api::Reset();
    }

    static void SetStaticList(const std::wstring& user, std::wstring list) {
        UserProxyConfig config;
        config.proxy = std::move(list);
        testing_api::SetUserProxyConfig(user, config);
    }

    // The lines of the result: the entries, or "no proxies".
    std::vector<std::string> EntryLines(const test_support::LogFile& log) const {
        std::vector<std::string> lines;
        for (const auto& record : log.Records()) {
            if (record.message.starts_with("proxy=") || record.message == "no proxies") {
                lines.push_back(record.message);
            }
        }
        return lines;
    }

    test_support::LogFile log_;
};

TEST_F(Proxies, StaticListsGiveTheFirstProxyForTheUrlScheme) {
    struct Case {
        const char* url;
        const wchar_t* list;
        const char* key;
        const char* value;  // null: the table stays empty
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {kReportUrl, L"http=a:1;https=b:2", "https", "b:2", {"proxy=b. port=2"}},
        {kReportUrl, L"a:8080", "https", "a:8080", {"proxy=a. port=8080"}},
        {"http://reports.example/bug", L"a:8080", "http", "a:8080", {"proxy=a. port=8080"}},
        {kReportUrl, L"https://a:8080", "https", "a:8080", {"proxy=a. port=8080"}},
        {kReportUrl, L"ftp://a:1", "https", "a:1", {"proxy=a. port=1"}},
        // Without a port the proxy is asked on the port WinHTTP would use.
        {kReportUrl, L"a", "https", "a:80", {"proxy=a. port=-1"}},
        {kReportUrl, L"a:xyz", "https", "a:80", {"proxy=a. port=-1"}},
        {kReportUrl, L"a:", "https", "a:80", {"proxy=a. port=-1"}},
        {kReportUrl, L"HTTPS=a:1", "https", nullptr, {"no proxies"}},
        {kReportUrl, L"http=a:1", "https", nullptr, {"no proxies"}},
        {kReportUrl, L"a:1;; b:2", "https", "a:1", {"proxy=a. port=1", "proxy=b. port=2"}},
        {kReportUrl,
         L"socks=s:1;a:2\tb:3\r\nc:4",
         "https",
         "a:2",
         {"proxy=a. port=2", "proxy=b. port=3", "proxy=c. port=4"}},
        // Empty tokens and empty hosts name no proxy.
        {kReportUrl, L";a:1;", "https", "a:1", {"proxy=a. port=1"}},
        {kReportUrl, L"", "https", nullptr, {"no proxies"}},
        {kReportUrl, L" \t\r\n;", "https", nullptr, {"no proxies"}},
        {kReportUrl, L"https=;b:2", "https", "b:2", {"proxy=b. port=2"}},
        {kReportUrl, L"https://", "https", nullptr, {"no proxies"}},
        // A URL without "://" picks entries as http; its key is its text before the first ":".
        {"localhost:8443/bug", L"http=a:1;https=b:2", "localhost", "a:1", {"proxy=a. port=1"}},
        {"reports", L"a:1", "reports", "a:1", {"proxy=a. port=1"}},
        // Ports: an optional sign, the range of int, nothing after the digits.
        {kReportUrl, L"a:+5", "https", "a:5", {"proxy=a. port=5"}},
        {kReportUrl, L"a:-5", "https", "a:-5", {"proxy=a. port=-5"}},
        {kReportUrl, L"a:2147483647", "https", "a:2147483647", {"proxy=a. port=2147483647"}},
        {kReportUrl, L"a:2147483648", "https", "a:80", {"proxy=a. port=-1"}},
        {kReportUrl, L"a:80x", "https", "a:80", {"proxy=a. port=-1"}},
        {kReportUrl, L"a:0x50", "https", "a:80", {"proxy=a. port=-1"}},
        // An IPv6 literal keeps its brackets; the port follows the closing one.
        {kReportUrl, L"[::1]:8080", "https", "[::1]:8080", {"proxy=[::1]. port=8080"}},
        {kReportUrl,
         L"https=http://[2001:db8::1]:3128;http=[::2]:1",
         "https",
         "[2001:db8::1]:3128",
         {"proxy=[2001:db8::1]. port=3128"}},
        {kReportUrl,
         L"[2001:db8::1]",
         "https",
         "[2001:db8::1]:80",
         {"proxy=[2001:db8::1]. port=-1"}},
        {kReportUrl, L"[::1]:", "https", "[::1]:80", {"proxy=[::1]. port=-1"}},
        {kReportUrl, L"[::1]:x1", "https", "[::1]:80", {"proxy=[::1]. port=-1"}},
        {kReportUrl, L"[::1]8080", "https", "[::1]:80", {"proxy=[::1]. port=-1"}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(i);
        SetStaticList(L"user", c.list);
        const test_support::LogFile log;
        auto proxies = CprHelper::GetProxies(cpr::Url(c.url));
        if (c.value != nullptr) {
            ASSERT_TRUE(proxies.has(c.key));
            EXPECT_EQ(proxies[c.key], c.value);
        } else {
            EXPECT_FALSE(proxies.has(c.key));
        }
        EXPECT_FALSE(proxies.has(std::string(c.key) == "http" ? "https" : "http"));
        EXPECT_EQ(EntryLines(log), c.lines);
    }
}

TEST_F(Proxies, AsksDetectionThenScriptThenStaticListAndNeverTheBypassList) {
    UserProxyConfig config;
    config.auto_detect = true;
    config.auto_config_url = L"http://wpad.corp/proxy.pac";
    config.proxy = L"a:1";
    config.proxy_bypass = L"reports.example;<local>";
    testing_api::SetUserProxyConfig(L"user", config);
    testing_api::SetAutoDetectResolution(Named(L"c:3"));
    testing_api::SetScriptResolution(L"http://wpad.corp/proxy.pac", Named(L"http=e:5;https=d:4"));

    auto proxies = CprHelper::GetProxies(cpr::Url(kReportUrl));
    EXPECT_EQ(proxies["https"], "c:3");
    EXPECT_EQ(log_.Briefs(),
              (std::vector<std::string>{Debug("session_id=1"), Debug("proxy=c. port=3"),
                                        Debug("proxy=d. port=4"), Debug("proxy=a. port=1"),
                                        Debug("convert proxies")}));
    // One session with its timeouts serves both resolutions, then is closed.
    EXPECT_EQ(Arguments("WinHttpOpen"),
              std::vector<std::wstring>{L"agent=null access=1 proxy=null bypass=null flags=0"});
    EXPECT_EQ(Arguments("WinHttpSetTimeouts"),
              std::vector<std::wstring>{L"resolve=10000 connect=10000 send=5000 receive=5000"});
    EXPECT_EQ(Arguments("WinHttpGetProxyForUrl"),
              (std::vector<std::wstring>{
                  L"url=https://reports.example/bug flags=1 detect=3 script=null logon=0",
                  L"url=https://reports.example/bug flags=2 detect=0 "
                  L"script=http://wpad.corp/proxy.pac logon=0"}));
    EXPECT_EQ(testing_api::RecordedCalls("WinHttpCloseHandle").size(), 1u);
}

TEST_F(Proxies, AFailingSourceAddsNothingAndTheNextIsStillAsked) {
    struct Case {
        const char* name;
        ProxyResolution detection;
        std::vector<std::string> lines;
        std::size_t sessions_opened;
        std::size_t resolutions;
    };
    const auto failing = [](DWORD error) {
        ProxyResolution resolution;
        resolution.error = error;
        return resolution;
    };
    ProxyResolution needs_logon = Named(L"c:3");
    needs_logon.needs_auto_logon = true;
    ProxyResolution direct = Named(L"c:3");
    direct.access_type = WINHTTP_ACCESS_TYPE_NO_PROXY;
    ProxyResolution no_list;

    const std::vector<std::string> script_and_static = {"proxy=d. port=4", "proxy=a. port=1"};
    const Case cases[] = {
        // A timeout or a failed detection closes the session; the script opens a new one.
        {"failed detection", failing(ERROR_WINHTTP_AUTODETECTION_FAILED), script_and_static, 2, 2},
        {"timeout", failing(ERROR_WINHTTP_TIMEOUT), script_and_static, 2, 2},
        {"other error", failing(ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT), script_and_static, 1, 2},
        // A login failure is tried once more with automatic logon.
        {"logon needed",
         needs_logon,
         {"proxy=c. port=3", "proxy=d. port=4", "proxy=a. port=1"},
         1,
         3},
        {"logon keeps failing", failing(ERROR_WINHTTP_LOGIN_FAILURE), script_and_static, 1, 3},
        {"direct access", direct, script_and_static, 1, 2},
        {"named without a list", no_list, script_and_static, 1, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing_api::Reset();
        testing_api::SetProcessToken({L"user"});
        UserProxyConfig config;
        config.auto_detect = true;
        config.auto_config_url = L"http://wpad.corp/proxy.pac";
        config.proxy = L"a:1";
        testing_api::SetUserProxyConfig(L"user", config);
        testing_api::SetAutoDetectResolution(c.detection);
        testing_api::SetScriptResolution(L"http://wpad.corp/proxy.pac", Named(L"d:4"));

        const test_support::LogFile log;
        CprHelper::GetProxies(cpr::Url(kReportUrl));
        EXPECT_EQ(EntryLines(log), c.lines);
        EXPECT_EQ(testing_api::RecordedCalls("WinHttpOpen").size(), c.sessions_opened);
        EXPECT_EQ(testing_api::RecordedCalls("WinHttpCloseHandle").size(), c.sessions_opened);
        const auto resolutions = Arguments("WinHttpGetProxyForUrl");
        ASSERT_EQ(resolutions.size(), c.resolutions);
        if (c.resolutions == 3) {
            EXPECT_TRUE(resolutions[0].ends_with(L"flags=1 detect=3 script=null logon=0"));
            EXPECT_TRUE(resolutions[1].ends_with(L"flags=1 detect=3 script=null logon=1"));
        }
        // Nothing of the failures reaches the log.
        for (const auto& record : log.Records()) {
            EXPECT_NE(record.level, "error") << record.message;
        }
        EXPECT_EQ(testing_api::OpenInternetHandleCount(), 0u);
        EXPECT_EQ(testing_api::OutstandingGlobalBlockCount(), 0u);
    }
}

TEST_F(Proxies, ASessionThatCannotBeOpenedLeavesTheStaticList) {
    UserProxyConfig config;
    config.auto_detect = true;
    config.auto_config_url = L"http://wpad.corp/proxy.pac";
    config.proxy = L"a:1";
    testing_api::SetUserProxyConfig(L"user", config);
    testing_api::FailCall("WinHttpOpen", ERROR_NOT_ENOUGH_MEMORY);

    auto proxies = CprHelper::GetProxies(cpr::Url(kReportUrl));
    EXPECT_EQ(proxies["https"], "a:1");
    EXPECT_EQ(testing_api::RecordedCalls("WinHttpOpen").size(), 2u);
    EXPECT_TRUE(testing_api::RecordedCalls("WinHttpGetProxyForUrl").empty());
}

TEST_F(Proxies, SettingsThatCannotBeReadGiveNoProxies) {
    testing_api::FailCall("WinHttpGetIEProxyConfigForCurrentUser", ERROR_NOT_ENOUGH_MEMORY);
    auto proxies = CprHelper::GetProxies(cpr::Url(kReportUrl));
    EXPECT_FALSE(proxies.has("https"));
    EXPECT_EQ(log_.Briefs(), (std::vector<std::string>{
                                 Debug("session_id=1"),
                                 "error [cpr-helper-lib-mt:proxies.cpp] failed to get proxies. "
                                 "error=failed to WinHttpGetIEProxyConfigForCurrentUser",
                                 Debug("no proxies"), Debug("convert proxies")}));
}

TEST_F(Proxies, OutsideSessionZeroNobodyIsImpersonated) {
    struct Case {
        const char* name;
        void (*arrange)();
        const char* line;
    };
    const Case cases[] = {
        {"session 1", [] {}, "session_id=1"},
        {"session 2", [] { testing_api::SetProcessSessionId(2); }, "session_id=2"},
        {"unknown", [] { testing_api::FailCall("ProcessIdToSessionId", ERROR_ACCESS_DENIED); },
         "session_id=-1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing_api::Reset();
        CprHelper::testing::ResetSessionIdCache();
        testing_api::SetProcessToken({L"user"});
        SetStaticList(L"user", L"a:1");
        c.arrange();
        const test_support::LogFile log;
        CprHelper::GetProxies(cpr::Url(kReportUrl));
        EXPECT_EQ(log.Briefs(), (std::vector<std::string>{Debug(c.line), Debug("proxy=a. port=1"),
                                                          Debug("convert proxies")}));
        EXPECT_TRUE(testing_api::RecordedCalls("WTSEnumerateSessionsW").empty());
        EXPECT_TRUE(testing_api::RecordedCalls("OpenProcessToken").empty());
        EXPECT_TRUE(testing_api::RecordedCalls("WTSQueryUserToken").empty());
        EXPECT_TRUE(testing_api::RecordedCalls("ImpersonateLoggedOnUser").empty());
    }
}

TEST_F(Proxies, SessionIdIsAskedUntilKnownThenCached) {
    testing_api::FailCall("ProcessIdToSessionId", ERROR_ACCESS_DENIED, 1);
    for (int i = 0; i < 3; ++i) {
        CprHelper::GetProxies(cpr::Url(kReportUrl));
    }
    EXPECT_EQ(testing_api::RecordedCalls("ProcessIdToSessionId").size(), 2u);
    std::vector<std::string> session_lines;
    for (const auto& record : log_.Records()) {
        if (record.message.starts_with("session_id=")) {
            session_lines.push_back(record.message);
        }
    }
    EXPECT_EQ(session_lines,
              (std::vector<std::string>{"session_id=-1", "session_id=1", "session_id=1"}));
}

// The process runs as SYSTEM in session 0; alice uses the console, with a limited token.
class SessionZero : public Proxies {
protected:
    SessionZero() {
        testing_api::SetProcessSessionId(0);
        testing_api::SetProcessToken({L"SYSTEM"});
        testing_api::SetSessions({{0, WTSDisconnected, L"Services"},
                                  {1, WTSDisconnected, L"RDP-Tcp#1"},
                                  {2, WTSActive, L"Console"},
                                  {3, WTSActive, L"RDP-Tcp#2"}});
        testing_api::SetSessionToken(1, testing_api::TokenSpec{L"carol"});
        testing_api::SetSessionToken(2,
                                     testing_api::TokenSpec{L"alice", TokenElevationTypeLimited});
        testing_api::SetSessionToken(3, testing_api::TokenSpec{L"bob"});
        SetStaticList(L"SYSTEM", L"system:9");
        UserProxyConfig alice;
        alice.auto_detect = true;
        alice.proxy = L"alice:1";
        testing_api::SetUserProxyConfig(L"alice", alice);
        ProxyResolution direct;
        direct.access_type = WINHTTP_ACCESS_TYPE_NO_PROXY;
        testing_api::SetAutoDetectResolution(direct);
    }
};

TEST_F(SessionZero, ReadsTheSettingsAsTheFirstActiveSessionsUser) {
    auto proxies = CprHelper::GetProxies(cpr::Url(kReportUrl));
    EXPECT_EQ(proxies["https"], "alice:1");
    EXPECT_EQ(Arguments("WTSEnumerateSessionsW"),
              std::vector<std::wstring>{L"reserved=0 version=1"});
    EXPECT_EQ(Arguments("ImpersonateLoggedOnUser"),
              std::vector<std::wstring>{L"user=alice elevation=2"});
    // Settings, resolution and the closing of the WinHTTP session all run as alice.
    for (const char* call : {"WinHttpGetIEProxyConfigForCurrentUser", "WinHttpOpen",
                             "WinHttpGetProxyForUrl", "WinHttpCloseHandle"}) {
        SCOPED_TRACE(call);
        EXPECT_EQ(ActingUsers(call), std::vector<std::wstring>{L"alice"});
    }
    // The result is logged after the thread is back to its own account.
    EXPECT_EQ(log_.Briefs(),
              (std::vector<std::string>{Debug("session_id=0"), Debug("active_session_id=2"),
                                        Trace("impersonating user of session=00000002..."),
                                        Trace("token is not elevated, getting the right one"),
                                        Trace("impersonating back to self."),
                                        Debug("proxy=alice. port=1"), Debug("convert proxies")}));
}

TEST_F(SessionZero, WithoutAnActiveSessionReadsTheProcessAccountsSettings) {
    struct Case {
        const char* name;
        void (*arrange)();
    };
    const Case cases[] = {
        {"none active",
         [] {
             testing_api::SetSessions(
                 {{0, WTSDisconnected, L"Services"}, {2, WTSConnected, L"Console"}});
         }},
        {"no sessions", [] { testing_api::SetSessions({}); }},
        {"enumeration fails",
         [] { testing_api::FailCall("WTSEnumerateSessionsW", ERROR_ACCESS_DENIED, 1); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        const test_support::LogFile log;
        auto proxies = CprHelper::GetProxies(cpr::Url(kReportUrl));
        EXPECT_EQ(proxies["https"], "system:9");
        EXPECT_EQ(log.Briefs(), (std::vector<std::string>{
                                    Debug("session_id=0"), Debug("active_session_id=0"),
                                    Trace("impersonating user of session=00000000..."),
                                    Trace("no impersonation needed, already the same user."),
                                    Trace("impersonating back to self."),
                                    Debug("proxy=system. port=9"), Debug("convert proxies")}));
        EXPECT_TRUE(testing_api::RecordedCalls("ImpersonateLoggedOnUser").empty());
        EXPECT_EQ(testing_api::OutstandingSessionListCount(), 0u);
    }
}

TEST_F(SessionZero, AUserTokenThatCannotBeHadSkipsTheLookup) {
    testing_api::SetSessionToken(2, std::nullopt);
    auto proxies = CprHelper::GetProxies(cpr::Url(kReportUrl));
    EXPECT_FALSE(proxies.has("https"));
    const auto briefs = log_.Briefs();
    ASSERT_EQ(briefs.size(), 7u);
    EXPECT_EQ(briefs[3],
              "error [impersonation_helper_lib_mt:impersonate.cpp] "
              "failed to get user token of session=00000002. system says 1008.");
    // Windows' own text for the error, as the line reads there.
    EXPECT_EQ(briefs[4],
              "error [cpr-helper-lib-mt:proxies.cpp] failed to get proxies. error=failed to "
              "impersonate user: An attempt was made to reference a token that does not exist.");
    EXPECT_EQ(briefs[5], Debug("no proxies"));
    EXPECT_TRUE(testing_api::RecordedCalls("WinHttpGetIEProxyConfigForCurrentUser").empty());
}

// A real run: nothing set but the environment of this platform.
TEST(GetProxies, TakesTheHttpsProxyFromTheEnvironment) {
    testing_api::Reset();
    CprHelper::testing::ResetSessionIdCache();
    const test_support::ScopedEnv https("https_proxy", "http://127.0.0.1:3128");
    const test_support::ScopedEnv https_upper("HTTPS_PROXY", std::nullopt);
    const test_support::ScopedEnv http("http_proxy", std::nullopt);
    const test_support::ScopedEnv http_upper("HTTP_PROXY", std::nullopt);
    const test_support::ScopedEnv no_proxy("no_proxy", std::nullopt);
    const test_support::ScopedEnv no_proxy_upper("NO_PROXY", std::nullopt);

    auto proxies = CprHelper::GetProxies(cpr::Url(kReportUrl));
    ASSERT_TRUE(proxies.has("https"));
    EXPECT_EQ(proxies["https"], "127.0.0.1:3128");
    EXPECT_FALSE(CprHelper::GetProxies(cpr::Url("http://reports.example/bug")).has("http"));
    EXPECT_EQ(testing_api::OutstandingGlobalBlockCount(), 0u);
}

}  // namespace
