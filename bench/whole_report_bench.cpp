// A whole report as the program sends it, beside what a user would do by hand in the same run.
// SendBugReport: the report JSON with the dump, the log folder zipped by the program's writer,
// the attachment posted, everything sent deleted. By hand: `zip -8 -r` of the same folder, the
// two JSON bodies made with base64, and curl posting both. Both post to the report-service
// double over loopback. The log folder and the dump are laid anew before each round, outside
// the timing. Counter logs_MB: the size of the log folder.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>

#include "bench/benchmark_report.h"
#include "bench/dump_bytes.h"
#include "bench/log_corpus.h"
#include "report/endpoints.h"
#include "report/send_bug_report.h"
#include "tests/report_service/report_service.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/zip/prefix_collision_log.h"

namespace {

namespace fs = std::filesystem;

using bench::kCrashUuid;
using bench::kUserAgent;
constexpr std::size_t kDumpSize = std::size_t{4} << 20;

// One corpus, written once, as a folder of log files that each round copies.
struct Corpus {
    fs::path files;
    std::size_t bytes = 0;
};

void WriteMany(Corpus& corpus, int count, std::size_t size) {
    for (int index = 0; index < count; ++index) {
        const std::string text = bench::LogCorpus(size, static_cast<std::uint32_t>(1000 + index));
        test_support::WriteFile(corpus.files / ("service_" + std::to_string(index) + ".log"), text);
        corpus.bytes += text.size();
    }
}

void WriteOne(Corpus& corpus, const std::string& name, const std::string& text) {
    test_support::WriteFile(corpus.files / name, text);
    corpus.bytes += text.size();
}

class Setting {
public:
    Setting()
        : service_({.production_port = test_support::PortOfUrl(kProductionBaseUrl),
                    .staging_port = test_support::PortOfUrl(kStagingBaseUrl)}) {
        service_.SetReply("bug", {200, R"({"id": 7})"});
        test_support::WriteFile(root_ / "dump.template", bench::DumpBytes(kDumpSize));
        WriteScript();
    }

    const Corpus& Get(const std::string& name) {
        if (const auto found = corpora_.find(name); found != corpora_.end()) {
            return found->second;
        }
        Corpus corpus{root_ / ("corpus_" + name)};
        fs::create_directories(corpus.files);
        if (name == "2000x64KiB") {
            WriteMany(corpus, 2000, 64 << 10);
        } else if (name == "10000x4KiB") {
            WriteMany(corpus, 10000, 4 << 10);
        } else if (name == "log_20MiB") {
            WriteOne(corpus, "tallorin.txt", bench::LogCorpus(20 << 20, 2));
        } else if (name == "prefix_collision_20MiB") {
            WriteOne(corpus, "crafted.log", test_support::PrefixCollisionLog(20 << 20, 5));
        }
        return corpora_.emplace(name, std::move(corpus)).first->second;
    }

    // The product's folders as a crash leaves them.
    void Lay(const Corpus& corpus) const {
        std::error_code ignored;
        fs::remove_all(logs(), ignored);
        fs::remove_all(crash(), ignored);
        fs::remove_all(root_ / "by-hand", ignored);
        fs::create_directories(crash());
        fs::create_directories(root_ / "by-hand");
        fs::copy(corpus.files, logs(), fs::copy_options::recursive);
        fs::copy_file(root_ / "dump.template", crash() / (std::string(kCrashUuid) + ".dmp"));
    }

    BugReportRequest Request() const { return bench::ReportRequest(crash(), logs()); }

    fs::path script() const { return root_ / "by_hand.sh"; }

private:
    fs::path crash() const { return root_ / "crash_info"; }
    fs::path logs() const { return root_ / "logs"; }

    // What a user would type: zip the folder, wrap the dump and the archive in JSON with
    // base64, post both, delete what was sent.
    void WriteScript() const {
        const std::string work = (root_ / "by-hand").string();
        const std::string post =
            "curl --silent --show-error --fail --insecure --output /dev/null"
            " --header 'Content-Type: application/json' --header 'User-Agent: " +
            std::string(kUserAgent) + "' --header 'Expect:' --data-binary";
        const std::string text =
            "set -e\n"
            "cd '" +
            work +
            "'\n"
            "(cd '" +
            logs().string() + "' && zip -q -8 -r '" + work +
            "/logs.zip' .)\n"
            "{ printf '{\"attach-data\":\"'; base64 -w0 '" +
            crash().string() + "/" + kCrashUuid +
            ".dmp'; printf '\",\"attach-name\":\"crash.dmp\",\"title\":\"Crash Report\"}'; }"
            " > report.json\n"
            "{ printf '{\"files\":[{\"attach-data\":\"'; base64 -w0 logs.zip;"
            " printf '\",\"file-name\":\"logs.zip\"}],\"id\":7}'; } > attachment.json\n" +
            post + " @report.json '" + kProductionBaseUrl + kBugPath + "'\n" + post +
            " @attachment.json '" + kProductionBaseUrl + kAttachmentPath + "'\n" + "rm -rf '" +
            logs().string() + "' '" + crash().string() + "/" + kCrashUuid + ".dmp'\n";
        test_support::WriteFile(script(), text);
    }

    test_support::DirectConnections direct_;
    test_support::TempDir root_;
    test_support::ReportService service_;
    std::map<std::string, Corpus> corpora_;
};

Setting& TheSetting() {
    static Setting setting;
    return setting;
}

void Report(benchmark::State& state, const Corpus& corpus) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.bytes));
    state.counters["logs_MB"] = static_cast<double>(corpus.bytes) / 1e6;
}

void Program(benchmark::State& state, const std::string& name) {
    Setting& setting = TheSetting();
    const Corpus& corpus = setting.Get(name);
    const BugReportRequest request = setting.Request();
    for (auto _ : state) {
        state.PauseTiming();
        setting.Lay(corpus);
        state.ResumeTiming();
        BugReportResult result;
        if (!SendBugReport(request, result)) {
            state.SkipWithError("the report was not delivered");
            return;
        }
    }
    Report(state, corpus);
}

void ByHand(benchmark::State& state, const std::string& name) {
    Setting& setting = TheSetting();
    const Corpus& corpus = setting.Get(name);
    test_support::ChildOptions options;
    options.arguments = {setting.script().string()};
    options.timeout_seconds = 600;
    for (auto _ : state) {
        state.PauseTiming();
        setting.Lay(corpus);
        state.ResumeTiming();
        const auto result = test_support::RunChild("/bin/sh", options);
        if (result.exit_code != 0) {
            state.SkipWithError(("zip or curl failed: " + result.output).c_str());
            return;
        }
    }
    Report(state, corpus);
}

const bool kRegistered = [] {
    for (const std::string corpus :
         {"2000x64KiB", "10000x4KiB", "log_20MiB", "prefix_collision_20MiB"}) {
        benchmark::RegisterBenchmark(("SendBugReport/" + corpus).c_str(), Program, corpus)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(3);
        benchmark::RegisterBenchmark(("zip_-8_and_curl/" + corpus).c_str(), ByHand, corpus)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(3);
    }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
