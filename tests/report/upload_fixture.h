// A crash-files folder with a dump, a log folder and the report-service double on the build's
// fixed ports, for tests of the uploads through the real HTTP layer.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "report/bug_report.h"
#include "tests/report_service/report_service.h"
#include "tests/support/report_request.h"
#include "tests/support/temp_dir.h"

namespace upload_test {

inline constexpr char kCrashUuid[] = "5d1f7c2a-0b3e-4e8f-9a61-2c4b7d9e0f13";
inline constexpr const char* kUserAgent = test_support::kReportUserAgent;

class Upload : public ::testing::Test {
protected:
    void SetUp() override;

    // The double on the ports that the build's base URLs name.
    static test_support::ReportServiceOptions FixedPorts(
        test_support::CertificateFor certificate = test_support::CertificateFor::kLoopback);

    // As the "Application" object fills it, for the production service and peer verification
    // off (the double's certificate is self-signed).
    BugReportRequest Request() const;

    // Writes a log file under the log folder (subfolders made as needed).
    void WriteLog(const std::filesystem::path& relative, const std::string& content) const;
    std::filesystem::path Dump() const;
    std::filesystem::path Archive() const;

    // The requests of one endpoint path ("/api/attachment") among `requests`.
    static std::vector<test_support::RecordedRequest> OfPath(
        const std::vector<test_support::RecordedRequest>& requests, const std::string& path);

    // The entries (name, content) of the archive that an attachment body carries, read back
    // with libzip, sorted by name and content.
    std::vector<std::pair<std::string, std::string>> ArchiveOf(
        const test_support::RecordedRequest& attachment) const;

    test_support::DirectConnections direct_;
    test_support::TempDir root_;
    std::filesystem::path crash_ = root_ / "crash";
    std::filesystem::path logs_ = root_ / "logs";
    std::string dump_ = std::string(3000, 'D');
};

}  // namespace upload_test
