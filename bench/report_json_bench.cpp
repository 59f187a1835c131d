// BuildReportJson for dumps of 1, 16 and 64 MiB beside Crypto++'s Base64 of the same bytes
// alone, the floor that the encoder sets. Counters: dump_MBps (MB/s of dump) and peak_x (the
// heap's high-water mark during one call, as a multiple of the dump's size).
#include <benchmark/benchmark.h>
#include <cryptopp/base64.h>
#include <cryptopp/filters.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/benchmark_report.h"
#include "bench/dump_bytes.h"
#include "bench/heap_peak.h"
#include "report/report_json.h"

namespace {

namespace fs = std::filesystem;
using bench::kCrashUuid;

// A crash-files folder holding one dump of the given size, removed afterwards.
class DumpFolder {
public:
    explicit DumpFolder(std::size_t size)
        : folder_(fs::temp_directory_path() / ("tallorin-bench-" + std::to_string(size))) {
        fs::create_directories(folder_);
        std::ofstream(MakeDumpPath(folder_, kCrashUuid), std::ios::binary)
            << bench::DumpBytes(size);
    }
    DumpFolder(const DumpFolder&) = delete;
    DumpFolder& operator=(const DumpFolder&) = delete;
    ~DumpFolder() { fs::remove_all(folder_); }

    BugReportRequest Request() const {
        BugReportRequest request;
        request.product_name = L"Velmora Antivirus";
        request.product_version = "14.3.43577.3505";
        request.crash_info_dir_path = folder_;
        request.crash_uuid = kCrashUuid;
        request.tester_email = L"user@example.com";
        request.description = L"it crashed <again> & again";
        return request;
    }

private:
    fs::path folder_;
};

void ReportCounters(benchmark::State& state, std::size_t size, std::size_t peak) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    state.counters["dump_MBps"] = benchmark::Counter(static_cast<double>(size) / 1e6,
                                                     benchmark::Counter::kIsIterationInvariantRate);
    state.counters["peak_x"] = static_cast<double>(peak) / static_cast<double>(size);
}

void BM_BuildReportJson(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0)) << 20;
    const DumpFolder folder(size);
    const auto request = folder.Request();
    std::size_t peak = 0;
    for (auto _ : state) {
        bench::ResetHeapPeak();
        auto body = BuildReportJson(request);
        benchmark::DoNotOptimize(body.data());
        peak = std::max(peak, bench::HeapPeakSinceReset());
    }
    ReportCounters(state, size, peak);
}

// The encoding alone, the way a Crypto++ user writes it, on bytes already in memory (its
// pipeline takes ownership of the filters it is handed).
void BM_CryptoppBase64(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0)) << 20;
    const auto bytes = bench::DumpBytes(size);
    std::size_t peak = 0;
    for (auto _ : state) {
        bench::ResetHeapPeak();
        std::string text;
        CryptoPP::StringSource source(
            reinterpret_cast<const CryptoPP::byte*>(bytes.data()), bytes.size(), true,
            new CryptoPP::Base64Encoder(new CryptoPP::StringSink(text), false));
        benchmark::DoNotOptimize(text.data());
        peak = std::max(peak, bench::HeapPeakSinceReset());
    }
    ReportCounters(state, size, peak);
}

}  // namespace

BENCHMARK(BM_BuildReportJson)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CryptoppBase64)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
