// The compressor at level 8 beside zlib's raw deflate at 6, 8 and 9 on seeded corpora (one of
// them made to defeat its prefix chains), over many small entries with one state, and the whole
// writer beside `zip -8` on folders of log files.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "bench/log_corpus.h"
#include "tests/zip/prefix_collision_log.h"
#include "zip/deflate.h"
#include "zip/zip_writer.h"

namespace {

namespace fs = std::filesystem;
using bench::LogCorpus;

// Like a crash dump: headers and tables, zero-filled pages, pointer-rich stacks, code bytes,
// wide strings of module paths.
std::string DumpCorpus(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::string out;
    out.reserve(size + 8192);
    out += "MDMP";
    std::array<std::uint32_t, 64> bases{};
    for (auto& base : bases) {
        base = 0x00400000u + (random() % 0x3000) * 0x10000u;
    }
    const std::string code_seed = [&] {
        std::string code(4096, '\0');
        for (auto& c : code) c = static_cast<char>(random() % 4 == 0 ? 0x8B : random());
        return code;
    }();
    while (out.size() < size) {
        switch (random() % 6) {
            case 0:  // zero page
                out.append(4096, '\0');
                break;
            case 1: {  // stack: little-endian pointers near module bases, small integers
                for (int i = 0; i < 1024; ++i) {
                    std::uint32_t value =
                        random() % 3 == 0 ? bases[random() % bases.size()] + (random() % 0x20000)
                                          : random() % 256;
                    out.append(reinterpret_cast<const char*>(&value), 4);
                }
                break;
            }
            case 2: {  // code: pieces of earlier code with changes
                std::string code = code_seed.substr(random() % 2048, 2048);
                for (int i = 0; i < 64; ++i)
                    code[random() % code.size()] = static_cast<char>(random());
                out += code;
                break;
            }
            case 3: {  // module path, UTF-16
                const std::string path = "C:\\Program Files\\Quorbelin\\Velmora Antivirus\\module" +
                                         std::to_string(random() % 40) + ".dll";
                for (const char c : path) {
                    out.push_back(c);
                    out.push_back('\0');
                }
                break;
            }
            case 4: {  // heap: random-ish data
                for (int i = 0; i < 1024; ++i)
                    out.push_back(static_cast<char>(random() % 16 == 0 ? random() : 0));
                break;
            }
            default: {  // table of records
                for (int i = 0; i < 128; ++i) {
                    const std::uint32_t record[4] = {
                        static_cast<std::uint32_t>(i), bases[random() % bases.size()],
                        static_cast<std::uint32_t>(0x1000u * (random() % 64)), 0};
                    out.append(reinterpret_cast<const char*>(record), sizeof record);
                }
            }
        }
    }
    out.resize(size);
    return out;
}

std::string RandomCorpus(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::string out(size, '\0');
    for (auto& c : out) c = static_cast<char>(random());
    return out;
}

const std::string& Corpus(const std::string& name) {
    static std::map<std::string, std::string> cache;
    auto found = cache.find(name);
    if (found == cache.end()) {
        std::string data;
        if (name == "log_1MiB") data = LogCorpus(1 << 20, 1);
        if (name == "log_20MiB") data = LogCorpus(20 << 20, 2);
        if (name == "dump_50MiB") data = DumpCorpus(50 << 20, 3);
        if (name == "random_10MiB") data = RandomCorpus(10 << 20, 4);
        if (name == "prefix_collision_20MiB") data = test_support::PrefixCollisionLog(20 << 20, 5);
        found = cache.emplace(name, std::move(data)).first;
    }
    return found->second;
}

struct Memory {
    const std::string* input;
    std::size_t offset = 0;
    std::size_t produced = 0;
};

std::uint32_t ReadMemory(void* context, std::uint8_t* buffer, std::uint32_t size) {
    auto& memory = *static_cast<Memory*>(context);
    const std::size_t count = std::min<std::size_t>(size, memory.input->size() - memory.offset);
    std::memcpy(buffer, memory.input->data() + memory.offset, count);
    memory.offset += count;
    return static_cast<std::uint32_t>(count);
}

void CountOutput(void* context, const std::uint8_t*, std::uint32_t& count) {
    static_cast<Memory*>(context)->produced += count;
    count = 0;
}

void Report(benchmark::State& state, std::size_t input, std::size_t compressed) {
    state.counters["MB/s"] = benchmark::Counter(
        static_cast<double>(input) * static_cast<double>(state.iterations()) / 1e6,
        benchmark::Counter::kIsRate);
    state.counters["compressed"] = static_cast<double>(compressed);
    state.counters["ratio"] = static_cast<double>(compressed) / static_cast<double>(input);
}

void Tallorin(benchmark::State& state, const std::string& name) {
    const std::string& input = Corpus(name);
    auto compressor = zip_deflate::NewState();
    std::array<std::uint8_t, zip_deflate::kOutputSize> output{};
    std::size_t compressed = 0;
    for (auto _ : state) {
        Memory memory{&input};
        const zip_deflate::Io io{&memory, ReadMemory, CountOutput, output.data()};
        std::uint16_t flags = 0;
        std::uint16_t internal = 0;
        std::uint32_t size = 0;
        if (zip_deflate::Compress(*compressor, io, 8, flags, internal, size) != 0) {
            state.SkipWithError(zip_deflate::LastError(*compressor));
            return;
        }
        compressed = memory.produced;
    }
    Report(state, input.size(), compressed);
}

// Deflates what the stream holds to its end through `output`; the bytes produced.
std::size_t FinishDeflate(z_stream& z, std::array<std::uint8_t, 16384>& output) {
    std::size_t produced = 0;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        z.next_out = output.data();
        z.avail_out = static_cast<uInt>(output.size());
        status = deflate(&z, Z_FINISH);
        produced += output.size() - z.avail_out;
    }
    return produced;
}

void Zlib(benchmark::State& state, const std::string& name, int level) {
    const std::string& input = Corpus(name);
    std::array<std::uint8_t, 16384> output{};
    std::size_t compressed = 0;
    for (auto _ : state) {
        z_stream z{};
        deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
        z.avail_in = static_cast<uInt>(input.size());
        compressed = FinishDeflate(z, output);
        deflateEnd(&z);
    }
    Report(state, input.size(), compressed);
}

// ---------------------------------------------------------------- many small entries

// 10,000 log files of 4 KiB, as a product that logs briefly and often leaves them: the state's
// set-up per entry counts as much as the compression.
constexpr std::size_t kSmallLogs = 10000;
constexpr std::size_t kSmallLogSize = 4096;

const std::string& SmallLogs() {
    static const std::string logs = LogCorpus(kSmallLogs * kSmallLogSize, 6);
    return logs;
}

void TallorinEntries(benchmark::State& state) {
    const std::string& logs = SmallLogs();
    auto compressor = zip_deflate::NewState();
    std::array<std::uint8_t, zip_deflate::kOutputSize> output{};
    std::size_t compressed = 0;
    for (auto _ : state) {
        compressed = 0;
        for (std::size_t at = 0; at < logs.size(); at += kSmallLogSize) {
            const std::string entry = logs.substr(at, kSmallLogSize);
            Memory memory{&entry};
            const zip_deflate::Io io{&memory, ReadMemory, CountOutput, output.data()};
            std::uint16_t flags = 0;
            std::uint16_t internal = 0;
            std::uint32_t size = 0;
            if (zip_deflate::Compress(*compressor, io, 8, flags, internal, size) != 0) {
                state.SkipWithError(zip_deflate::LastError(*compressor));
                return;
            }
            compressed += memory.produced;
        }
    }
    Report(state, logs.size(), compressed);
}

// zlib at level 8 with one stream, reset for every entry.
void ZlibEntries(benchmark::State& state) {
    const std::string& logs = SmallLogs();
    std::array<std::uint8_t, 16384> output{};
    z_stream z{};
    deflateInit2(&z, 8, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::size_t compressed = 0;
    for (auto _ : state) {
        compressed = 0;
        for (std::size_t at = 0; at < logs.size(); at += kSmallLogSize) {
            const std::string entry = logs.substr(at, kSmallLogSize);
            deflateReset(&z);
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(entry.data()));
            z.avail_in = static_cast<uInt>(entry.size());
            compressed += FinishDeflate(z, output);
        }
    }
    deflateEnd(&z);
    Report(state, logs.size(), compressed);
}

// ---------------------------------------------------------------- the writer against zip -8

struct LogFolder {
    fs::path root;
    fs::path logs;
    std::size_t bytes = 0;
    LogFolder(const std::string& name, void (*fill)(LogFolder&)) {
        root = fs::temp_directory_path() / ("zip_bench_" + name + "_" + std::to_string(::getpid()));
        logs = root / "logs";
        fs::create_directories(logs);
        fill(*this);
    }
    LogFolder(const LogFolder&) = delete;
    LogFolder& operator=(const LogFolder&) = delete;
    void Add(const std::string& name, const std::string& text) {
        std::ofstream(logs / name, std::ios::binary) << text;
        bytes += text.size();
    }
    ~LogFolder() {
        std::error_code error;
        fs::remove_all(root, error);
    }
};

// A product's log folder: a few full 20 MiB logs and smaller ones.
LogFolder& Folder() {
    static LogFolder folder("log_folder", [](LogFolder& made) {
        const std::size_t sizes[] = {20 << 20, 8 << 20, 3 << 20, 1 << 20, 300 << 10, 40 << 10};
        std::uint32_t seed = 100;
        for (const std::size_t size : sizes) {
            const std::string text = LogCorpus(size, seed++);
            made.Add("2021.03.04_10.15." + std::to_string(seed) + "_tallorin_pid=42.txt", text);
        }
    });
    return folder;
}

// The small logs above, one file each.
LogFolder& SmallFolder() {
    static LogFolder folder("small_logs", [](LogFolder& made) {
        const std::string& logs = SmallLogs();
        for (std::size_t at = 0; at < logs.size(); at += kSmallLogSize) {
            const std::string name = std::to_string(at / kSmallLogSize);
            made.Add("2021.03.04_10.15." + name + "_tallorin_pid=42.txt",
                     logs.substr(at, kSmallLogSize));
        }
    });
    return folder;
}

void Writer(benchmark::State& state, LogFolder& (*which)()) {
    const auto& folder = which();
    const fs::path archive = folder.root / "writer.zip";
    for (auto _ : state) {
        auto handle = ZipWriter::Open(archive.wstring());
        for (const auto& entry : fs::directory_iterator(folder.logs)) {
            handle->writer->AddFile(entry.path().filename().wstring(), entry.path().wstring());
        }
        if (ZipWriter::Close(std::move(handle)) != kZipOk) {
            state.SkipWithError("close failed");
            return;
        }
    }
    Report(state, folder.bytes, fs::file_size(archive));
}

void ZipCommand(benchmark::State& state, LogFolder& (*which)()) {
    const auto& folder = which();
    const fs::path archive = folder.root / "infozip.zip";
    const std::string command =
        "cd '" + folder.logs.string() + "' && zip -q -8 -r '" + archive.string() + "' .";
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(archive);  // zip would update an existing archive
        state.ResumeTiming();
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("zip failed");
            return;
        }
    }
    Report(state, folder.bytes, fs::file_size(archive));
}

const bool kRegistered = [] {
    for (const char* name :
         {"log_1MiB", "log_20MiB", "dump_50MiB", "random_10MiB", "prefix_collision_20MiB"}) {
        const std::string corpus = name;
        benchmark::RegisterBenchmark(("tallorin_8/" + corpus).c_str(), Tallorin, corpus)
            ->Unit(benchmark::kMillisecond);
        for (const int level : {6, 8, 9}) {
            benchmark::RegisterBenchmark(("zlib_" + std::to_string(level) + "/" + corpus).c_str(),
                                         Zlib, corpus, level)
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::RegisterBenchmark("tallorin_8/entries_10000x4KiB", TallorinEntries)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("zlib_8_reset/entries_10000x4KiB", ZlibEntries)
        ->Unit(benchmark::kMillisecond);
    for (const auto& [name, folder] :
         {std::pair{"log_folder", &Folder}, std::pair{"small_logs", &SmallFolder}}) {
        benchmark::RegisterBenchmark((std::string("writer/") + name).c_str(), Writer, folder)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark((std::string("zip_-8_-r/") + name).c_str(), ZipCommand, folder)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
