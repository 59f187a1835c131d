// The double itself: which builds it can stand in for, a fixed port shared between
// processes, and replies held while a test acts.
#include "tests/report_service/report_service.h"

#include <cpr/cpr.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>

namespace {

using test_support::ReportService;
using test_support::ReportServiceOptions;

// A client posting to the double on any port: the project's own HTTP layer, the certificate
// being self-signed.
cpr::Response PostTo(int port, const std::string& path, const std::string& body) {
    cpr::Session session;
    session.SetUrl(cpr::Url{ReportService::BaseUrl(port) + path});
    session.SetSslOptions(cpr::Ssl(cpr::ssl::VerifyPeer{false}));
    session.SetHeader(cpr::Header{{"Content-Type", "application/json"}});
    session.SetBody(cpr::Body{body});
    return session.Post();
}

TEST(ReportServiceDouble, StandsInOnlyForTwoLoopbackPorts) {
    struct Case {
        const char* production;
        const char* staging;
        bool can;
    };
    const Case kCases[] = {
        {"https://127.0.0.1:44731/api", "https://127.0.0.1:44732/api", true},
        {"https://127.0.0.1:1/api", "https://127.0.0.1:65535", true},
        {"https://reports.quorbelin.invalid/api", "https://reports-staging.quorbelin.invalid/api",
         false},
        {"https://127.0.0.1:44731/api", "https://reports-staging.quorbelin.invalid/api", false},
        {"https://127.0.0.1:44731/api", "https://127.0.0.1:44731/api", false},
        {"https://127.0.0.1/api", "https://127.0.0.1:44732/api", false},
        {"https://127.0.0.1:65536/api", "https://127.0.0.1:44732/api", false},
        {"http://127.0.0.1:44731/api", "https://127.0.0.1:44732/api", false},
        {"https://localhost:44731/api", "https://127.0.0.1:44732/api", false},
        {"https://127.0.0.1:44731.example/api", "https://127.0.0.1:44732/api", false},
    };
    for (const auto& item : kCases) {
        SCOPED_TRACE(std::string(item.production) + " " + item.staging);
        const auto reason = test_support::WhyNotOnLoopback(item.production, item.staging);
        EXPECT_EQ(!reason.has_value(), item.can) << reason.value_or("");
    }
}

// Another clone's run that wants the same fixed port waits for it instead of failing to bind.
TEST(ReportServiceDouble, ProcessesTakeAFixedPortInTurns) {
    const int port = test_support::UnusedLoopbackPort();
    const std::filesystem::path lock_file = "/tmp/tallorin-port-" + std::to_string(port) + ".lock";
    const bool fresh = !std::filesystem::exists(lock_file);
    auto first = std::make_unique<ReportService>(ReportServiceOptions{.production_port = port});
    auto second = std::async(std::launch::async, [port] {
        return std::make_unique<ReportService>(ReportServiceOptions{.production_port = port});
    });
    // Longer than the double tries a busy port again before it gives up.
    EXPECT_EQ(second.wait_for(std::chrono::seconds(3)), std::future_status::timeout);
    first.reset();
    EXPECT_EQ(second.get()->production_port(), port);  // throws when it did not start
    if (fresh) {
        std::filesystem::remove(lock_file);  // made for this test: no other run uses it
    }
}

// A held attachment reply waits for the test, after the request is recorded; the other
// endpoint answers meanwhile.
TEST(ReportServiceDouble, HoldsTheAttachmentReplyUntilReleased) {
    const test_support::DirectConnections direct;
    ReportService service;
    service.SetReply("attachment", {200, R"({"stored": true})"});
    service.HoldReplies("attachment");
    auto attachment = std::async(std::launch::async, [&service] {
        return PostTo(service.production_port(), "/attachment", R"({"id": 1})");
    });
    // Until the reply is held, or the client has one: a double that does not hold fails fast.
    bool held = false;
    while (!held &&
           attachment.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        held = service.WaitUntilHeld("attachment", std::chrono::milliseconds(0));
    }
    ASSERT_TRUE(held);
    const auto requests = service.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/api/attachment");
    EXPECT_EQ(requests[0].body, R"({"id": 1})");
    // Held: the client has no reply yet (asked without waiting).
    EXPECT_EQ(attachment.wait_for(std::chrono::seconds(0)), std::future_status::timeout);

    const auto bug = PostTo(service.production_port(), "/bug", "{}");
    EXPECT_EQ(bug.status_code, 200);
    EXPECT_EQ(attachment.wait_for(std::chrono::seconds(0)), std::future_status::timeout);

    service.Release("attachment");
    const auto reply = attachment.get();
    EXPECT_EQ(reply.status_code, 200);
    EXPECT_EQ(reply.text, R"({"stored": true})");
    EXPECT_FALSE(service.HoldExpired("attachment"));
}

// A test that never releases does not hang its client: the hold ends at its limit, and says so.
TEST(ReportServiceDouble, AHoldEndsAtItsLimit) {
    const test_support::DirectConnections direct;
    ReportService service;
    service.HoldReplies("bug", std::chrono::seconds(1));
    EXPECT_FALSE(service.WaitUntilHeld("bug", std::chrono::milliseconds(0)));
    const auto reply = PostTo(service.staging_port(), "/bug", "{}");
    EXPECT_EQ(reply.status_code, 200);
    EXPECT_TRUE(service.WaitUntilHeld("bug", std::chrono::milliseconds(0)));
    EXPECT_TRUE(service.HoldExpired("bug"));
}

}  // namespace
