// Hostile layouts of the folders that the report road reads, sends, writes and deletes, run
// through tallorin (the stand-in engine playing the user) against the report-service double.
// Each case has a sentinel folder outside the product's folders: its files must come out of
// the run as they went in (same bytes, same file, nothing added beside them) and none of their
// bytes may reach the double, not even inside the Base64 of the dump or inside the archive.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
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
using test_support::ReadFile;
using test_support::RecordedRequest;
using test_support::ReportService;
using test_support::WriteFile;

constexpr char kCrashUuid[] = "0f8fad5b-d9cb-469f-a165-70867728950e";
// Every byte the program must not send begins with it, so one search finds them all.
constexpr char kMarker[] = "sentinel-marker:";

// The folders of one case: the product's under `root`/ProgramData, the sentinel beside them.
struct Layout {
    test_support::TempDir root;
    fs::path data = root / "ProgramData" / "Quorbelin" / "Velmora Antivirus";
    fs::path logs = data / "logs";
    fs::path crash_info = data / "crash_info";
    fs::path sentinel = root / "sentinel";

    fs::path Dump() const { return crash_info / (std::string(kCrashUuid) + ".dmp"); }
    fs::path Archive() const { return crash_info / (std::string(kCrashUuid) + ".zip"); }

    // `separator`-joined ".." steps from `folder` up to `root`, then the sentinel's `name`.
    std::string ClimbToSentinel(const fs::path& folder, const std::string& name,
                                char separator) const {
        const fs::path steps = fs::relative(folder, root.path());
        std::string path;
        for (auto step = steps.begin(); step != steps.end(); ++step) {
            path += std::string("..") + separator;
        }
        return path + "sentinel" + separator + name;
    }
};

// A legal name on this platform that the backslash-to-slash translation of the platform's file
// calls turns into a path from the log folder, four steps below the test's root, to the
// sentinel's "secret".
constexpr char kBackslashName[] = "..\\..\\..\\..\\sentinel\\secret";

// The logs that the product leaves and the report attaches, and their archive entry names.
const std::map<std::string, std::string> kRegularLogs = {
    {"2026.12.01_tallorin_pid=7.txt", "an old run\n"},
    {"service/scanner.log", "scanner log\n"},
};
// The files of the sentinel folder, each with its own marker; binary bytes after it.
const std::vector<std::string> kSentinelFiles = {"victim.dmp", "victim.zip", "secret", "inner.log",
                                                 "deep/nested.log"};

enum class Delivery {
    kNotStarted,     // the log set-up refuses the layout: the program ends before its window
    kNothing,        // no request reaches the double
    kReportOnly,     // the report, and no attachment
    kReportAndLogs,  // the report, then the archive of the logs
};

struct PlannedSwap {
    const char* call;     // the platform call, by its Windows name
    fs::path path;        // relative to the product's data folder
    std::string command;  // a shell command run in the test's root folder
};

struct HostileCase {
    const char* name;
    // The --crash-uuid of the run; kCrashUuid when null.
    std::function<std::string(const Layout&)> crash_uuid;
    // Plants the hostile entries beside the regular layout.
    std::function<void(const Layout&)> plant;
    // Runs while the double holds the attachment reply; no hold when null.
    std::function<void(const Layout&)> during_upload;
    Delivery delivery;
    // Entries (relative to the product's data folder) that the run must leave as they were.
    std::vector<fs::path> kept = {};
    // Archive entries expected beside the regular logs.
    std::vector<std::string> extra_entries = {};
    bool empty_dump = false;  // the report's "attach-data" is empty instead of the dump
    // Swaps played by the platform layer just before a call on a path: the attacker's step at
    // the worst moment, after every check that came before it.
    std::vector<PlannedSwap> swaps = {};
    // The attachment does not reach the service: the regular logs stay where they are.
    bool logs_stay = false;
};

void Link(const fs::path& target, const fs::path& link) {
    fs::create_directories(link.parent_path());
    fs::create_symlink(target, link);
}

// A uuid case: the crash identifier, the rest of the layout as usual.
std::function<std::string(const Layout&)> Uuid(std::string id) {
    return [id](const Layout&) { return id; };
}

const std::vector<HostileCase>& Cases() {
    static const std::vector<HostileCase> cases = {
        {"crash uuid: an absolute path to the sentinel",
         [](const Layout& l) { return (l.sentinel / "victim").string(); }, nullptr, nullptr,
         Delivery::kNothing},
        {"crash uuid: a relative path climbing to the sentinel",
         [](const Layout& l) { return l.ClimbToSentinel(l.crash_info, "victim", '/'); }, nullptr,
         nullptr, Delivery::kNothing},
        // The platform's file calls turn backslashes into separators.
        {"crash uuid: a backslash path climbing to the sentinel",
         [](const Layout& l) { return l.ClimbToSentinel(l.crash_info, "victim", '\\'); }, nullptr,
         nullptr, Delivery::kNothing},
        {"crash uuid: .", Uuid("."), nullptr, nullptr, Delivery::kNothing},
        {"crash uuid: ..", Uuid(".."), nullptr, nullptr, Delivery::kNothing},
        {"crash uuid: a drive-relative name with a colon", Uuid("C:victim"), nullptr, nullptr,
         Delivery::kNothing},
        {"crash uuid: a control character", Uuid(std::string(kCrashUuid) + "\nforged"), nullptr,
         nullptr, Delivery::kNothing},
        // The program would write its own log through the link, so it does not start.
        {"the log folder is a link to the sentinel",
         nullptr,
         [](const Layout& l) {
             fs::remove_all(l.logs);
             Link(l.sentinel, l.logs);
         },
         nullptr,
         Delivery::kNotStarted,
         {"logs"}},
        {"a file link in the log folder to a sentinel file",
         nullptr,
         [](const Layout& l) { Link(l.sentinel / "secret", l.logs / "service" / "linked.log"); },
         nullptr,
         Delivery::kReportAndLogs,
         {"logs/service/linked.log"}},
        // The archive is made anew at its path, so it is posted and removed as ever.
        {"a link at the archive's path to a sentinel file", nullptr,
         [](const Layout& l) { Link(l.sentinel / "victim.zip", l.Archive()); }, nullptr,
         Delivery::kReportAndLogs},
        // Whether the clean-up removes the link itself is left open: never its target.
        {"a link at the dump's path to a sentinel file",
         nullptr,
         [](const Layout& l) {
             fs::remove(l.Dump());
             Link(l.sentinel / "victim.dmp", l.Dump());
         },
         nullptr,
         Delivery::kReportAndLogs,
         {},
         {},
         true},
        // The clean-up must not go by the paths it collected before the upload: "swapped/
        // inner.log" then names the sentinel's inner.log.
        {"a log subfolder swapped for a link to the sentinel during the upload",
         nullptr,
         [](const Layout& l) { WriteFile(l.logs / "swapped" / "inner.log", "inner log\n"); },
         [](const Layout& l) {
             fs::rename(l.logs / "swapped", l.root / "swapped-away");
             Link(l.sentinel, l.logs / "swapped");
         },
         Delivery::kReportAndLogs,
         {},
         {"inner.log"}},
        {"a log named with backslashes that lead to a sentinel file",
         nullptr,
         [](const Layout& l) {
             ASSERT_EQ(l.ClimbToSentinel(l.logs, "secret", '\\'), kBackslashName);
             WriteFile(l.logs / kBackslashName,
                       std::string(kMarker) + "the backslash-named log itself\n");
         },
         nullptr,
         Delivery::kReportAndLogs,
         {fs::path("logs") / kBackslashName}},
        // A link above the product's folders leads every name below it elsewhere: nothing is
        // followed, so the program cannot make its log and does not start.
        {"the maker's folder is a link to the sentinel", nullptr,
         [](const Layout& l) {
             fs::create_directories(l.sentinel / "Velmora Antivirus" / "logs");
             fs::copy(l.crash_info, l.sentinel / "Velmora Antivirus" / "crash_info");
             fs::rename(l.data.parent_path(), l.root / "maker-away");
             Link(l.sentinel, l.data.parent_path());
         },
         nullptr, Delivery::kNotStarted},
        {"the product's data folder is a link to the sentinel", nullptr,
         [](const Layout& l) {
             fs::create_directories(l.sentinel / "logs");
             fs::copy(l.crash_info, l.sentinel / "crash_info");
             fs::rename(l.data, l.root / "data-away");
             Link(l.sentinel, l.data);
         },
         nullptr, Delivery::kNotStarted},
        // Hard links: never read, sent, overwritten or deleted.
        {"a hard link in the log folder to a sentinel file",
         nullptr,
         [](const Layout& l) {
             fs::create_hard_link(l.sentinel / "inner.log", l.logs / "service" / "hard.log");
         },
         nullptr,
         Delivery::kReportAndLogs,
         {"logs/service/hard.log"}},
        {"a hard link at the dump's path to a sentinel file",
         nullptr,
         [](const Layout& l) {
             fs::remove(l.Dump());
             fs::create_hard_link(l.sentinel / "victim.dmp", l.Dump());
         },
         nullptr,
         Delivery::kReportAndLogs,
         {fs::path("crash_info") / (std::string(kCrashUuid) + ".dmp")},
         {},
         true},
        // The archive cannot be made: nothing is attached, so the logs stay.
        {"a hard link at the archive's path to a sentinel file",
         nullptr,
         [](const Layout& l) { fs::create_hard_link(l.sentinel / "victim.zip", l.Archive()); },
         nullptr,
         Delivery::kReportOnly,
         {fs::path("crash_info") / (std::string(kCrashUuid) + ".zip")},
         {},
         false,
         {},
         true},
        {"the crash-files folder is a link to the sentinel",
         nullptr,
         [](const Layout& l) {
             WriteFile(l.sentinel / (std::string(kCrashUuid) + ".dmp"),
                       std::string(kMarker) + "another program's dump\n");
             fs::remove_all(l.crash_info);
             Link(l.sentinel, l.crash_info);
         },
         nullptr,
         Delivery::kReportOnly,
         {"crash_info"},
         {},
         true,
         {},
         true},
        // The user's settings folder: the language file is read through no link.
        {"the settings folder of the language file is a link to the sentinel", nullptr,
         [](const Layout& l) {
             WriteFile(l.sentinel / "language", std::string("{\"language\": \"") + kMarker + "\"}");
             Link(l.sentinel,
                  l.root / "AppData" / "Roaming" / "Quorbelin" / "Velmora Antivirus" / "settings");
         },
         nullptr, Delivery::kReportAndLogs},
        {"a hard link at the language file to a sentinel file", nullptr,
         [](const Layout& l) {
             WriteFile(l.sentinel / "language", std::string("{\"language\": \"") + kMarker + "\"}");
             const fs::path settings =
                 l.root / "AppData" / "Roaming" / "Quorbelin" / "Velmora Antivirus" / "settings";
             fs::create_directories(settings);
             fs::create_hard_link(l.sentinel / "language", settings / "language");
         },
         nullptr, Delivery::kReportAndLogs},
        {"a fifo at the language file", nullptr,
         [](const Layout& l) {
             const fs::path settings =
                 l.root / "AppData" / "Roaming" / "Quorbelin" / "Velmora Antivirus" / "settings";
             fs::create_directories(settings);
             ASSERT_EQ(::mkfifo((settings / "language").c_str(), 0600), 0);
         },
         nullptr, Delivery::kReportAndLogs},
        // Swaps at the worst moment: just before the call that would use what was checked.
        {"the log folder swapped for a link just before the sink opens it",
         nullptr,
         nullptr,
         nullptr,
         Delivery::kNotStarted,
         {},
         {},
         false,
         {{"NtCreateFile", "logs",
           R"(mv "DATA/logs" "DATA/logs-away" && ln -s ../../../sentinel "DATA/logs")"}}},
        {"the crash-files folder swapped for a link just before the dump is read",
         nullptr,
         nullptr,
         nullptr,
         Delivery::kReportOnly,
         {},
         {},
         true,
         {{"NtCreateFile", "crash_info",
           R"(mv "DATA/crash_info" "DATA/crash_info-away" && )"
           R"(ln -s ../../../sentinel "DATA/crash_info")"}},
         true},
        {"a hard link put at the archive's name just before it is made",
         nullptr,
         nullptr,
         nullptr,
         Delivery::kReportOnly,
         {},
         {},
         false,
         {{"NtCreateFile", fs::path("crash_info") / (std::string(kCrashUuid) + ".zip"),
           R"(ln sentinel/victim.zip "DATA/crash_info/)" + std::string(kCrashUuid) + R"(.zip")"}},
         true},
        {"a log swapped for a hard link just before it is read",
         nullptr,
         [](const Layout& l) { WriteFile(l.logs / "service" / "extra.log", "extra\n"); },
         nullptr,
         Delivery::kReportAndLogs,
         {},
         {},
         false,
         {{"NtCreateFile", "logs/service/extra.log",
           R"(mv "DATA/logs/service/extra.log" extra-away && )"
           R"(ln sentinel/inner.log "DATA/logs/service/extra.log")"}}},
        {"link loops and a dangling link in the log folder",
         nullptr,
         [](const Layout& l) {
             Link("..", l.logs / "service" / "up");
             Link("pong", l.logs / "ping");
             Link("ping", l.logs / "pong");
             Link(l.root / "nowhere" / "gone.log", l.logs / "dangling.log");
         },
         nullptr,
         Delivery::kReportAndLogs,
         {"logs/service/up", "logs/ping", "logs/pong", "logs/dangling.log"}},
    };
    return cases;
}

// What lstat sees of an entry, and its bytes: a file's content, a link's target.
struct EntryFacts {
    fs::file_type type = fs::file_type::not_found;
    ino_t inode = 0;
    std::string bytes;
};

EntryFacts FactsOf(const fs::path& path) {
    EntryFacts facts;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return facts;
    }
    facts.inode = status.st_ino;
    facts.type = fs::symlink_status(path).type();
    if (facts.type == fs::file_type::regular) {
        facts.bytes = ReadFile(path);
    } else if (facts.type == fs::file_type::symlink) {
        facts.bytes = fs::read_symlink(path).string();
    }
    return facts;
}

// Every entry under `folder`, by relative path, without following a link.
std::map<std::string, EntryFacts> Snapshot(const fs::path& folder) {
    std::map<std::string, EntryFacts> entries;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        entries[fs::relative(it->path(), folder).string()] = FactsOf(it->path());
    }
    return entries;
}

const char* KindName(fs::file_type type) {
    switch (type) {
        case fs::file_type::not_found:
            return "nothing";
        case fs::file_type::regular:
            return "a file";
        case fs::file_type::directory:
            return "a folder";
        case fs::file_type::symlink:
            return "a link";
        default:
            return "another kind";
    }
}

void ExpectUnchanged(const std::string& what, const EntryFacts& before, const EntryFacts& after) {
    if (after.type == fs::file_type::not_found) {
        ADD_FAILURE() << what << " is gone";
        return;
    }
    EXPECT_TRUE(after.type == before.type)
        << what << " was " << KindName(before.type) << ", is " << KindName(after.type);
    EXPECT_EQ(after.inode, before.inode) << what << " was replaced";
    EXPECT_TRUE(after.bytes == before.bytes) << what << " changed: now \"" << after.bytes << '"';
}

// The name of the running program's log: its start time and process id.
bool IsRunningLogName(const std::string& name) {
    static const std::regex pattern(R"(\d{4}\.\d\d\.\d\d_\d\d\.\d\d\.\d\d_tallorin_pid=\d+\.txt)");
    return std::regex_match(name, pattern);
}

void ExpectNoMarker(const std::string& where, const std::string& bytes) {
    EXPECT_EQ(bytes.find(kMarker), std::string::npos) << "sentinel bytes sent in " << where;
}

// What the double received, searched wherever file bytes can travel: the raw bodies, the
// decoded "attach-data" of the report, the names and contents of every attached archive.
// Answers the archives' entry names.
std::vector<std::string> CheckRequests(const std::vector<RecordedRequest>& requests) {
    std::vector<std::string> names;
    for (const auto& request : requests) {
        SCOPED_TRACE(request.path);
        ExpectNoMarker("a body", request.body);
        const auto body = nlohmann::json::parse(request.body, nullptr, false);
        if (!body.is_object()) {
            ADD_FAILURE() << "not a JSON object: " << request.body.substr(0, 200);
            continue;
        }
        if (body.contains("attach-data")) {
            ExpectNoMarker("the dump", DecodeBase64(body.at("attach-data").get<std::string>()));
        }
        for (const auto& file : body.value("files", nlohmann::json::array())) {
            const std::string archive = DecodeBase64(file.at("attach-data").get<std::string>());
            ExpectNoMarker("an archive", archive);
            for (const auto& entry : test_support::ReadZipEntries(archive)) {
                ExpectNoMarker("the entry " + entry.name, entry.content);
                ExpectNoMarker("an entry name", entry.name);
                const bool climbs = entry.name.starts_with("/") || entry.name.starts_with("../") ||
                                    entry.name.find("/../") != std::string::npos ||
                                    entry.name.find('\\') != std::string::npos;
                EXPECT_FALSE(climbs) << "entry name outside the archive: " << entry.name;
                names.push_back(entry.name);
            }
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The log record that the refusal of `crash_uuid` must leave: the identifier up to any
// control character, which the record may show escaped.
std::string RefusalRecord(const std::string& crash_uuid) {
    const auto control = std::find_if(crash_uuid.begin(), crash_uuid.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == '\x7f';
    });
    return "invalid crash uuid. crash_uuid=" + std::string(crash_uuid.begin(), control);
}

class HostileLayout : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto reason =
                test_support::WhyNotOnLoopback(kProductionBaseUrl, kStagingBaseUrl)) {
            GTEST_SKIP() << *reason;
        }
    }

    // The regular layout of a delivered crash, and the sentinel.
    static void MakeLayout(const Layout& l, const std::string& dump) {
        fs::create_directories(l.root / "AppData" / "Roaming");
        WriteFile(l.Dump(), dump);
        for (const auto& [name, content] : kRegularLogs) {
            WriteFile(l.logs / name, content);
        }
        WriteFile(l.data / "settings" / "verify-peer", "");  // the double is self-signed
        for (const auto& name : kSentinelFiles) {
            WriteFile(l.sentinel / name,
                      std::string(kMarker) + name + std::string("\0\xff\x01 end\n", 8));
        }
    }

    static test_support::ChildResult Run(const Layout& l, const std::string& crash_uuid,
                                         const std::vector<PlannedSwap>& swaps = {}) {
        WriteFile(l.root / "scenario.json", R"([
            {"do": "call", "object": "Application", "method": "SendReport",
             "arguments": ["typed@example.com", "It stopped."]},
            {"do": "close"}
        ])");
        test_support::ChildOptions options;
        options.arguments = {"--crash-uuid", crash_uuid,          "--email",   "user@example.com",
                             "--product",    "Velmora Antivirus", "--version", "14.3.43577.3505"};
        options.environment["PLATFORM_ROOT"] = l.root.path().string();
        options.environment["VELMORA_LOG_LEVEL"] = "debug";
        options.environment[engine_stand_in::kScenarioVariable] =
            (l.root / "scenario.json").string();
        options.environment[engine_stand_in::kTranscriptVariable] =
            (l.root / "transcript.jsonl").string();
        for (const char* proxy :
             {"https_proxy", "HTTPS_PROXY", "http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
            options.environment[proxy] = std::nullopt;
        }
        if (!swaps.empty()) {
            nlohmann::json plan = nlohmann::json::array();
            const std::string data = fs::relative(l.data, l.root.path()).string();
            for (const auto& swap : swaps) {
                std::string command = swap.command;
                for (auto at = command.find("DATA"); at != std::string::npos;
                     at = command.find("DATA", at + data.size())) {
                    command.replace(at, 4, data);
                }
                plan.push_back({{"call", swap.call},
                                {"path", (l.data / swap.path).string()},
                                {"run", "cd '" + l.root.path().string() + "' && " + command},
                                {"times", 1}});
            }
            WriteFile(l.root / "swaps.json", plan.dump());
            options.environment["PLATFORM_BEFORE_CALL"] = (l.root / "swaps.json").string();
        }
        return test_support::RunChild(test_support::BinaryFolder() / "tallorin", options);
    }

    // The run's own log, wherever the log folder led it: the sentinel when that folder is a link.
    static std::string RunningLog(const Layout& l) {
        for (const auto& folder : {l.logs, l.sentinel}) {
            std::error_code error;
            for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
                 it.increment(error)) {
                std::error_code kind_error;  // a link loop has no kind
                if (it->is_regular_file(kind_error) &&
                    IsRunningLogName(it->path().filename().string())) {
                    return ReadFile(it->path());
                }
            }
        }
        ADD_FAILURE() << "no log of the run";
        return {};
    }

    void RunCase(const HostileCase& c) {
        const Layout l;
        const std::string dump = std::string(100, '\x7f') + "dump";
        MakeLayout(l, dump);
        if (c.plant) {
            c.plant(l);
        }
        const std::string crash_uuid = c.crash_uuid ? c.crash_uuid(l) : kCrashUuid;
        const auto sentinel_before = Snapshot(l.sentinel);
        std::map<fs::path, EntryFacts> kept_before;
        for (const auto& entry : c.kept) {
            kept_before[entry] = FactsOf(l.data / entry);
            ASSERT_TRUE(kept_before[entry].type != fs::file_type::not_found) << entry;
        }

        ReportService service(test_support::OnPortsOf(kProductionBaseUrl, kStagingBaseUrl));
        service.SetReply("bug", {200, R"({"id": 4711})"});
        test_support::ChildResult result;
        if (c.during_upload) {
            service.HoldReplies("attachment");
            auto run = std::async(std::launch::async, [&] { return Run(l, crash_uuid, c.swaps); });
            // Until the upload is held, or the run ended without one.
            bool held = false;
            while (!held &&
                   run.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
                held = service.WaitUntilHeld("attachment", std::chrono::milliseconds(0));
            }
            if (held) {
                c.during_upload(l);
            }
            service.Release("attachment");
            result = run.get();
            EXPECT_TRUE(held) << "no attachment upload to act during";
            EXPECT_FALSE(service.HoldExpired("attachment"));
        } else {
            result = Run(l, crash_uuid, c.swaps);
        }
        if (c.delivery != Delivery::kNotStarted) {
            EXPECT_EQ(result.exit_code, 0) << result.output;
        }

        // The outside: every file as it was, nothing added but the run's own log.
        const auto sentinel_after = Snapshot(l.sentinel);
        for (const auto& [name, before] : sentinel_before) {
            const auto after = sentinel_after.find(name);
            ExpectUnchanged("sentinel " + name, before,
                            after == sentinel_after.end() ? EntryFacts{} : after->second);
        }
        for (const auto& [name, facts] : sentinel_after) {
            if (!sentinel_before.contains(name) &&
                (!IsRunningLogName(name) || c.delivery == Delivery::kNotStarted)) {
                ADD_FAILURE() << "made in the sentinel: " << name;
            }
        }
        for (const auto& [entry, before] : kept_before) {
            ExpectUnchanged(entry.string(), before, FactsOf(l.data / entry));
        }

        const auto requests = service.Requests();
        const auto names = CheckRequests(requests);
        const auto bugs = test_support::RequestsTo(requests, "/api/bug");
        const auto attachments = test_support::RequestsTo(requests, "/api/attachment");
        if (c.delivery == Delivery::kNotStarted) {
            EXPECT_NE(result.exit_code, 0);
            EXPECT_NE(result.output.find("Failed opening file "), std::string::npos)
                << result.output;
            EXPECT_TRUE(requests.empty()) << requests.size() << " requests";
            EXPECT_EQ(FactsOf(l.Dump()).bytes, dump);
            return;
        }
        const std::string log = RunningLog(l);
        ExpectNoMarker("the run's log", log);
        if (c.delivery == Delivery::kNothing) {
            EXPECT_TRUE(requests.empty()) << requests.size() << " requests";
            EXPECT_EQ(FactsOf(l.Dump()).bytes, dump);
            for (const auto& [name, content] : kRegularLogs) {
                EXPECT_EQ(FactsOf(l.logs / name).bytes, content) << name;
            }
            const auto record = log.find(RefusalRecord(crash_uuid));
            EXPECT_NE(record, std::string::npos) << RefusalRecord(crash_uuid) << "\n" << log;
            if (record != std::string::npos) {
                const auto line = log.rfind('\n', record);
                const auto start = line == std::string::npos ? 0 : line + 1;
                EXPECT_NE(log.substr(start, record - start).find("[error]"), std::string::npos)
                    << "not an error record: " << log.substr(start, record - start);
            }
            EXPECT_EQ(log.find("report bug result"), std::string::npos) << log;
            return;
        }

        ASSERT_EQ(bugs.size(), 1u);
        const auto report = nlohmann::json::parse(bugs[0].body);
        EXPECT_EQ(DecodeBase64(report.at("attach-data")), c.empty_dump ? "" : dump);
        EXPECT_NE(log.find("report bug result=true"), std::string::npos) << log;
        if (c.logs_stay) {
            for (const auto& [name, content] : kRegularLogs) {
                EXPECT_EQ(FactsOf(l.logs / name).bytes, content) << name << " is gone unsent";
            }
        }
        if (c.delivery == Delivery::kReportOnly) {
            EXPECT_TRUE(attachments.empty());
            return;
        }

        // The regular logs beside the hostile entries: attached, then deleted, as ever.
        ASSERT_EQ(attachments.size(), 1u);
        std::vector<std::string> expected = c.extra_entries;
        for (const auto& [name, content] : kRegularLogs) {
            expected.push_back(fs::path(name).filename().string());
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names, expected);
        for (const auto& [name, content] : kRegularLogs) {
            EXPECT_TRUE(FactsOf(l.logs / name).type == fs::file_type::not_found)
                << name << " stays";
        }
        EXPECT_TRUE(FactsOf(l.Archive()).type == fs::file_type::not_found) << "the archive stays";
        if (!c.empty_dump) {
            EXPECT_TRUE(FactsOf(l.Dump()).type == fs::file_type::not_found) << "the dump stays";
        }
    }
};

TEST_F(HostileLayout, LeavesTheOutsideUntouchedAndUnsent) {
    for (const auto& c : Cases()) {
        SCOPED_TRACE(c.name);
        RunCase(c);
    }
}

}  // namespace
