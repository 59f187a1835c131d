// The uploads' session through the real report path: bounded stalls, the reply cap and the
// route that the proxy table alone decides, against the double and a real proxy on loopback.
#include "upload.h"

#include <gtest/gtest.h>
#include <platform/testing.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "endpoints.h"
#include "log_records.h"
#include "loopback_proxy.h"
#include "scoped_env.h"
#include "send_bug_report.h"
#include "upload_fixture.h"
#include "upload_testing.h"

namespace {

namespace fs = std::filesystem;
using test_support::ReportService;
using test_support::RequestsTo;
using test_support::ServiceReply;
using upload_test::Upload;

constexpr std::size_t kCap = 1024 * 1024;

// A JSON reply of exactly `size` bytes: {"id": 7, "message": "xxx..."}.
std::string ReplyOfSize(std::size_t size) {
    const std::string frame = R"({"id": 7, "message": ""})";
    return R"({"id": 7, "message": ")" + std::string(size - frame.size(), 'x') + R"("})";
}

class UploadTest : public Upload {
protected:
    // Sends one report with a log file to attach.
    bool Send(BugReportResult& result) {
        WriteLog("app.log", "a line\n");
        test_support::WriteFile(Dump(), dump_);
        return SendBugReport(Request(), result);
    }
    bool NothingDeleted() const { return fs::exists(Dump()) && fs::exists(logs_ / "app.log"); }

    // The messages of the upload's own error records.
    std::vector<std::string> UploadFailures() const {
        std::vector<std::string> failures;
        for (const auto& record : log_.Records()) {
            if (record.source.starts_with("tallorin:upload.cpp") && record.level == "error") {
                failures.push_back(record.message);
            }
        }
        return failures;
    }

    test_support::LogFile log_;
};

// A service that takes the report and never answers ends it as a refused connection does:
// not delivered, the result untouched, nothing attached or deleted, and the log says why. A
// stalled attachment ends too, as a refused one does. (The shipped minute is proved by the
// real executable; here the window is shorter.)
TEST_F(UploadTest, AStalledServiceEndsTheUpload) {
    const upload::testing::ScopedStallWindow window(std::chrono::seconds(1));
    ReportService service(FixedPorts());
    ServiceReply stalled;
    stalled.stall = true;

    service.SetReply("bug", stalled);
    BugReportResult result{12345, "before"};
    EXPECT_FALSE(Send(result));
    EXPECT_EQ(result.id, 12345u);
    EXPECT_EQ(result.message, "before");
    EXPECT_TRUE(NothingDeleted());
    auto requests = service.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/api/bug");
    // libcurl's own words for the stall, with the bound that ended it.
    ASSERT_EQ(UploadFailures().size(), 1u);
    EXPECT_TRUE(
        UploadFailures()[0].starts_with("failed to upload. url=" + std::string(kProductionBaseUrl) +
                                        "/bug. error=Operation too slow."))
        << UploadFailures()[0];
    EXPECT_TRUE(UploadFailures()[0].ends_with("the last 1 seconds")) << UploadFailures()[0];

    service.SetReply("bug", {200, R"({"id": 6})"});
    service.SetReply("attachment", stalled);
    EXPECT_TRUE(Send(result));
    EXPECT_EQ(result.id, 6u);
    requests = service.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].path, "/api/attachment");
    const auto failures = UploadFailures();
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_TRUE(failures[1].starts_with("failed to upload. url=" + std::string(kProductionBaseUrl) +
                                        "/attachment. error=Operation too slow."))
        << failures[1];
}

// A reply that keeps moving, more slowly than it takes the stall window to pass, is read whole.
TEST_F(UploadTest, AReplyTrickledOverLongerThanTheStallWindowIsDelivered) {
    const upload::testing::ScopedStallWindow window(std::chrono::seconds(1));
    ReportService service(FixedPorts());
    ServiceReply trickled{200, R"({"id": 21})"};
    trickled.trickle = std::chrono::milliseconds(300);  // ten bytes: about 3 s
    service.SetReply("bug", trickled);
    BugReportResult result;
    EXPECT_TRUE(Send(result));
    EXPECT_EQ(result.id, 21u);
    EXPECT_EQ(RequestsTo(service.Requests(), "/api/attachment").size(), 1u);
    EXPECT_TRUE(UploadFailures().empty());
}

// The service's reply is a small JSON object: one over 1 MiB once decoded is no reply, however
// small it was on the wire.
TEST_F(UploadTest, AReplyOverTheCapIsNotDelivered) {
    struct Case {
        const char* name;
        std::size_t size;
        bool gzip;
        bool delivered;
    };
    constexpr Case kCases[] = {
        {"at the cap", kCap, false, true},
        {"a byte over", kCap + 1, false, false},
        {"4 MiB gzipped", 4 * kCap, true, false},
    };
    ReportService service(FixedPorts());
    for (const auto& item : kCases) {
        SCOPED_TRACE(item.name);
        service.SetReply("bug", {200, ReplyOfSize(item.size), item.gzip});
        const auto before = service.Requests().size();
        const auto failures_before = UploadFailures().size();
        BugReportResult result{12345, "before"};
        EXPECT_EQ(Send(result), item.delivered);
        const auto requests = service.Requests();
        const auto attachments =
            RequestsTo({requests.begin() + static_cast<std::ptrdiff_t>(before), requests.end()},
                       "/api/attachment");
        if (item.delivered) {
            EXPECT_EQ(result.id, 7u);
            EXPECT_EQ(result.message.size(), item.size - 24);
            EXPECT_EQ(attachments.size(), 1u);
            EXPECT_EQ(UploadFailures().size(), failures_before);
        } else {
            EXPECT_EQ(result.id, 12345u);
            EXPECT_TRUE(attachments.empty());
            EXPECT_TRUE(NothingDeleted());
            const auto failures = UploadFailures();
            ASSERT_EQ(failures.size(), failures_before + 1);
            EXPECT_TRUE(failures.back().ends_with("error=reply larger than 1048576 bytes"))
                << failures.back();
        }
    }
}

// The program's proxy table is the whole route. Empty, both uploads go direct although the
// environment names a proxy; naming a proxy, both go through it although no_proxy names the
// service's host. The proxy records in the log name the proxy that saw the tunnels.
TEST_F(UploadTest, TheRouteIsTheProxyTableAlone) {
    ReportService service(FixedPorts());
    service.SetReply("bug", {200, R"({"id": 4})"});
    for (const bool table_empty : {true, false}) {
        SCOPED_TRACE(table_empty ? "empty table, https_proxy set" : "table entry, no_proxy set");
        platform::testing::Reset();
        test_support::LoopbackProxy proxy;
        const std::string proxy_url = "http://" + proxy.Address();
        std::vector<std::unique_ptr<test_support::ScopedEnv>> environment;
        for (const char* name : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
            environment.push_back(std::make_unique<test_support::ScopedEnv>(name, proxy_url));
        }
        if (table_empty) {
            // The user's own settings name no proxy; the environment still does.
            platform::testing::SetUserProxyConfig(platform::testing::ActingUser(), {});
        } else {
            for (const char* name : {"no_proxy", "NO_PROXY"}) {
                environment.push_back(
                    std::make_unique<test_support::ScopedEnv>(name, "127.0.0.1,localhost"));
            }
        }
        const auto records_before = log_.Records().size();
        const auto requests_before = service.Requests().size();

        BugReportResult result;
        EXPECT_TRUE(Send(result));
        EXPECT_EQ(service.Requests().size(), requests_before + 2);

        std::vector<std::string> route_records;
        const auto records = log_.Records();
        for (auto record = records.begin() + static_cast<std::ptrdiff_t>(records_before);
             record != records.end(); ++record) {
            if (record->message.starts_with("proxy=") || record->message == "no proxies") {
                route_records.push_back(record->message);
            }
        }
        const std::string named = "proxy=127.0.0.1. port=" + std::to_string(proxy.port());
        EXPECT_EQ(route_records, std::vector<std::string>(2, table_empty ? "no proxies" : named));

        // What the proxy saw: a tunnel to the service for each upload, or nothing at all.
        const std::regex tunnel("CONNECT 127\\.0\\.0\\.1:([0-9]+) ");
        const std::string log = proxy.Log();
        std::vector<int> tunnelled_ports;
        for (std::sregex_iterator match(log.begin(), log.end(), tunnel), end; match != end;
             ++match) {
            tunnelled_ports.push_back(std::stoi((*match)[1]));
        }
        EXPECT_EQ(tunnelled_ports,
                  table_empty ? std::vector<int>{} : std::vector<int>(2, service.production_port()))
            << log;
    }
    platform::testing::Reset();
}

}  // namespace
