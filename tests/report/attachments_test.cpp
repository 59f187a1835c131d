#include "report/attachments.h"

#include <gtest/gtest.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>
#include <sys/resource.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>

#include <platform/testing.h>

#include <fstream>
#include <functional>
#include <memory>

#include "common/path_conversion.h"
#include "common/scoped_handle.h"
#include "report/send_bug_report.h"
#include "report/upload_testing.h"
#include "tests/report/upload_fixture.h"
#include "tests/support/log_records.h"
#include "tests/support/non_ascii_names.h"
#include "tests/support/zip_entries.h"

namespace {

namespace fs = std::filesystem;
using test_support::ReportService;
using upload_test::Upload;

std::string Lines(int count) {
    std::string text;
    for (int line = 0; line < count; ++line) {
        text += "trace line " + std::to_string(line) + "\n";
    }
    return text;
}

class Attachments : public Upload {
protected:
    // Sends the report to the double and answers the attachment requests it received.
    // Only the requests of this report count.
    std::vector<test_support::RecordedRequest> SendAndCollect(bool expect_delivered = true) {
        service_->SetReply("bug", {200, R"({"id": 21})"});
        const auto before = static_cast<std::ptrdiff_t>(service_->Requests().size());
        BugReportResult result;
        EXPECT_EQ(SendBugReport(Request(), result), expect_delivered);
        auto requests = service_->Requests();
        requests.erase(requests.begin(), requests.begin() + before);
        EXPECT_EQ(OfPath(requests, "/api/bug").size(), 1u);
        return OfPath(requests, "/api/attachment");
    }

    void SetUp() override {
        Upload::SetUp();
        if (!IsSkipped()) {
            service_.emplace(FixedPorts());
        }
    }

    std::optional<ReportService> service_;
};

TEST_F(Attachments, NothingToAttachSendsAndDeletesNothing) {
    for (const bool folder_exists : {false, true}) {
        SCOPED_TRACE(folder_exists ? "empty folder" : "no folder");
        if (folder_exists) {
            fs::create_directories(logs_ / "empty-subfolder");
        }
        const auto before = service_->Requests().size();
        BugReportResult result;
        EXPECT_TRUE(SendBugReport(Request(), result));
        EXPECT_EQ(service_->Requests().size(), before + 1);  // the report only
        EXPECT_TRUE(fs::exists(Dump()));
        EXPECT_EQ(fs::exists(logs_ / "empty-subfolder"), folder_exists);
        EXPECT_FALSE(fs::exists(Archive()));
    }
}

TEST_F(Attachments, FilesOfSubfoldersLandFlatAndEverythingIsDeleted) {
    WriteLog("app.log", "top\n");
    WriteLog("sub/service.log", "in a subfolder\n");
    WriteLog("sub/deeper/trace.txt", Lines(2000));
    WriteLog("x/same.txt", "first\n");
    WriteLog("y/same.txt", "second\n");  // the same bare name: two entries of that name
    const auto attachments = SendAndCollect();
    ASSERT_EQ(attachments.size(), 1u);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"app.log", "top\n"},       {"same.txt", "first\n"},
        {"same.txt", "second\n"},   {"service.log", "in a subfolder\n"},
        {"trace.txt", Lines(2000)},
    };
    EXPECT_EQ(ArchiveOf(attachments[0]), expected);
    EXPECT_FALSE(fs::exists(logs_));
    EXPECT_FALSE(fs::exists(Archive()));
    EXPECT_FALSE(fs::exists(Dump()));
    EXPECT_TRUE(fs::exists(crash_));
}

// Entries are named by the names' UTF-8 bytes without the UTF-8 flag. A name that is not
// UTF-8 has no wide form to open it by: it stays out of the archive and on disk, and the file
// that its U+FFFD form names goes in once.
TEST_F(Attachments, NamesOutsideAsciiGoInAsTheirUtf8BytesAndAreDeleted) {
    std::vector<std::pair<std::string, std::string>> expected;
    std::vector<std::pair<fs::path, bool>> files;  // and whether it is sent
    for (const auto& folder : {fs::path(), fs::path("подпапка")}) {
        for (const auto& name : test_support::kNonAsciiNames) {
            const fs::path relative = folder / std::string(name.bytes);
            const std::string content = "log of " + relative.string() + "\n";
            WriteLog(relative, content);
            files.emplace_back(logs_ / relative, name.utf8);
            if (name.utf8) {
                expected.emplace_back(name.bytes, content);
            }
        }
    }
    const auto attachments = SendAndCollect();
    ASSERT_EQ(attachments.size(), 1u);
    const auto body = nlohmann::json::parse(attachments[0].body);
    std::vector<std::pair<std::string, std::string>> entries;
    for (const auto& entry : test_support::ReadZipEntries(
             test_support::DecodeBase64(body.at("files").at(0).at("attach-data")))) {
        EXPECT_NE(entry.strict_name, entry.name) << "flagged as UTF-8: " << entry.name;
        entries.emplace_back(entry.name, entry.content);
    }
    std::sort(entries.begin(), entries.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(entries, expected);

    for (const auto& [file, sent] : files) {
        EXPECT_EQ(fs::exists(file), !sent) << file;
    }
    EXPECT_FALSE(fs::exists(Archive()));
    EXPECT_FALSE(fs::exists(Dump()));
}

// Logs that never reached the service stay for the next report; the archive, ours, goes, and
// the dump went with the report.
TEST_F(Attachments, AnArchiveThatCannotBeMadeKeepsTheLogs) {
    struct Case {
        const char* name;
        std::function<void()> block;
        std::function<void()> unblock;
    };
    std::optional<std::ifstream> other_run;  // a descriptor outside the layer: no delete sharing
    const Case cases[] = {
        {"another run holds the archive",
         [&] {
             test_support::WriteFile(Archive(), "another run's");
             other_run.emplace(Archive());
         },
         [&] {
             other_run.reset();
             EXPECT_EQ(test_support::ReadFile(Archive()), "another run's");
             fs::remove(Archive());
         }},
        {"a folder where the archive goes", [&] { fs::create_directories(Archive()); },
         [&] { fs::remove(Archive()); }},
        {"a hard link where the archive goes",
         [&] { fs::create_hard_link(root_ / "outside.txt", Archive()); },
         [&] { fs::remove(Archive()); }},
        {"the disk full", [] { platform::testing::SetWriteLimit(100); },
         [] { platform::testing::SetWriteLimit(std::nullopt); }},
    };
    test_support::WriteFile(root_ / "outside.txt", "outside");
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        WriteLog("app.log", "top\n");
        WriteLog("sub/other.log", "other\n");
        test_support::WriteFile(Dump(), dump_);
        each.block();
        const auto requests = SendAndCollect();
        each.unblock();
        EXPECT_TRUE(requests.empty());
        EXPECT_EQ(test_support::ReadFile(logs_ / "app.log"), "top\n");
        EXPECT_EQ(test_support::ReadFile(logs_ / "sub" / "other.log"), "other\n");
        EXPECT_FALSE(fs::exists(Archive()));
        EXPECT_FALSE(fs::exists(Dump()));
        EXPECT_EQ(test_support::ReadFile(root_ / "outside.txt"), "outside");
    }
}

test_support::ServiceReply StalledReply() {
    test_support::ServiceReply reply;
    reply.stall = true;
    return reply;
}

TEST_F(Attachments, AnAttachmentNotDeliveredKeepsTheLogsAndSaysWhy) {
    const struct {
        const char* name;
        test_support::ServiceReply reply;
        const char* record;
    } cases[] = {
        {"refused", {500, "no"}, "failed to send attachment. status=500"},
        {"not found", {404, "{}"}, "failed to send attachment. status=404"},
        {"no 2xx", {300, "{}"}, "failed to send attachment. status=300"},
        {"no reply in time", StalledReply(), "failed to upload. url="},
    };
    // A stalled reply ends at a short reply deadline here.
    auto bounds = upload::testing::ShippedBounds();
    bounds.reply = std::chrono::seconds(2);
    const upload::testing::ScopedBounds short_wait(bounds);
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        const test_support::LogFile log;
        service_->SetReply("attachment", each.reply);
        WriteLog("app.log", "top\n");
        test_support::WriteFile(Dump(), dump_);
        EXPECT_EQ(SendAndCollect().size(), 1u);
        ASSERT_TRUE(fs::exists(logs_ / "app.log"));
        EXPECT_EQ(test_support::ReadFile(logs_ / "app.log"), "top\n");
        EXPECT_FALSE(fs::exists(Archive()));
        EXPECT_FALSE(fs::exists(Dump()));
        std::vector<std::string> errors;
        for (const auto& record : log.Records()) {
            if (record.level == "error") {
                errors.push_back(record.message);
            }
        }
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_TRUE(errors[0].starts_with(each.record)) << errors[0];
    }
}

// A file the archive could not take stays, even one that could be deleted: another handle
// writes it, sharing deletion, so the writer (which shares reading only) leaves it out.
TEST_F(Attachments, AFileLeftOutOfTheArchiveStays) {
    WriteLog("app.log", "top\n");
    WriteLog("busy.log", "being written\n");
    const ScopedHandle writer(CreateFileW(PathToWide(logs_ / "busy.log").c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    const auto attachments = SendAndCollect();
    ASSERT_EQ(attachments.size(), 1u);
    const std::vector<std::pair<std::string, std::string>> expected = {{"app.log", "top\n"}};
    EXPECT_EQ(ArchiveOf(attachments[0]), expected);
    EXPECT_FALSE(fs::exists(logs_ / "app.log"));
    EXPECT_EQ(test_support::ReadFile(logs_ / "busy.log"), "being written\n");
}

// Called with a crash id that is no bare name, nothing is attached and nothing is deleted,
// also where the names made of it would still lie inside the folder ("..": "...zip").
TEST_F(Attachments, ACrashIdThatIsNoBareNameAttachesAndDeletesNothing) {
    WriteLog("app.log", "top\n");
    for (const char* id : {"..", "../crash", "a\nb"}) {
        SCOPED_TRACE(id);
        auto request = Request();
        request.crash_uuid = id;
        SendAttachments(request, 21, request.verify_peer, request.user_agent);
        EXPECT_TRUE(OfPath(service_->Requests(), "/api/attachment").empty());
        EXPECT_EQ(test_support::ReadFile(logs_ / "app.log"), "top\n");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(crash_), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::exists(Dump()));
}

// Only a plain file with one name is read, sent or deleted: a hard link to a file elsewhere
// is left out and left in place, and what it leads to stays whole.
TEST_F(Attachments, AHardLinkIsNeitherSentNorDeleted) {
    test_support::WriteFile(root_ / "outside.txt", "outside");
    WriteLog("app.log", "top\n");
    fs::create_directories(logs_ / "sub");
    fs::create_hard_link(root_ / "outside.txt", logs_ / "sub" / "linked.log");
    const auto attachments = SendAndCollect();
    ASSERT_EQ(attachments.size(), 1u);
    const std::vector<std::pair<std::string, std::string>> expected = {{"app.log", "top\n"}};
    EXPECT_EQ(ArchiveOf(attachments[0]), expected);
    EXPECT_FALSE(fs::exists(logs_ / "app.log"));
    EXPECT_TRUE(fs::exists(logs_ / "sub" / "linked.log"));
    EXPECT_EQ(test_support::ReadFile(root_ / "outside.txt"), "outside");
}

// The running program's own log file: its logger writes it without delete sharing.
TEST_F(Attachments, ALogFileHeldOpenForWritingStaysOutAndStays) {
    WriteLog("old.log", "yesterday\n");
    WriteLog("sub/other.log", "other\n");
    const fs::path running = logs_ / "running.txt";
    auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(running.string(),
                                                                       20 * 1024 * 1024, 0);
    spdlog::logger logger("running", sink);
    logger.flush_on(spdlog::level::info);
    logger.info("before the report");

    const auto attachments = SendAndCollect();
    ASSERT_EQ(attachments.size(), 1u);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"old.log", "yesterday\n"},
        {"other.log", "other\n"},
    };
    EXPECT_EQ(ArchiveOf(attachments[0]), expected);
    EXPECT_FALSE(fs::exists(logs_ / "old.log"));
    EXPECT_FALSE(fs::exists(logs_ / "sub" / "other.log"));
    EXPECT_FALSE(fs::exists(Archive()));
    EXPECT_FALSE(fs::exists(Dump()));
    ASSERT_TRUE(fs::exists(running));

    logger.info("after the report");
    const auto text = test_support::ReadFile(running);
    EXPECT_NE(text.find("before the report"), std::string::npos);
    EXPECT_NE(text.find("after the report"), std::string::npos);
}

// Lowers the limit of open files for its life, to `spare` above what is open now.
class FewFileDescriptors {
public:
    explicit FewFileDescriptors(rlim_t spare) {
        getrlimit(RLIMIT_NOFILE, &saved_);
        rlim_t open = 0;
        for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
            static_cast<void>(entry);
            ++open;
        }
        rlimit lower = saved_;
        lower.rlim_cur = open + spare;
        setrlimit(RLIMIT_NOFILE, &lower);
    }
    FewFileDescriptors(const FewFileDescriptors&) = delete;
    FewFileDescriptors& operator=(const FewFileDescriptors&) = delete;
    ~FewFileDescriptors() { setrlimit(RLIMIT_NOFILE, &saved_); }

private:
    rlimit saved_{};
};

// The walk keeps one open folder per level, so a deep log folder makes it fail part-way.
TEST_F(Attachments, AnErrorWhileWalkingTheLogFolderDeletesNothing) {
#if defined(__SANITIZE_ADDRESS__)
    // The walk fails when no descriptor is left, and the sanitizers' vptr check of the error
    // thrown then needs a pipe of its own: without one it reports every object as invalid.
    GTEST_SKIP() << "the sanitizers need free descriptors, which this test uses up";
#endif
    WriteLog("app.log", "top\n");
    fs::path deep = "nested";
    for (int level = 0; level < 150; ++level) {
        deep /= "d";
    }
    WriteLog(deep / "bottom.log", "deep\n");
    {
        const FewFileDescriptors few(60);
        EXPECT_TRUE(SendAndCollect(false).empty());
    }
    EXPECT_TRUE(fs::exists(logs_ / "app.log"));
    EXPECT_TRUE(fs::exists(logs_ / deep / "bottom.log"));
    EXPECT_TRUE(fs::exists(Dump()));
    EXPECT_FALSE(fs::exists(Archive()));
}

// The attacker's step at the worst moment of each step of the report road, played by the
// platform layer just before the call that uses what was checked. `nth` counts the calls of
// that kind on that path: the zip writer opens a log first, the clean-up second.
class RacedAttachments : public Attachments {
protected:
    void Before(const char* call, const fs::path& path, int nth, std::function<void()> step) {
        auto calls = std::make_shared<int>(0);
        platform::testing::BeforeCall(
            call, path.string(),
            [calls, nth, step] {
                if (++*calls == nth) {
                    step();
                }
            },
            -1);
    }

    void TearDown() override {
        platform::testing::ClearBeforeCalls();
        Attachments::TearDown();
    }

    fs::path outside_ = root_ / "outside.txt";
};

TEST_F(RacedAttachments, TheLogFolderSwappedBeforeTheCleanUpStays) {
    WriteLog("app.log", "top\n");
    Before("NtCreateFile", logs_ / "app.log", 2, [&] {
        fs::rename(logs_, root_ / "logs-away");
        fs::create_directories(logs_);  // an empty real folder of another number
    });
    ASSERT_EQ(SendAndCollect().size(), 1u);
    EXPECT_TRUE(fs::is_directory(logs_));
    EXPECT_TRUE(fs::is_empty(root_ / "logs-away"));  // the sent log went from where it was
}

TEST_F(RacedAttachments, ALogThatChangesAfterItWasZippedStays) {
    const struct {
        const char* name;
        std::function<void()> step;
    } cases[] = {
        {"it grew", [&] { test_support::WriteFile(logs_ / "app.log", "top\nand more\n"); }},
        {"a hard link in its place",
         [&] {
             fs::rename(logs_ / "app.log", root_ / "app-away.log");
             fs::create_hard_link(outside_, logs_ / "app.log");
         }},
        {"another file in its place",
         [&] {
             fs::rename(logs_ / "app.log", root_ / "app-away.log");
             test_support::WriteFile(logs_ / "app.log", "top\n");  // same size, other number
         }},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        test_support::WriteFile(outside_, "outside");
        WriteLog("app.log", "top\n");
        WriteLog("other.log", "other\n");
        Before("NtCreateFile", logs_ / "app.log", 2, each.step);
        ASSERT_EQ(SendAndCollect().size(), 1u);
        platform::testing::ClearBeforeCalls();
        EXPECT_TRUE(fs::exists(logs_ / "app.log"));
        EXPECT_FALSE(fs::exists(logs_ / "other.log"));
        EXPECT_EQ(test_support::ReadFile(outside_), "outside");
        fs::remove_all(logs_);
    }
}

// A subfolder that may not be opened counts as empty: the walk goes on past it, the other
// logs are sent and deleted, and what it holds stays.
TEST_F(RacedAttachments, ASubfolderThatMayNotBeOpenedIsPassedOver) {
    WriteLog("app.log", "top\n");
    WriteLog("locked/kept.log", "locked\n");
    WriteLog("open/other.log", "other\n");
    Before("NtCreateFile", logs_ / "locked", 1,
           [] { platform::testing::FailCall("NtCreateFile", ERROR_ACCESS_DENIED, 1); });
    const auto attachments = SendAndCollect();
    ASSERT_EQ(attachments.size(), 1u);
    const std::vector<std::pair<std::string, std::string>> expected = {{"app.log", "top\n"},
                                                                       {"other.log", "other\n"}};
    EXPECT_EQ(ArchiveOf(attachments[0]), expected);
    EXPECT_EQ(test_support::ReadFile(logs_ / "locked" / "kept.log"), "locked\n");
    EXPECT_FALSE(fs::exists(logs_ / "app.log"));
    EXPECT_FALSE(fs::exists(logs_ / "open"));
}

// A subfolder swapped for a link to another folder between the listing and its open is passed
// over: the walk goes on, and nothing where the link leads is read or deleted.
TEST_F(RacedAttachments, ASubfolderSwappedForALinkIsPassedOver) {
    WriteLog("app.log", "top\n");
    WriteLog("sub/own.log", "own\n");
    fs::create_directories(root_ / "elsewhere");
    test_support::WriteFile(root_ / "elsewhere" / "secret.log", "outside");
    Before("NtCreateFile", logs_ / "sub", 1, [&] {
        fs::rename(logs_ / "sub", root_ / "sub-away");
        fs::create_directory_symlink(root_ / "elsewhere", logs_ / "sub");
    });
    const auto attachments = SendAndCollect();
    ASSERT_EQ(attachments.size(), 1u);
    const std::vector<std::pair<std::string, std::string>> expected = {{"app.log", "top\n"}};
    EXPECT_EQ(ArchiveOf(attachments[0]), expected);
    EXPECT_EQ(test_support::ReadFile(root_ / "elsewhere" / "secret.log"), "outside");
    EXPECT_EQ(test_support::ReadFile(root_ / "sub-away" / "own.log"), "own\n");
    EXPECT_FALSE(fs::exists(logs_ / "app.log"));
}

// A log that opened but whose entry failed (the disk full while it was written) is not in the
// archive and stays; the others are sent and deleted.
TEST_F(RacedAttachments, ALogWhoseEntryFailedStays) {
    const std::string big = Lines(100000);  // read in its turn, past what is packed ahead
    WriteLog("big.log", big);
    WriteLog("small.log", "small\n");
    // Its first data read follows the look at its first bytes; the cut of the failed entry
    // frees the disk again.
    Before("ReadFile", logs_ / "big.log", 2, [] { platform::testing::SetWriteLimit(1000); });
    Before("SetEndOfFile", Archive(), 1, [] { platform::testing::SetWriteLimit(std::nullopt); });
    const auto attachments = SendAndCollect();
    platform::testing::SetWriteLimit(std::nullopt);
    ASSERT_EQ(attachments.size(), 1u);
    const std::vector<std::pair<std::string, std::string>> expected = {{"small.log", "small\n"}};
    EXPECT_EQ(ArchiveOf(attachments[0]), expected);
    EXPECT_TRUE(test_support::ReadFile(logs_ / "big.log") == big);
    EXPECT_FALSE(fs::exists(logs_ / "small.log"));
}

// A sent log that another program opens before the clean-up (a scanner, an editor) cannot be
// deleted: it stays, and the clean-up goes on with the others, whichever comes first.
TEST_F(RacedAttachments, ASentLogThatCannotBeDeletedStaysAndTheOthersGo) {
    const std::vector<fs::path> logs = {"a.log", "b.log", "sub/c.log", "sub/d.log", "z/e.log"};
    std::vector<std::pair<std::string, std::string>> expected;
    for (const auto& log : logs) {
        WriteLog(log, log.string() + "\n");
        expected.emplace_back(log.filename().string(), log.string() + "\n");
    }
    std::optional<std::ifstream> reader;
    fs::path held;
    for (const auto& log : logs) {
        platform::testing::BeforeCall("SetFileInformationByHandle", (logs_ / log).string(),
                                      [&, log] {
                                          if (!reader) {
                                              held = log;
                                              reader.emplace(logs_ / log);
                                          }
                                      });
    }
    const auto attachments = SendAndCollect();
    ASSERT_EQ(attachments.size(), 1u);
    EXPECT_EQ(ArchiveOf(attachments[0]), expected);
    ASSERT_TRUE(reader) << "no deletion was tried";
    for (const auto& log : logs) {
        EXPECT_EQ(fs::exists(logs_ / log), log == held) << log;
    }
    EXPECT_EQ(test_support::ReadFile(logs_ / held), held.string() + "\n");
}

// While the archive is read for the upload, nothing else may open it for writing.
TEST_F(RacedAttachments, NothingWritesTheArchiveWhileItIsUploaded) {
    WriteLog("app.log", "top\n");
    std::optional<bool> opened;
    Before("ReadFile", Archive(), 1, [&] {
        const ScopedHandle writer(
            CreateFileW(PathToWide(Archive()).c_str(), GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, 0, nullptr));
        opened = static_cast<bool>(writer);
        DWORD written = 0;
        WriteFile(writer.get(), "planted", 7, &written, nullptr);
    });
    const auto attachments = SendAndCollect();
    ASSERT_EQ(attachments.size(), 1u);
    ASSERT_TRUE(opened.has_value());
    EXPECT_FALSE(*opened);
    const std::vector<std::pair<std::string, std::string>> expected = {{"app.log", "top\n"}};
    EXPECT_EQ(ArchiveOf(attachments[0]), expected);
}

TEST_F(RacedAttachments, TheArchiveIsMadeAndReadBackThroughItsOwnHandle) {
    test_support::WriteFile(outside_, "outside");
    WriteLog("app.log", "top\n");
    fs::create_directories(crash_);
    // The crash-files folder becomes a link just before the archive is made; the archive is
    // then replaced by a hard link just before the upload reads it.
    Before("NtCreateFile", Archive(), 1, [&] {
        fs::rename(crash_, root_ / "crash-away");
        fs::create_directory_symlink(root_ / "elsewhere", crash_);
        fs::create_directories(root_ / "elsewhere");
    });
    Before("ReadFile", root_ / "crash-away" / Archive().filename(), 1, [&] {
        const fs::path archive = root_ / "crash-away" / Archive().filename();
        fs::rename(archive, root_ / "archive-away.zip");
        fs::create_hard_link(outside_, archive);
    });
    const auto attachments = SendAndCollect();
    ASSERT_EQ(attachments.size(), 1u);
    const std::vector<std::pair<std::string, std::string>> expected = {{"app.log", "top\n"}};
    EXPECT_EQ(ArchiveOf(attachments[0]), expected);
    EXPECT_TRUE(fs::is_empty(root_ / "elsewhere"));
    EXPECT_EQ(test_support::ReadFile(outside_), "outside");
    EXPECT_FALSE(fs::exists(logs_ / "app.log"));
}

}  // namespace
