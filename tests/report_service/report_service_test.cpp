// The double itself: which builds it can stand in for, a fixed port shared between
// processes or still held by another program, and replies held while a test acts.
#include "tests/report_service/report_service.h"

#include <arpa/inet.h>
#include <cpr/cpr.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>

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
        {"https://127.0.0.1:24731/api", "https://127.0.0.1:24732/api", true},
        {"https://127.0.0.1:1/api", "https://127.0.0.1:65535", true},
        {"https://reports.quorbelin.invalid/api", "https://reports-staging.quorbelin.invalid/api",
         false},
        {"https://127.0.0.1:24731/api", "https://reports-staging.quorbelin.invalid/api", false},
        {"https://127.0.0.1:24731/api", "https://127.0.0.1:24731/api", false},
        {"https://127.0.0.1/api", "https://127.0.0.1:24732/api", false},
        {"https://127.0.0.1:65536/api", "https://127.0.0.1:24732/api", false},
        {"http://127.0.0.1:24731/api", "https://127.0.0.1:24732/api", false},
        {"https://localhost:24731/api", "https://127.0.0.1:24732/api", false},
        {"https://127.0.0.1:24731.example/api", "https://127.0.0.1:24732/api", false},
    };
    for (const auto& item : kCases) {
        SCOPED_TRACE(std::string(item.production) + " " + item.staging);
        const auto reason = test_support::WhyNotOnLoopback(item.production, item.staging);
        EXPECT_EQ(!reason.has_value(), item.can) << reason.value_or("");
    }
}

// The machine-wide lock file of a fixed port that a test picks, removed at the end when the
// test made it: no other run uses that port.
class TestPortLockFile {
public:
    explicit TestPortLockFile(int port)
        : path_("/tmp/tallorin-port-" + std::to_string(port) + ".lock"),
          fresh_(!std::filesystem::exists(path_)) {}
    TestPortLockFile(const TestPortLockFile&) = delete;
    TestPortLockFile& operator=(const TestPortLockFile&) = delete;
    ~TestPortLockFile() {
        if (fresh_) {
            std::error_code ignored;
            std::filesystem::remove(path_, ignored);
        }
    }

private:
    std::filesystem::path path_;
    bool fresh_;
};

// Another program's listener on a loopback port, until Close.
class TakenPort {
public:
    TakenPort() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd_, 1) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            Close();
            throw std::runtime_error("cannot listen on loopback");
        }
        port_ = ntohs(address.sin_port);
    }
    TakenPort(const TakenPort&) = delete;
    TakenPort& operator=(const TakenPort&) = delete;
    ~TakenPort() { Close(); }

    int port() const { return port_; }
    void Close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_;
    int port_ = 0;
};

// Another clone's run that wants the same fixed port waits for it instead of failing to bind.
TEST(ReportServiceDouble, ProcessesTakeAFixedPortInTurns) {
    const int port = test_support::UnusedLoopbackPort();
    const TestPortLockFile lock_file(port);
    auto first = std::make_unique<ReportService>(ReportServiceOptions{.production_port = port});
    auto second = std::async(std::launch::async, [port] {
        return std::make_unique<ReportService>(ReportServiceOptions{.production_port = port});
    });
    // Longer than the double tried a busy port again before it waited for the lock.
    EXPECT_EQ(second.wait_for(std::chrono::seconds(3)), std::future_status::timeout);
    first.reset();
    EXPECT_EQ(second.get()->production_port(), port);  // throws when it did not start
}

// A fixed port that another program still holds once the double has its lock (a listener here,
// a closed connection's TIME_WAIT for 60 s elsewhere) is waited out, then taken.
TEST(ReportServiceDouble, WaitsOutAPortThatAnotherProgramHolds) {
    TakenPort taken;
    const int port = taken.port();
    const TestPortLockFile lock_file(port);
    auto service = std::async(std::launch::async, [port] {
        return std::make_unique<ReportService>(ReportServiceOptions{.production_port = port});
    });
    EXPECT_EQ(service.wait_for(std::chrono::seconds(2)), std::future_status::timeout);
    taken.Close();
    EXPECT_EQ(service.get()->production_port(), port);  // throws when it did not start
}

// One that stays taken ends the double at its patience, saying which port and why.
TEST(ReportServiceDouble, GivesUpOnAPortThatStaysTakenAndSaysSo) {
    const TakenPort taken;
    const TestPortLockFile lock_file(taken.port());
    const auto started = std::chrono::steady_clock::now();
    try {
        ReportService service(ReportServiceOptions{.production_port = taken.port(),
                                                   .bind_patience = std::chrono::seconds(1)});
        ADD_FAILURE() << "the double started on a taken port";
    } catch (const std::runtime_error& error) {
        const std::string said = error.what();
        EXPECT_NE(
            said.find("port " + std::to_string(taken.port()) + " stays in use by another program"),
            std::string::npos)
            << said;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
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
