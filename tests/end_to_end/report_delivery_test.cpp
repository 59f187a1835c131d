// tallorin started as the product starts it, the stand-in engine playing the user (read the
// address, send, close), against the report-service double.
#include <gtest/gtest.h>
#include <zip.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "engine_stand_in/windows.h"
#include "report/endpoints.h"
#include "tests/report_service/report_service.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zip_entries.h"

namespace {

namespace fs = std::filesystem;
using test_support::DecodeBase64;
using test_support::RecordedRequest;
using test_support::ReportService;
using test_support::RequestsTo;

constexpr char kCrashUuid[] = "0f8fad5b-d9cb-469f-a165-70867728950e";

// The entry names of a zip held in memory, read back with libzip.
std::vector<std::string> EntryNames(const std::string& bytes, const fs::path& scratch) {
    test_support::WriteFile(scratch, bytes);
    int error = 0;
    std::unique_ptr<zip_t, decltype(&zip_discard)> archive(
        zip_open(scratch.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error), &zip_discard);
    EXPECT_NE(archive, nullptr) << "libzip error " << error;
    std::vector<std::string> names;
    for (zip_int64_t i = 0; archive && i < zip_get_num_entries(archive.get(), 0); ++i) {
        names.emplace_back(zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), 0));
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ReportDelivery : public ::testing::Test {
protected:
    // The special folders lie in `root_folder` of the test's folder, or in that folder itself.
    explicit ReportDelivery(const fs::path& root_folder = {})
        : platform_root_(root_folder.empty() ? root_.path() : root_ / root_folder) {
        fs::create_directories(platform_root_ / "AppData" / "Roaming");
        fs::create_directories(data_ / "crash_info");
        test_support::WriteFile(data_ / "crash_info" / (std::string(kCrashUuid) + ".dmp"), dump_);
        test_support::WriteFile(data_ / "logs" / "2026.12.01_tallorin_pid=7.txt", "an old run\n");
        test_support::WriteFile(data_ / "logs" / "service" / "scanner.log", "scanner log\n");
        // The double's certificate is self-signed.
        test_support::WriteFile(data_ / "settings" / "verify-peer", "");
    }

    // The program posts to the base URLs compiled into it: the double must stand on them.
    void SetUp() override {
        if (const auto reason =
                test_support::WhyNotOnLoopback(kProductionBaseUrl, kStagingBaseUrl)) {
            GTEST_SKIP() << *reason;
        }
        service_.emplace(test_support::OnPortsOf(kProductionBaseUrl, kStagingBaseUrl));
    }

    test_support::ChildResult Run(const std::vector<std::string>& arguments,
                                  int timeout_seconds = 120) {
        test_support::WriteFile(root_ / "scenario.json", R"([
            {"do": "get", "object": "Application", "property": "Email"},
            {"do": "call", "object": "Application", "method": "SendReport",
             "arguments": ["typed@example.com", "It stopped while scanning.\nTwice."]},
            {"do": "close"}
        ])");
        test_support::ChildOptions options;
        options.arguments = arguments;
        options.timeout_seconds = timeout_seconds;
        options.environment["PLATFORM_ROOT"] = platform_root_.string();
        options.environment["VELMORA_LOG_LEVEL"] = "debug";
        options.environment[engine_stand_in::kScenarioVariable] =
            (root_ / "scenario.json").string();
        options.environment[engine_stand_in::kTranscriptVariable] =
            (root_ / "transcript.jsonl").string();
        for (const char* proxy :
             {"https_proxy", "HTTPS_PROXY", "http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
            options.environment[proxy] = std::nullopt;
        }
        return test_support::RunChild(test_support::BinaryFolder() / "tallorin", options);
    }

    std::vector<std::string> Arguments() const {
        return {"--crash-uuid", kCrashUuid,          "--email",   "user@example.com",
                "--product",    "Velmora Antivirus", "--version", "14.3.43577.3505"};
    }

    // The running program's own log, named by its start time and process id.
    std::string RunningLog() const {
        const std::regex name(R"(\d{4}\.\d\d\.\d\d_\d\d\.\d\d\.\d\d_tallorin_pid=\d+\.txt)");
        for (const auto& file : LogFiles()) {
            if (std::regex_match(file.filename().string(), name)) {
                return test_support::ReadFile(file);
            }
        }
        ADD_FAILURE() << "no log of the run";
        return {};
    }

    // Every file under the log folder.
    std::vector<fs::path> LogFiles() const {
        std::vector<fs::path> files;
        for (const auto& entry : fs::recursive_directory_iterator(data_ / "logs")) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
        return files;
    }

    test_support::TempDir root_;
    fs::path platform_root_;
    fs::path data_ = platform_root_ / "ProgramData" / "Quorbelin" / "Velmora Antivirus";
    std::string dump_ = std::string(100, '\x7f') + "dump";
    std::optional<ReportService> service_;
};

TEST_F(ReportDelivery, DeliversTheReportAndTheLogsThenCleansUp) {
    service_->SetReply("bug", {200, R"({"id": 4711, "message": "thanks"})"});
    const auto result = Run(Arguments());
    EXPECT_EQ(result.exit_code, 0) << result.output;

    const auto requests = service_->Requests();
    const auto bugs = RequestsTo(requests, "/api/bug");
    const auto attachments = RequestsTo(requests, "/api/attachment");
    ASSERT_EQ(bugs.size(), 1u);
    ASSERT_EQ(attachments.size(), 1u);
    EXPECT_EQ(bugs[0].port, service_->production_port());
    EXPECT_EQ(bugs[0].Header("User-Agent"), "Quorbelin-Velmora Antivirus-14.3.43577.3505");
    EXPECT_EQ(bugs[0].Header("Content-Type"), "application/json");

    const auto report = nlohmann::json::parse(bugs[0].body);
    EXPECT_EQ(report.at("product-name"), "Velmora Antivirus");
    EXPECT_EQ(report.at("product-version"), "14.3.43577.3505");
    EXPECT_EQ(report.at("tester-email"), "typed@example.com");
    EXPECT_EQ(report.at("description"), "It stopped while scanning.\nTwice.");
    EXPECT_NE(bugs[0].body.find(R"(It stopped while scanning.\nTwice.)"), std::string::npos);
    EXPECT_EQ(DecodeBase64(report.at("attach-data")), dump_);

    // Every log file but the running one, flat in <crash uuid>.zip, for bug 4711.
    const auto attachment = nlohmann::json::parse(attachments[0].body);
    EXPECT_EQ(attachment.at("id"), 4711);
    EXPECT_EQ(attachment.at("files").at(0).at("file-name"), std::string(kCrashUuid) + ".zip");
    EXPECT_EQ(EntryNames(DecodeBase64(attachment.at("files").at(0).at("attach-data")),
                         root_ / "received.zip"),
              (std::vector<std::string>{"2026.12.01_tallorin_pid=7.txt", "scanner.log"}));

    // Gone: the dump, the archive, the other logs. Staying: the running log and its folder.
    EXPECT_FALSE(fs::exists(data_ / "crash_info" / (std::string(kCrashUuid) + ".dmp")));
    EXPECT_FALSE(fs::exists(data_ / "crash_info" / (std::string(kCrashUuid) + ".zip")));
    const auto logs = LogFiles();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_NE(logs[0].filename().string().find("_tallorin_pid="), std::string::npos);
    // (The folder's removal stops at the running log, so an emptied subfolder listed after it
    // may stay.)
    EXPECT_FALSE(fs::exists(data_ / "logs" / "service" / "scanner.log"));

    // The running log holds start-up, the send and the window's records in order.
    const std::string log = RunningLog();
    std::size_t at = 0;
    for (const char* text :
         {"[uimain]: cmd=", "init localization", "[MainWindow::show]: show main window",
          "send report. email=typed@example.com. description=It stopped",
          "crash_uuid=0f8fad5b-d9cb-469f-a165-70867728950e", "report bug result=true"}) {
        const auto found = log.find(text, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << text << "\n" << log;
        at = found;
    }
    EXPECT_EQ(log.find("failed to report bug"), std::string::npos);
}

TEST_F(ReportDelivery, TheDevModeMarkerSendsToStaging) {
    fs::create_directories(data_ / "dev-mode");
    service_->SetReply("bug", {200, R"({"id": 5})"});
    const auto result = Run(Arguments());
    EXPECT_EQ(result.exit_code, 0) << result.output;
    const auto requests = service_->Requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.port, service_->staging_port()) << request.path;
    }
}

TEST_F(ReportDelivery, WithPeerVerificationOnTheSelfSignedServiceIsRefused) {
    fs::remove(data_ / "settings" / "verify-peer");
    const auto result = Run(Arguments());
    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_TRUE(service_->Requests().empty());
    const std::string log = RunningLog();
    EXPECT_NE(log.find("report bug result=false"), std::string::npos) << log;
    EXPECT_NE(log.find("[error] "), std::string::npos);
    EXPECT_NE(log.find("failed to report bug"), std::string::npos);
    // Nothing was delivered, so nothing is deleted.
    EXPECT_TRUE(fs::exists(data_ / "crash_info" / (std::string(kCrashUuid) + ".dmp")));
    EXPECT_EQ(LogFiles().size(), 3u);
}

// A service that takes the report and never answers: the program's shipped bound ends the
// report as not delivered, the scenario goes on to close the window, the log says why, and
// nothing is deleted. This waits out the shipped minute once.
TEST_F(ReportDelivery, AStalledServiceEndsTheReportWithinTheShippedBound) {
    test_support::ServiceReply stalled;
    stalled.stall = true;
    service_->SetReply("bug", stalled);
    const auto result = Run(Arguments(), 240);
    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_FALSE(result.signalled);

    const auto requests = service_->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/api/bug");
    const std::string log = RunningLog();
    std::size_t at = 0;
    // The body is small: the reply's minute runs out as the floor's does, and is checked first.
    const std::string failure = "failed to upload. url=" + std::string(kProductionBaseUrl) +
                                "/bug. error=no reply within 60 s of the request\n";
    for (const std::string& text :
         std::vector<std::string>{failure, "report bug result=false", "failed to report bug"}) {
        const auto found = log.find(text, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << text << "\n" << log;
        at = found;
    }
    EXPECT_TRUE(std::regex_search(
        log,
        std::regex(R"(\[error\] \[\d+\] \[tallorin:upload\.cpp:\d+\]\[PostUpload\]: failed)")));
    EXPECT_TRUE(fs::exists(data_ / "crash_info" / (std::string(kCrashUuid) + ".dmp")));
    EXPECT_EQ(LogFiles().size(), 3u);
}

TEST_F(ReportDelivery, WithoutACrashUuidNothingIsSent) {
    const auto result = Run({"--email", "user@example.com"});
    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_TRUE(service_->Requests().empty());
    const std::string log = RunningLog();
    EXPECT_NE(log.find("crash_uuid=\n"), std::string::npos) << log;
    EXPECT_NE(log.find("no crash uuid"), std::string::npos);
    EXPECT_EQ(log.find("report bug result="), std::string::npos);
    EXPECT_TRUE(fs::exists(data_ / "crash_info" / (std::string(kCrashUuid) + ".dmp")));
}

// The user's folders, and so the product's log folder, named outside ASCII.
class NonAsciiReportDelivery : public ReportDelivery {
protected:
    NonAsciiReportDelivery() : ReportDelivery("Données ünï жук") {}
};

TEST_F(NonAsciiReportDelivery, LogsNamedOutsideAsciiGoUnderTheirUtf8NamesThenAreDeleted) {
    const fs::path cyrillic = data_ / "logs" / "svc" / "журнал-déjà.log";
    const fs::path in_subfolder = data_ / "logs" / "подпапка 日本" / "ログ 😀.txt";
    test_support::WriteFile(cyrillic, "журнал\n");
    test_support::WriteFile(in_subfolder, "ログ\n");
    service_->SetReply("bug", {200, R"({"id": 4712})"});
    const auto result = Run(Arguments());
    EXPECT_EQ(result.exit_code, 0) << result.output;

    const auto attachments = RequestsTo(service_->Requests(), "/api/attachment");
    ASSERT_EQ(attachments.size(), 1u);
    const auto body = nlohmann::json::parse(attachments[0].body);
    std::map<std::string, std::string> entries;
    for (const auto& entry :
         test_support::ReadZipEntries(DecodeBase64(body.at("files").at(0).at("attach-data")))) {
        entries[entry.name] = entry.content;
        const bool ascii = std::all_of(entry.name.begin(), entry.name.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        EXPECT_EQ(entry.strict_name == entry.name, ascii) << "flagged as UTF-8: " << entry.name;
    }
    EXPECT_EQ(entries, (std::map<std::string, std::string>{
                           {"2026.12.01_tallorin_pid=7.txt", "an old run\n"},
                           {"scanner.log", "scanner log\n"},
                           {"журнал-déjà.log", "журнал\n"},
                           {"ログ 😀.txt", "ログ\n"},
                       }));

    EXPECT_FALSE(fs::exists(cyrillic));
    EXPECT_FALSE(fs::exists(in_subfolder));
    EXPECT_FALSE(fs::exists(data_ / "crash_info" / (std::string(kCrashUuid) + ".zip")));
    EXPECT_FALSE(fs::exists(data_ / "crash_info" / (std::string(kCrashUuid) + ".dmp")));
    EXPECT_EQ(LogFiles().size(), 1u);  // the running log only
    const std::string log = RunningLog();
    EXPECT_NE(log.find("report bug result=true"), std::string::npos) << log;
    EXPECT_EQ(log.find("failed to report bug"), std::string::npos);
}

}  // namespace
