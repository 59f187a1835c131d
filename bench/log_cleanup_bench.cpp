// The clean-up after an attachment was delivered: RemoveFiles over what the walk collected and
// the archive took, then RemoveEmptyFolders of the log folder, beside std::filesystem::remove_all
// of the same folder (what `rm -rf` does). The folder is laid anew before each round, outside the
// timing. Counter files: the number of log files.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "report/attachments.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kLogSize = 4096;

// `count` small files, a tenth of them in one subfolder, as a log folder holds them.
void Lay(const fs::path& logs, int count) {
    std::error_code ignored;
    fs::remove_all(logs, ignored);
    fs::create_directories(logs / "archive");
    const std::string text(kLogSize, 'x');
    for (int index = 0; index < count; ++index) {
        const fs::path folder = index % 10 == 0 ? logs / "archive" : logs;
        test_support::WriteFile(folder / ("service_" + std::to_string(index) + ".log"), text);
    }
}

// Times `remove` of a folder of state.range(0) files, laid anew before each round. `remove`
// answers whether the folder went.
template <typename Remove>
void TimeRemoval(benchmark::State& state, Remove remove) {
    const test_support::TempDir root;
    const fs::path logs = root / "logs";
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        Lay(logs, count);
        state.ResumeTiming();
        if (!remove(logs)) {
            state.SkipWithError("the log folder stayed");
            break;
        }
    }
    state.counters["files"] = count;
}

void BM_RemoveFilesAndTree(benchmark::State& state) {
    TimeRemoval(state, [](const fs::path& logs) {
        const auto folder = NoFollowFolder::Open(logs);
        std::vector<AttachedFile> files;
        CollectFilesRecursive(*folder, files);
        for (auto& file : files) {
            file.zipped_size = kLogSize;  // as the archive took them
        }
        RemoveFiles(files);
        return RemoveEmptyFolders(*folder);
    });
}

void BM_FilesystemRemoveAll(benchmark::State& state) {
    TimeRemoval(state, [](const fs::path& logs) { return fs::remove_all(logs) > 0; });
}

}  // namespace

BENCHMARK(BM_RemoveFilesAndTree)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_FilesystemRemoveAll)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

BENCHMARK_MAIN();
