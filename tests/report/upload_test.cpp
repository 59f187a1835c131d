// The uploads' session through the real report path: the bounds of each upload, the reply cap
// and the route that the proxy table alone decides, against the double and a real proxy on
// loopback.
#include "report/upload.h"

#include <gtest/gtest.h>
#include <platform/testing.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <limits>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "report/endpoints.h"
#include "report/send_bug_report.h"
#include "report/upload_testing.h"
#include "report/upload_watch.h"
#include "tests/report/upload_fixture.h"
#include "tests/support/log_records.h"
#include "tests/support/loopback_proxy.h"
#include "tests/support/scoped_env.h"

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

// Bounds a test can take a transfer past in seconds: a floor of 1 KiB/s over 2 s; the reply
// and the whole upload get 30 s, so that the floor comes first.
UploadBounds QuickBounds() {
    return {.floor_bytes_per_second = 1024,
            .floor_window = std::chrono::seconds(2),
            .reply = std::chrono::seconds(30),
            .deadline_base = std::chrono::seconds(30),
            .deadline_bytes_per_second = std::numeric_limits<std::int32_t>::max()};
}

class UploadTest : public Upload {
protected:
    // Sends one report with a log file to attach.
    bool Send(BugReportResult& result) {
        WriteLog("app.log", "a line\n");
        test_support::WriteFile(Dump(), dump_);
        return SendBugReport(Request(), result);
    }

    // Sends as Send does, under a deadline of its own: past it the test fails and the double
    // is stopped, which ends whatever exchange still holds the send.
    bool SendWithin(std::chrono::seconds limit, std::unique_ptr<ReportService>& service,
                    BugReportResult& result) {
        auto sent = std::async(std::launch::async, [&] { return Send(result); });
        if (sent.wait_for(limit) == std::future_status::timeout) {
            ADD_FAILURE() << "the send outlived " << limit.count() << " s";
            service.reset();
        }
        return sent.get();
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

std::string FailureOf(const std::string& endpoint, const std::string& reason) {
    return "failed to upload. url=" + std::string(kProductionBaseUrl) + endpoint +
           ". error=" + reason;
}

// A service that takes the report and never answers ends it as a refused connection does:
// not delivered, the result untouched, nothing attached or deleted, and the log says why. A
// stalled attachment ends too, as a refused one does.
TEST_F(UploadTest, AStalledServiceEndsTheUpload) {
    const upload::testing::ScopedBounds scoped(QuickBounds());
    auto service = std::make_unique<ReportService>(FixedPorts());
    ServiceReply stalled;
    stalled.stall = true;

    service->SetReply("bug", stalled);
    BugReportResult result{12345, "before"};
    EXPECT_FALSE(SendWithin(std::chrono::seconds(20), service, result));
    EXPECT_EQ(result.id, 12345u);
    EXPECT_EQ(result.message, "before");
    EXPECT_TRUE(NothingDeleted());
    ASSERT_TRUE(service);
    auto requests = service->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/api/bug");
    const std::string too_slow = "less than 1024 bytes per second over 2 s";
    EXPECT_EQ(UploadFailures(), std::vector<std::string>{FailureOf("/bug", too_slow)});

    service->SetReply("bug", {200, R"({"id": 6})"});
    service->SetReply("attachment", stalled);
    EXPECT_TRUE(SendWithin(std::chrono::seconds(20), service, result));
    EXPECT_EQ(result.id, 6u);
    ASSERT_TRUE(service);
    requests = service->Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].path, "/api/attachment");
    const auto failures = UploadFailures();
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[1], FailureOf("/attachment", too_slow));
}

// Whatever shape a slow service gives the exchange, the bound that fits it ends the report:
// not delivered, the result untouched, nothing attached or deleted, the bound in the log.
TEST_F(UploadTest, EachTrickleEndsAtItsBound) {
    dump_ = std::string(1024 * 1024, 'D');  // a body larger than the sockets' buffers
    struct Case {
        const char* name;
        ServiceReply reply;
        UploadBounds bounds;
        std::string reason;
    };
    auto Reply = [](std::string body, std::chrono::milliseconds pause, bool endless = false,
                    int read_rate = 0) {
        ServiceReply reply{200, std::move(body)};
        reply.trickle = pause;
        reply.endless = endless;
        reply.read_bytes_per_second = read_rate;
        return reply;
    };
    auto quick = QuickBounds();
    auto late_reply = quick;  // a reply above the floor
    late_reply.floor_bytes_per_second = 10;
    late_reply.reply = std::chrono::seconds(2);
    auto slow_body = quick;  // a body read above the floor
    slow_body.floor_bytes_per_second = 16 * 1024;
    slow_body.deadline_base = std::chrono::seconds(2);
    const std::vector<Case> cases = {
        {"a 1,000-byte reply at 2 bytes a second",
         Reply(R"({"id": 1, "message": ")" + std::string(980, 'x') + R"("})",
               std::chrono::milliseconds(500)),
         quick, "less than 1024 bytes per second over 2 s"},
        {"a chunked reply without end, a byte every 0.5 s",
         Reply(R"({"id": 1})", std::chrono::milliseconds(500), true), quick,
         "less than 1024 bytes per second over 2 s"},
        {"the report read at 512 bytes a second", Reply("{}", {}, false, 512), quick,
         "less than 1024 bytes per second over 2 s"},
        {"a chunked reply without end above the floor",
         Reply(R"({"id": 1})", std::chrono::milliseconds(20), true), late_reply,
         "no reply within 2 s of the request"},
        {"the report read above the floor past the deadline", Reply("{}", {}, false, 64 * 1024),
         slow_body, "not done within "},
    };
    auto service = std::make_unique<ReportService>(FixedPorts());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const upload::testing::ScopedBounds scoped(c.bounds);
        ASSERT_TRUE(service);
        service->SetReply("bug", c.reply);
        const auto failures_before = UploadFailures().size();
        BugReportResult result{12345, "before"};
        EXPECT_FALSE(SendWithin(std::chrono::seconds(20), service, result));
        EXPECT_EQ(result.id, 12345u);
        EXPECT_EQ(result.message, "before");
        EXPECT_TRUE(NothingDeleted());
        const auto failures = UploadFailures();
        ASSERT_EQ(failures.size(), failures_before + 1);
        EXPECT_TRUE(failures.back().starts_with(FailureOf("/bug", c.reason))) << failures.back();
    }
    ASSERT_TRUE(service);
    EXPECT_TRUE(RequestsTo(service->Requests(), "/api/attachment").empty());
}

// A slow but real link still delivers: the service reads a 2 MiB report at a rate above the
// floor for twice the floor's window and longer than the reply's bound, and its deadline grows
// past the base with the body.
TEST_F(UploadTest, ASlowButMovingReportIsDelivered) {
    dump_ = std::string(1536 * 1024, 'D');
    const upload::testing::ScopedBounds scoped({.floor_bytes_per_second = 128 * 1024,
                                                .floor_window = std::chrono::seconds(2),
                                                .reply = std::chrono::seconds(2),
                                                .deadline_base = std::chrono::seconds(1),
                                                .deadline_bytes_per_second = 256 * 1024});
    auto service = std::make_unique<ReportService>(FixedPorts());
    ServiceReply slow_reader{200, R"({"id": 21})"};
    slow_reader.read_bytes_per_second = 512 * 1024;  // about 4 s for the body
    service->SetReply("bug", slow_reader);
    BugReportResult result;
    EXPECT_TRUE(SendWithin(std::chrono::seconds(30), service, result));
    EXPECT_EQ(result.id, 21u);
    EXPECT_TRUE(UploadFailures().empty()) << UploadFailures()[0];
    ASSERT_TRUE(service);
    EXPECT_EQ(RequestsTo(service->Requests(), "/api/attachment").size(), 1u);
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

// A proxy that the settings name by its IPv6 literal carries both uploads, and the log names
// it whole.
TEST_F(UploadTest, AnIpv6ProxyCarriesBothUploads) {
    auto service = std::make_unique<ReportService>(FixedPorts());
    service->SetReply("bug", {200, R"({"id": 4})"});
    platform::testing::Reset();
    test_support::LoopbackProxy proxy(test_support::LoopbackProxy::Family::kIpv6);
    const test_support::ScopedEnv https_proxy("https_proxy", "http://" + proxy.Address());

    BugReportResult result;
    EXPECT_TRUE(SendWithin(std::chrono::seconds(60), service, result));
    EXPECT_EQ(result.id, 4u);
    ASSERT_TRUE(service);
    EXPECT_EQ(service->Requests().size(), 2u);
    std::vector<std::string> route_records;
    for (const auto& record : log_.Records()) {
        if (record.message.starts_with("proxy=") || record.message == "no proxies") {
            route_records.push_back(record.message);
        }
    }
    EXPECT_EQ(route_records,
              std::vector<std::string>(2, "proxy=[::1]. port=" + std::to_string(proxy.port())));
    const std::string tunnel = "CONNECT 127.0.0.1:" + std::to_string(service->production_port());
    const std::string log = proxy.Log();
    std::size_t tunnels = 0;
    for (auto at = log.find(tunnel); at != std::string::npos; at = log.find(tunnel, at + 1)) {
        ++tunnels;
    }
    EXPECT_EQ(tunnels, 2u) << log;
    platform::testing::Reset();
}

}  // namespace
