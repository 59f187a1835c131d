#include "report/endpoints.h"

#include <cpr/cpr.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/report_service/report_service.h"

namespace {

TEST(Endpoints, EachServiceIsReachedOnItsOwnPort) {
    if (const auto reason = test_support::WhyNotOnLoopback(kProductionBaseUrl, kStagingBaseUrl)) {
        GTEST_SKIP() << *reason;
    }
    const test_support::DirectConnections direct;
    test_support::ReportService service(
        test_support::OnPortsOf(kProductionBaseUrl, kStagingBaseUrl));
    struct Case {
        std::string url;
        int port;
        const char* path;
    };
    const Case kCases[] = {
        {std::string(kProductionBaseUrl) + kBugPath, service.production_port(), "/api/bug"},
        {std::string(kProductionBaseUrl) + kAttachmentPath, service.production_port(),
         "/api/attachment"},
        {std::string(kStagingBaseUrl) + kBugPath, service.staging_port(), "/api/bug"},
        {std::string(kStagingBaseUrl) + kAttachmentPath, service.staging_port(), "/api/attachment"},
    };
    for (const auto& item : kCases) {
        cpr::Session session;
        session.SetUrl(cpr::Url{item.url});
        session.SetSslOptions(cpr::Ssl(cpr::ssl::VerifyPeer{false}));
        EXPECT_EQ(session.Post().status_code, 200) << item.url;
    }
    const auto requests = service.Requests();
    ASSERT_EQ(requests.size(), std::size(kCases));
    for (std::size_t index = 0; index < std::size(kCases); ++index) {
        SCOPED_TRACE(index);
        EXPECT_EQ(requests[index].port, kCases[index].port);
        EXPECT_EQ(requests[index].path, kCases[index].path);
    }
}

}  // namespace
