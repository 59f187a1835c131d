#include <cpr/cpr.h>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "tests/report_service/report_service.h"
#include "tests/support/loopback_proxy.h"
#include "tests/support/scoped_env.h"

namespace {

using test_support::CertificateFor;
using test_support::RecordedRequest;
using test_support::ReportService;
using test_support::ServiceReply;

struct Exchange {
    explicit Exchange(std::string p_url, std::string p_body = R"({"title":"x"})")
        : url(std::move(p_url)), body(std::move(p_body)) {}

    std::string url;
    std::string body;
    bool verify_peer = false;  // the double's certificate is self-signed
    cpr::Proxies proxies;
    std::optional<cpr::ConnectTimeout> connect_timeout;
    std::optional<cpr::LowSpeed> low_speed;
    std::optional<cpr::WriteCallback> write;
    std::optional<cpr::ProgressCallback> progress;
};

// A request set up the way the report client does it.
cpr::Response Post(const Exchange& exchange) {
    cpr::Session session;
    session.SetUrl(cpr::Url{exchange.url});
    session.SetProxies(exchange.proxies);
    session.SetBody(cpr::Body{exchange.body});
    session.SetSslOptions(cpr::Ssl(cpr::ssl::VerifyPeer{exchange.verify_peer}));
    session.SetHeader(cpr::Header{{"User-Agent", "Quorbelin-Velmora Antivirus-14.3.43577.3505"},
                                  {"Content-Type", "application/json"}});
    if (exchange.connect_timeout) {
        session.SetConnectTimeout(*exchange.connect_timeout);
    }
    if (exchange.low_speed) {
        session.SetLowSpeed(*exchange.low_speed);
    }
    if (exchange.write) {
        session.SetWriteCallback(*exchange.write);
    }
    if (exchange.progress) {
        session.SetProgressCallback(*exchange.progress);
    }
    return session.Post();
}

// Posts as Post does, under a deadline of its own: past it the test fails and the double is
// stopped, which ends the exchange.
cpr::Response PostWithin(std::chrono::seconds limit, const Exchange& exchange,
                         std::unique_ptr<test_support::ReportService>& service) {
    auto posted = std::async(std::launch::async, [&] { return Post(exchange); });
    if (posted.wait_for(limit) == std::future_status::timeout) {
        ADD_FAILURE() << "the exchange outlived " << limit.count() << " s";
        service.reset();
    }
    return posted.get();
}

// Listens on loopback and never accepts: the kernel completes the TCP handshake into the
// backlog, and a client then waits for ever for the TLS handshake's answer.
class SilentListener {
public:
    SilentListener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd_, 8) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            Close();
            throw std::runtime_error("cannot listen on loopback");
        }
        port_ = ntohs(address.sin_port);
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    ~SilentListener() { Close(); }

    int port() const { return port_; }

private:
    void Close() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    int fd_;
    int port_ = 0;
};

// The CONNECT requests that tinyproxy logged.
std::size_t Tunnels(const std::string& log) {
    std::size_t tunnels = 0;
    for (auto at = log.find("CONNECT 127.0.0.1:"); at != std::string::npos;
         at = log.find("CONNECT 127.0.0.1:", at + 1)) {
        ++tunnels;
    }
    return tunnels;
}

class Session : public ::testing::Test {
protected:
    test_support::DirectConnections direct_;
};

TEST_F(Session, PostsBodyAndHeadersToTheChosenPort) {
    ReportService service;
    service.SetReply("bug", {200, R"({"id": 17})"});
    service.SetReply("attachment", {201, "created"});
    // A body of several MiB with every byte value: sent once, whole, without a copy gone stale.
    std::string large(3 * 1024 * 1024 + 7, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<char>(i * 131 % 251);
    }

    const auto bug = Post(Exchange(ReportService::BaseUrl(service.production_port()) + "/bug"));
    EXPECT_EQ(bug.status_code, 200);
    EXPECT_EQ(bug.text, R"({"id": 17})");
    EXPECT_FALSE(bug.error);
    EXPECT_EQ(bug.header.at("content-type"), "application/json");  // any case finds it

    const auto attachment =
        Post(Exchange(ReportService::BaseUrl(service.staging_port()) + "/attachment", large));
    EXPECT_EQ(attachment.status_code, 201);
    EXPECT_EQ(attachment.text, "created");

    const auto requests = service.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, "/api/bug");
    EXPECT_EQ(requests[0].port, service.production_port());
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, R"({"title":"x"})");
    EXPECT_EQ(requests[1].path, "/api/attachment");
    EXPECT_EQ(requests[1].port, service.staging_port());
    EXPECT_TRUE(requests[1].body == large);
    for (const RecordedRequest& request : requests) {
        EXPECT_EQ(request.Header("User-Agent"), "Quorbelin-Velmora Antivirus-14.3.43577.3505");
        EXPECT_EQ(request.Header("Content-Type"), "application/json");
        EXPECT_EQ(request.Header("Expect"), std::nullopt);
    }
}

TEST_F(Session, DecodesACompressedReply) {
    ReportService service;
    const std::string reply = R"({"id": 5, "message": "thanks"})";
    service.SetReply("bug", {200, reply, true});
    const auto response =
        Post(Exchange(ReportService::BaseUrl(service.production_port()) + "/bug"));
    EXPECT_EQ(response.status_code, 200);
    EXPECT_EQ(response.text, reply);
    const auto requests = service.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].Header("Accept-Encoding").value_or("").find("gzip"), std::string::npos);
}

TEST_F(Session, VerifiesThePeerOnlyWhenAskedAndTheHostNameAlways) {
    struct Case {
        CertificateFor certificate;
        bool verify_peer;
        bool accepted;
    };
    constexpr Case kCases[] = {
        {CertificateFor::kLoopback, true, false},  // self-signed: no trusted root
        {CertificateFor::kLoopback, false, true},
        {CertificateFor::kOtherHost, true, false},
        {CertificateFor::kOtherHost, false, false},  // wrong name, even unverified
    };
    for (std::size_t index = 0; index < std::size(kCases); ++index) {
        SCOPED_TRACE(index);
        const auto& item = kCases[index];
        ReportService service({.certificate = item.certificate});
        Exchange exchange{ReportService::BaseUrl(service.production_port()) + "/bug"};
        exchange.verify_peer = item.verify_peer;
        const auto response = Post(exchange);
        if (item.accepted) {
            EXPECT_EQ(response.status_code, 200);
            EXPECT_EQ(service.Requests().size(), 1u);
        } else {
            EXPECT_EQ(response.status_code, 0);
            EXPECT_TRUE(response.error);
            EXPECT_FALSE(response.error.message.empty());
            EXPECT_TRUE(service.Requests().empty());
        }
    }
}

TEST_F(Session, NoListenerIsStatusZeroWithLibcurlsText) {
    const auto response =
        Post(Exchange(ReportService::BaseUrl(test_support::UnusedLoopbackPort()) + "/bug"));
    EXPECT_EQ(response.status_code, 0);
    EXPECT_EQ(response.error.code, cpr::ErrorCode::CONNECTION_FAILURE);
    EXPECT_FALSE(response.error.message.empty());
    EXPECT_TRUE(response.text.empty());
}

TEST_F(Session, GoesThroughTheProxyGivenForTheUrlsScheme) {
    ReportService service;
    test_support::LoopbackProxy proxy;
    Exchange exchange{ReportService::BaseUrl(service.staging_port()) + "/attachment"};
    exchange.proxies = cpr::Proxies{{"https", proxy.Address()}};
    const auto response = Post(exchange);
    EXPECT_EQ(response.status_code, 200) << response.error.message;
    const auto requests = service.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/api/attachment");
    EXPECT_EQ(requests[0].body, exchange.body);
    EXPECT_NE(proxy.Log().find("CONNECT"), std::string::npos) << proxy.Log();
}

TEST_F(Session, IgnoresAProxyGivenForAnotherScheme) {
    ReportService service;
    Exchange exchange{ReportService::BaseUrl(service.production_port()) + "/bug"};
    // Nothing listens there: using it would fail the request.
    exchange.proxies =
        cpr::Proxies{{"http", "127.0.0.1:" + std::to_string(test_support::UnusedLoopbackPort())}};
    EXPECT_EQ(Post(exchange).status_code, 200);
    EXPECT_EQ(service.Requests().size(), 1u);
}

// Only the proxy given for the scheme routes the request: an empty one is a direct
// connection whatever https_proxy and all_proxy say, and a real one serves the host that
// no_proxy names.
TEST_F(Session, TheProxiesGivenAreTheWholeRoute) {
    ReportService service;
    test_support::LoopbackProxy proxy;
    const std::string proxy_url = "http://" + proxy.Address();
    struct Case {
        const char* name;
        std::string given;  // the proxy given for "https"
        const char* no_proxy;
        bool tunnelled;
    };
    const Case kCases[] = {{"empty", "", "", false},
                           {"tinyproxy", proxy.Address(), "127.0.0.1,localhost", true}};
    const test_support::ScopedEnv https_proxy("https_proxy", proxy_url);
    const test_support::ScopedEnv https_proxy_upper("HTTPS_PROXY", proxy_url);
    const test_support::ScopedEnv all_proxy("all_proxy", proxy_url);
    const test_support::ScopedEnv all_proxy_upper("ALL_PROXY", proxy_url);
    for (const auto& item : kCases) {
        SCOPED_TRACE(item.name);
        const test_support::ScopedEnv no_proxy("no_proxy", item.no_proxy);
        const test_support::ScopedEnv no_proxy_upper("NO_PROXY", item.no_proxy);
        const auto before = Tunnels(proxy.Log());
        Exchange exchange{ReportService::BaseUrl(service.production_port()) + "/bug"};
        exchange.proxies = cpr::Proxies{{"https", item.given}};
        const auto response = Post(exchange);
        EXPECT_EQ(response.status_code, 200) << response.error.message;
        EXPECT_EQ(Tunnels(proxy.Log()) - before, item.tunnelled ? 1u : 0u) << proxy.Log();
    }
    EXPECT_EQ(service.Requests().size(), 2u);
}

// A service that goes silent ends the exchange once less than the low-speed limit has moved
// for the whole window.
TEST_F(Session, LowSpeedEndsAStall) {
    auto service = std::make_unique<ReportService>();
    test_support::ServiceReply stalled;
    stalled.stall = true;
    service->SetReply("bug", stalled);
    Exchange exchange{ReportService::BaseUrl(service->production_port()) + "/bug"};
    exchange.low_speed = cpr::LowSpeed{1, 1};
    const auto response = PostWithin(std::chrono::seconds(20), exchange, service);
    EXPECT_EQ(response.status_code, 0);
    EXPECT_EQ(response.error.code, cpr::ErrorCode::OPERATION_TIMEDOUT) << response.error.message;
    EXPECT_EQ(response.text, "");
}

// What progress counts as sent is what the peer has read, give or take the sockets' buffers:
// a service reading 4 MiB at 1 MiB/s has not had most of it after a second.
TEST_F(Session, ProgressFollowsWhatThePeerHasRead) {
    auto service = std::make_unique<ReportService>();
    test_support::ServiceReply slow_reader;
    slow_reader.read_bytes_per_second = 1024 * 1024;
    service->SetReply("attachment", slow_reader);
    constexpr std::int64_t kBody = 4 * 1024 * 1024;
    Exchange exchange{ReportService::BaseUrl(service->production_port()) + "/attachment",
                      std::string(kBody, 'x')};
    const auto start = std::chrono::steady_clock::now();
    std::int64_t sent_after_a_second = 0;
    std::int64_t total = 0;
    exchange.progress = cpr::ProgressCallback([&](cpr::cpr_pf_arg_t, cpr::cpr_pf_arg_t,
                                                  cpr::cpr_pf_arg_t upload_total,
                                                  cpr::cpr_pf_arg_t upload_now, std::intptr_t) {
        if (std::chrono::steady_clock::now() - start <= std::chrono::seconds(1)) {
            sent_after_a_second = upload_now;
        }
        total = std::max(total, upload_total);
        return true;
    });
    const auto response = PostWithin(std::chrono::seconds(30), exchange, service);
    EXPECT_EQ(response.status_code, 200) << response.error.message;
    EXPECT_EQ(total, kBody);
    EXPECT_GT(sent_after_a_second, 0);
    EXPECT_LT(sent_after_a_second, kBody / 2);
}

// Returning false from the progress callback ends the exchange at once.
TEST_F(Session, ProgressCallbackMayEndTheExchange) {
    auto service = std::make_unique<ReportService>();
    test_support::ServiceReply stalled;
    stalled.stall = true;
    service->SetReply("bug", stalled);
    Exchange exchange{ReportService::BaseUrl(service->production_port()) + "/bug"};
    int calls = 0;
    exchange.progress = cpr::ProgressCallback(
        [&](cpr::cpr_pf_arg_t, cpr::cpr_pf_arg_t, cpr::cpr_pf_arg_t, cpr::cpr_pf_arg_t,
            std::intptr_t userdata) {
            EXPECT_EQ(userdata, 7);
            return ++calls < 3;
        },
        7);
    const auto response = PostWithin(std::chrono::seconds(20), exchange, service);
    EXPECT_EQ(response.status_code, 0);
    EXPECT_EQ(response.error.code, cpr::ErrorCode::REQUEST_CANCELLED) << response.error.message;
    EXPECT_EQ(calls, 3);
}

TEST_F(Session, ConnectTimeoutEndsAHandshakeThatNeverComes) {
    const SilentListener listener;
    Exchange exchange{ReportService::BaseUrl(listener.port()) + "/bug"};
    exchange.connect_timeout = cpr::ConnectTimeout{std::chrono::milliseconds(500)};
    const auto response = Post(exchange);
    EXPECT_EQ(response.status_code, 0);
    EXPECT_EQ(response.error.code, cpr::ErrorCode::OPERATION_TIMEDOUT) << response.error.message;
}

// The callback sees the decoded reply in place of the response's text, and can end it.
TEST_F(Session, WriteCallbackTakesTheDecodedReplyAndMayEndIt) {
    ReportService service;
    const std::string reply = R"({"id": 5, "message": ")" + std::string(200000, 'x') + R"("})";
    service.SetReply("bug", {200, reply, true});
    for (const bool accept : {true, false}) {
        SCOPED_TRACE(accept ? "accepted" : "refused");
        std::string received;
        Exchange exchange{ReportService::BaseUrl(service.production_port()) + "/bug"};
        exchange.write = cpr::WriteCallback(
            [&](const std::string_view& data, std::intptr_t userdata) {
                EXPECT_EQ(userdata, 42);
                received.append(data);
                return accept;
            },
            42);
        const auto response = Post(exchange);
        EXPECT_TRUE(response.text.empty());
        if (accept) {
            EXPECT_EQ(response.status_code, 200) << response.error.message;
            EXPECT_TRUE(received == reply);
        } else {
            EXPECT_EQ(response.status_code, 0);
            EXPECT_EQ(response.error.code, cpr::ErrorCode::REQUEST_CANCELLED);
            EXPECT_LT(received.size(), reply.size());
        }
    }
}

TEST_F(Session, FollowsRedirectsWithThePostAndItsBody) {
    ReportService service;
    const std::string target = ReportService::BaseUrl(service.staging_port()) + "/attachment";
    service.SetReply("attachment", {200, R"({"id": 9})"});
    const int kStatuses[] = {301, 302, 303, 307, 308};
    for (const int status : kStatuses) {
        SCOPED_TRACE(status);
        const auto before = service.Requests().size();
        service.SetReply("bug", {status, "moved", false, target});
        const Exchange exchange{ReportService::BaseUrl(service.production_port()) + "/bug"};
        const auto response = Post(exchange);
        EXPECT_EQ(response.status_code, 200) << response.error.message;
        EXPECT_EQ(response.text, R"({"id": 9})");
        EXPECT_EQ(response.url.str(), target);
        const auto requests = service.Requests();
        ASSERT_EQ(requests.size(), before + 2);
        const auto& redirected = requests.back();
        EXPECT_EQ(redirected.port, service.staging_port());
        EXPECT_EQ(redirected.path, "/api/attachment");
        EXPECT_EQ(redirected.method, "POST");
        EXPECT_EQ(redirected.body, exchange.body);
    }
}

TEST_F(Session, NeverFollowsARedirectFromHttpsToPlainHttp) {
    ReportService service;
    const int plain_port = test_support::UnusedLoopbackPort();
    service.SetReply("bug", {302, "moved", false,
                             "http://127.0.0.1:" + std::to_string(plain_port) + "/api/bug"});
    const auto response =
        Post(Exchange(ReportService::BaseUrl(service.production_port()) + "/bug"));
    EXPECT_EQ(response.status_code, 0);
    EXPECT_TRUE(response.error);
    // Refused before any connection is tried (nothing listens there either).
    EXPECT_EQ(response.error.message.find("connect"), std::string::npos) << response.error.message;
    EXPECT_NE(response.error.message.find("http"), std::string::npos) << response.error.message;
    EXPECT_EQ(service.Requests().size(), 1u);
}

TEST_F(Session, GivesUpAfterFiftyRedirects) {
    ReportService service;
    const std::string url = ReportService::BaseUrl(service.production_port()) + "/bug";
    service.SetReply("bug", {302, "again", false, url});
    const auto response = Post(Exchange(url));
    EXPECT_EQ(response.status_code, 0);
    EXPECT_TRUE(response.error);
    EXPECT_EQ(service.Requests().size(), 51u);  // the first request and fifty redirects
}

TEST(Header, ComparesNamesWithoutRegardToCase) {
    cpr::Header header{{"User-Agent", "a"}};
    header["user-agent"] = "b";
    header["CONTENT-TYPE"] = "application/json";
    EXPECT_EQ(header.size(), 2u);
    EXPECT_EQ(header.at("User-Agent"), "b");
    EXPECT_EQ(header.count("content-type"), 1u);
}

}  // namespace
