// SendBugReport of a 64 MiB dump to the report-service double beside the curl command line
// posting the same body to the same endpoint. All wait for the double to take the whole body
// and answer. SendBugReport also builds the body (the dump read and Base64-encoded by
// Crypto++) and asks for the user's proxies, as it does in the program; BM_HttpLayerPost is
// its upload alone: the proxy lookup and the same session (route, stall bounds, reply cap)
// posting the body already built. Counter body_MB: the size of the body.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "bench/benchmark_report.h"
#include "bench/dump_bytes.h"
#include "report/endpoints.h"
#include "report/report_json.h"
#include "report/send_bug_report.h"
#include "report/upload.h"
#include "tests/report_service/report_service.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kDumpSize = std::size_t{64} << 20;
using bench::kCrashUuid;
using bench::kUserAgent;

// The double on the build's production port, a crash-files folder with the dump, and the
// report body in a file for curl. No log folder: only the report is posted.
class Setting {
public:
    Setting()
        : service_({.production_port = test_support::PortOfUrl(kProductionBaseUrl),
                    .staging_port = test_support::PortOfUrl(kStagingBaseUrl)}) {
        test_support::WriteFile(MakeDumpPath(folder_.path(), kCrashUuid),
                                bench::DumpBytes(kDumpSize));
        body_ = BuildReportJson(Request());
        test_support::WriteFile(folder_ / "body.json", body_);
    }

    BugReportRequest Request() const {
        return bench::ReportRequest(folder_.path(), folder_ / "no-logs");
    }

    fs::path BodyFile() const { return folder_ / "body.json"; }
    const std::string& body() const { return body_; }
    std::size_t body_size() const { return body_.size(); }

private:
    test_support::DirectConnections direct_;
    test_support::TempDir folder_;
    test_support::ReportService service_;
    std::string body_;
};

Setting& TheSetting() {
    static Setting setting;
    return setting;
}

void Report(benchmark::State& state, std::size_t body_size) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body_size));
    state.counters["body_MB"] = static_cast<double>(body_size) / 1e6;
}

void BM_SendBugReport(benchmark::State& state) {
    const Setting& setting = TheSetting();
    const auto request = setting.Request();
    for (auto _ : state) {
        BugReportResult result;
        if (!SendBugReport(request, result)) {
            state.SkipWithError("the report was not delivered");
            break;
        }
    }
    Report(state, setting.body_size());
}

void BM_HttpLayerPost(benchmark::State& state) {
    const Setting& setting = TheSetting();
    for (auto _ : state) {
        state.PauseTiming();
        std::string body = setting.body();  // SendBugReport moves its own body in
        state.ResumeTiming();
        if (PostUpload(UploadEndpoint::kBug, true, std::move(body), false, kUserAgent)
                .status_code != 200) {
            state.SkipWithError("the post was not answered with 200");
            break;
        }
    }
    Report(state, setting.body_size());
}

// The same body, URL and headers from the command line; a process start and the file read
// are part of what a curl user pays.
void BM_CurlCommandLine(benchmark::State& state) {
    const Setting& setting = TheSetting();
    test_support::ChildOptions options;
    options.arguments = {"--silent",
                         "--show-error",
                         "--fail",
                         "--insecure",
                         "--output",
                         "/dev/null",
                         "--header",
                         "Content-Type: application/json",
                         "--header",
                         std::string("User-Agent: ") + kUserAgent,
                         "--header",
                         "Expect:",
                         "--data-binary",
                         "@" + setting.BodyFile().string(),
                         std::string(kProductionBaseUrl) + kBugPath};
    for (auto _ : state) {
        const auto result = test_support::RunChild("/usr/bin/curl", options);
        if (result.exit_code != 0) {
            state.SkipWithError(("curl failed: " + result.output).c_str());
            break;
        }
    }
    Report(state, setting.body_size());
}

}  // namespace

BENCHMARK(BM_SendBugReport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_HttpLayerPost)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_CurlCommandLine)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

BENCHMARK_MAIN();
