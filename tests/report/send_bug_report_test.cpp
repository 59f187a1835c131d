#include "report/send_bug_report.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <optional>
#include <string>

#include <platform/testing.h>

#include "common/text_conversion.h"
#include "report/base64.h"
#include "tests/report/upload_fixture.h"
#include "tests/support/loopback_proxy.h"
#include "tests/support/scoped_env.h"

namespace {

namespace fs = std::filesystem;
using test_support::CertificateFor;
using test_support::ReportService;
using upload_test::Upload;

// What the caller put into the result before the call; it shows what the call left alone.
BugReportResult UntouchedResult() { return {12345, "before"}; }

class SendBugReportTest : public Upload {
protected:
    // Sends one report with a log file to attach; answers the result of SendBugReport.
    bool Send(BugReportResult& result) {
        WriteLog("app.log", "a line\n");
        test_support::WriteFile(Dump(), dump_);
        return SendBugReport(Request(), result);
    }
    bool SentAndDeleted() const { return !fs::exists(Dump()) && !fs::exists(logs_); }
    bool NothingDeleted() const { return fs::exists(Dump()) && fs::exists(logs_ / "app.log"); }
};

TEST_F(SendBugReportTest, ReadsTheReplyOfA200AndOnlyThen) {
    struct Case {
        int status;
        const char* body;
        bool delivered;
        std::uint32_t id;     // in the result afterwards
        const char* message;  // in the result afterwards
        bool gzip = false;
    };
    const Case kCases[] = {
        {201, R"({"id": 17})", false, 12345, "before"},
        {500, R"({"id": 17})", false, 12345, "before"},
        {200, "{}", true, 0, "before"},
        {200, R"({"id": 17})", true, 17, "before"},
        {200, R"({"id": 17, "message": null})", true, 17, "before"},
        {200, R"({"id": 17, "message": []})", true, 17, "before"},
        {200, R"({"id": 17, "message": {}})", true, 17, "before"},
        {200, R"({"id": 17, "message": "thanks"})", true, 17, "thanks"},
        {200, R"({"id": 17, "message": ""})", true, 17, ""},
        {200, R"({"id": 17, "message": 5})", false, 17, "before"},
        {200, R"({"id": 17, "message": ["x"]})", false, 17, "before"},
        {200, R"({"id": "17"})", false, 12345, "before"},
        {200, R"({"id": null})", false, 12345, "before"},
        {200, R"({"id": {}})", false, 12345, "before"},
        {200, "[17]", false, 12345, "before"},
        {200, "17", false, 12345, "before"},
        {200, "not json", false, 12345, "before"},
        {200, "", false, 12345, "before"},
        {200, R"({"id": 17} // done)", false, 12345, "before"},
        {200, R"({"id": true})", true, 1, "before"},
        {200, R"({"id": false})", true, 0, "before"},
        {200, R"({"id": 17.0})", true, 17, "before"},
        {200, R"({"id": 4294967295})", true, 4294967295u, "before"},
        // Numbers that name no bug of 32 bits would send the logs to another bug.
        {200, R"({"id": 3.9})", false, 12345, "before"},
        {200, R"({"id": -1})", false, 12345, "before"},
        {200, R"({"id": 4294967296})", false, 12345, "before"},
        {200, R"({"id": 1e300})", false, 12345, "before"},
        {200, R"({"id": 5, "message": "gzip"})", true, 5, "gzip", true},
    };
    ReportService service(FixedPorts());
    for (std::size_t index = 0; index < std::size(kCases); ++index) {
        const auto& item = kCases[index];
        SCOPED_TRACE(testing::Message() << index << ": " << item.status << " " << item.body);
        service.SetReply("bug", {item.status, item.body, item.gzip});
        const auto before = service.Requests().size();

        BugReportResult result = UntouchedResult();
        EXPECT_EQ(Send(result), item.delivered);
        EXPECT_EQ(result.id, item.id);
        EXPECT_EQ(result.message, item.message);

        const auto requests = service.Requests();
        const auto attachments =
            OfPath({requests.begin() + static_cast<std::ptrdiff_t>(before), requests.end()},
                   "/api/attachment");
        if (item.delivered) {
            ASSERT_EQ(attachments.size(), 1u);
            EXPECT_EQ(nlohmann::json::parse(attachments[0].body).at("id"), item.id);
            EXPECT_TRUE(SentAndDeleted());
        } else {
            EXPECT_TRUE(attachments.empty());
            EXPECT_TRUE(NothingDeleted());
        }
    }
}

TEST_F(SendBugReportTest, NoListenerIsNotDelivered) {
    // No run elsewhere on the machine may have its double on the ports meanwhile.
    const test_support::FixedPortsHeld quiet(
        {FixedPorts().production_port, FixedPorts().staging_port});
    BugReportResult result = UntouchedResult();
    EXPECT_FALSE(Send(result));
    EXPECT_EQ(result.id, 12345u);
    EXPECT_EQ(result.message, "before");
    EXPECT_TRUE(NothingDeleted());
}

TEST_F(SendBugReportTest, BothRequestsGoToTheChosenServiceWithTheirHeaders) {
    ReportService service(FixedPorts());
    service.SetReply("bug", {200, R"({"id": 8})"});
    for (const bool production : {true, false}) {
        SCOPED_TRACE(production ? "production" : "staging");
        const auto before = service.Requests().size();
        auto request = Request();
        request.use_production_server = production;
        WriteLog("app.log", "a line\n");
        test_support::WriteFile(Dump(), dump_);
        BugReportResult result;
        ASSERT_TRUE(SendBugReport(request, result));

        const auto all = service.Requests();
        const std::vector requests(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].path, "/api/bug");
        EXPECT_EQ(requests[1].path, "/api/attachment");
        const int port = production ? service.production_port() : service.staging_port();
        for (const auto& sent : requests) {
            EXPECT_EQ(sent.port, port);
            EXPECT_EQ(sent.method, "POST");
            EXPECT_EQ(sent.Header("User-Agent"), upload_test::kUserAgent);
            EXPECT_EQ(sent.Header("Content-Type"), "application/json");
        }
        const auto report = nlohmann::json::parse(requests[0].body);
        EXPECT_EQ(report.at("title"), "Velmora Antivirus Crash Report");
        EXPECT_EQ(report.at("attach-data").get<std::string>(),
                  Base64Encode(dump_.data(), dump_.size()));
        const auto attachment = nlohmann::json::parse(requests[1].body);
        EXPECT_EQ(attachment.at("id"), 8);
        EXPECT_EQ(attachment.at("files").at(0).at("file-name"),
                  std::string(upload_test::kCrashUuid) + ".zip");
    }
}

TEST_F(SendBugReportTest, VerifiesThePeerWhenAskedAndTheHostNameAlways) {
    struct Case {
        CertificateFor certificate;
        bool verify_peer;
        bool delivered;
    };
    constexpr Case kCases[] = {
        {CertificateFor::kLoopback, true, false},  // self-signed: no trusted root
        {CertificateFor::kLoopback, false, true},
        {CertificateFor::kOtherHost, true, false},
        {CertificateFor::kOtherHost, false, false},  // another host's name, even unverified
    };
    for (std::size_t index = 0; index < std::size(kCases); ++index) {
        SCOPED_TRACE(index);
        const auto& item = kCases[index];
        ReportService service(FixedPorts(item.certificate));
        WriteLog("app.log", "a line\n");
        test_support::WriteFile(Dump(), dump_);
        auto request = Request();
        request.verify_peer = item.verify_peer;
        BugReportResult result = UntouchedResult();
        EXPECT_EQ(SendBugReport(request, result), item.delivered);
        EXPECT_EQ(service.Requests().size(), item.delivered ? 2u : 0u);
        EXPECT_EQ(item.delivered ? SentAndDeleted() : NothingDeleted(), true);
    }
}

// The proxy that the user's settings name reaches both uploads: on this platform the settings
// come from the environment by default, and a test can set them without it, where libcurl
// alone would find no proxy. In the environment the variable names the proxy as SOCKS: the
// user's settings keep only its host and port, so the program's table makes it an HTTP proxy,
// while libcurl left to read the variable itself would speak SOCKS to tinyproxy and fail.
TEST_F(SendBugReportTest, GoesThroughTheUsersProxy) {
    ReportService service(FixedPorts());
    service.SetReply("bug", {200, R"({"id": 4})"});
    for (const bool from_environment : {true, false}) {
        SCOPED_TRACE(from_environment ? "https_proxy" : "the user's static list");
        platform::testing::Reset();
        test_support::LoopbackProxy proxy;
        std::optional<test_support::ScopedEnv> https_proxy;
        if (from_environment) {
            https_proxy.emplace("https_proxy", "socks5://" + proxy.Address());
        } else {
            platform::testing::UserProxyConfig settings;
            settings.proxy = L"https=" + Utf8ToUtf16(proxy.Address());
            platform::testing::SetUserProxyConfig(platform::testing::ActingUser(), settings);
        }
        const auto before = service.Requests().size();
        BugReportResult result;
        EXPECT_TRUE(Send(result));
        const auto requests = service.Requests();
        ASSERT_EQ(requests.size(), before + 2);
        EXPECT_EQ(requests[before].path, "/api/bug");
        EXPECT_EQ(requests[before + 1].path, "/api/attachment");
        const auto log = proxy.Log();
        std::size_t tunnels = 0;
        for (auto at = log.find("CONNECT"); at != std::string::npos;
             at = log.find("CONNECT", at + 1)) {
            ++tunnels;
        }
        EXPECT_GE(tunnels, 2u) << log;
    }
    platform::testing::Reset();
}

}  // namespace
