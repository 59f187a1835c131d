#include <cpr/cpr.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "loopback_proxy.h"
#include "report_service.h"

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
    return session.Post();
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
    const auto response = Post(Exchange(ReportService::BaseUrl(service.production_port()) + "/bug"));
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
    const auto response = Post(
        Exchange(ReportService::BaseUrl(test_support::UnusedLoopbackPort()) + "/bug"));
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
