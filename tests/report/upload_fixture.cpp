#include "upload_fixture.h"

#include <nlohmann/json.hpp>
#include <zip.h>

#include <algorithm>
#include <memory>

#include "endpoints.h"

namespace upload_test {
namespace {

namespace fs = std::filesystem;

struct ZipClose {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileClose {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

}  // namespace

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
    BugReportRequest request;
    request.product_name = L"Velmora Antivirus";
    request.product_version = "14.3.43577.3505";
    request.crash_info_dir_path = crash_;
    request.logs_dir_path = logs_;
    request.attach_logs = true;
    request.crash_uuid = kCrashUuid;
    request.tester_email = L"user@example.com";
    request.description = L"it crashed";
    request.use_production_server = true;
    request.verify_peer = false;
    request.user_agent = kUserAgent;
    return request;
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
    const fs::path copy = root_ / "received.zip";
    test_support::WriteFile(copy, test_support::DecodeBase64(body.at("files").at(0).at("attach-data")));

    std::vector<std::pair<std::string, std::string>> entries;
    int error = 0;
    // Without the consistency check: it counts two entries of one name as inconsistent.
    const std::unique_ptr<zip_t, ZipClose> archive(zip_open(copy.c_str(), ZIP_RDONLY, &error));
    EXPECT_NE(archive, nullptr) << "libzip error " << error;
    if (!archive) {
        return entries;
    }
    for (zip_int64_t index = 0; index < zip_get_num_entries(archive.get(), 0); ++index) {
        const auto at = static_cast<zip_uint64_t>(index);
        zip_stat_t facts;
        zip_stat_index(archive.get(), at, 0, &facts);
        std::string content(static_cast<std::size_t>(facts.size), '\0');
        const std::unique_ptr<zip_file_t, ZipFileClose> file(zip_fopen_index(archive.get(), at, 0));
        EXPECT_NE(file, nullptr);
        if (file) {
            EXPECT_EQ(zip_fread(file.get(), content.data(), content.size()),
                      static_cast<zip_int64_t>(content.size()));
        }
        entries.emplace_back(facts.name, content);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

}  // namespace upload_test
