#include "tests/report/upload_fixture.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <utility>

#include "report/endpoints.h"
#include "tests/support/zip_entries.h"

namespace upload_test {

namespace fs = std::filesystem;

void Upload::SetUp() {
    if (const auto reason = test_support::WhyNotOnLoopback(kProductionBaseUrl, kStagingBaseUrl)) {
        GTEST_SKIP() << *reason;
    }
    fs::create_directories(crash_);
    test_support::WriteFile(Dump(), dump_);
}

test_support::ReportServiceOptions Upload::FixedPorts(test_support::CertificateFor certificate) {
    auto options = test_support::OnPortsOf(kProductionBaseUrl, kStagingBaseUrl);
    options.certificate = certificate;
    return options;
}

BugReportRequest Upload::Request() const {
    return test_support::ReportRequest(crash_, logs_, kCrashUuid);
}

void Upload::WriteLog(const fs::path& relative, const std::string& content) const {
    fs::create_directories((logs_ / relative).parent_path());
    test_support::WriteFile(logs_ / relative, content);
}

fs::path Upload::Dump() const { return crash_ / (std::string(kCrashUuid) + ".dmp"); }
fs::path Upload::Archive() const { return crash_ / (std::string(kCrashUuid) + ".zip"); }

std::vector<test_support::RecordedRequest> Upload::OfPath(
    const std::vector<test_support::RecordedRequest>& requests, const std::string& path) {
    return test_support::RequestsTo(requests, path);
}

std::vector<std::pair<std::string, std::string>> Upload::ArchiveOf(
    const test_support::RecordedRequest& attachment) const {
    const auto body = nlohmann::json::parse(attachment.body);
    std::vector<std::pair<std::string, std::string>> entries;
    for (auto& entry : test_support::ReadZipEntries(
             test_support::DecodeBase64(body.at("files").at(0).at("attach-data")))) {
        entries.emplace_back(std::move(entry.name), std::move(entry.content));
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

}  // namespace upload_test
