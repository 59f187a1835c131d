// Entries packed ahead on worker threads: what a worker reads and holds stays bounded, and a
// source that changes under it still gives a right entry.
#include "zip/pack_ahead.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <platform/testing.h>

#include "tests/support/temp_dir.h"
#include "tests/zip/archive_reading.h"
#include "zip/zip_writer.h"

namespace {

namespace fs = std::filesystem;
using zip_test::ExpectArchiveReads;

std::string Text(std::size_t size, int seed) {
    std::string text;
    for (int line = seed; text.size() < size; ++line) {
        text += "[03/04/21 10:15:17 250] [debug] [42] [tallorin:attachments.cpp:" +
                std::to_string(line) + "][Collect]: listed\n";
    }
    text.resize(size);
    return text;
}

std::function<ScopedHandle()> Opener(const fs::path& path) {
    return [path] {
        return ScopedHandle(CreateFileW(path.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
}

class PackAheadTest : public ::testing::Test {
protected:
    void SetUp() override { platform::testing::Reset(); }
    void TearDown() override {
        platform::testing::Reset();
        EXPECT_EQ(platform::testing::OpenHandleCount(), 0u);
    }

    fs::path Source(const std::string& name, const std::string& content) {
        const fs::path path = dir_ / "src" / name;
        fs::create_directories(path.parent_path());
        test_support::WriteFile(path, content);
        return path;
    }

    // Appends `more` to `path` just before its first read, once its size has been taken.
    static void GrowAtFirstRead(const fs::path& path, const std::string& more) {
        platform::testing::BeforeCall("ReadFile", path.string(), [path, more] {
            std::ofstream(path, std::ios::binary | std::ios::app) << more;
        });
    }

    test_support::TempDir dir_;
    fs::path archive_ = dir_ / "U-1.zip";
};

// Planned at 100 kB, it grows by 3 MiB as a worker starts to read it: the entry still holds
// every byte of it, deflated or stored, as the real readers find.
TEST_F(PackAheadTest, ASourceThatGrowsPastWhatIsPackedAheadGivesItsWholeEntry) {
    const std::string start = Text(100000, 1);
    const std::string more = Text(3 << 20, 2);
    const std::string small = Text(5000, 3);
    for (const char* name : {"grows.log", "grows.gz"}) {
        SCOPED_TRACE(name);
        const fs::path grows = Source(name, start);
        GrowAtFirstRead(grows, more);
        const std::vector<ZipSource> sources = {
            {L"small.log", Opener(Source("small.log", small))},
            {fs::path(name).wstring(), Opener(grows)},
        };
        auto handle = ZipWriter::Open(archive_.wstring());
        ASSERT_TRUE(handle);
        EXPECT_EQ(handle->writer->AddFiles(sources, 2),
                  (std::vector<std::uint32_t>{kZipOk, kZipOk}));
        ASSERT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);
        ExpectArchiveReads(archive_, {{"small.log", small}, {name, start + more}});
    }
}

// A worker holds no more than about 1 MiB of a source that grows under it: it stops there and
// hands the source over for its turn, at its start again.
TEST_F(PackAheadTest, AWorkerStopsReadingASourceThatGrowsPastOneMebibyte) {
    for (const char* name : {"grows.log", "grows.gz"}) {
        SCOPED_TRACE(name);
        const fs::path grows = Source(name, Text(100000, 4));
        GrowAtFirstRead(grows, Text(8 << 20, 5));
        zip_deflate::StatePointer state;
        std::vector<std::uint8_t> buffer(zip_deflate::kOutputSize);
        PackedEntry packed = PackEntry({fs::path(name).wstring(), Opener(grows)}, state, buffer,
                                       std::uint64_t{1} << 32);
        ASSERT_TRUE(packed.in_turn);
        EXPECT_TRUE(packed.data.empty());
        EXPECT_GT(packed.bytes_read, kZipPackAheadBytes);
        EXPECT_LE(packed.bytes_read, kZipPackAheadBytes + (1 << 20)) << "one read past at most";
        EXPECT_EQ(SetFilePointer(packed.in_turn.get(), 0, nullptr, FILE_CURRENT), 0u);
    }
}

// While the writer waits for the first source, whose open blocks, the workers claim only a few
// sources beyond it: four per worker, however many sources wait, and however many threads are
// asked for (at most 8 workers).
TEST_F(PackAheadTest, WhileTheFirstOpenBlocksOnlyAFewSourcesPerWorkerAreOpened) {
    const fs::path log = Source("app.log", Text(2000, 6));
    const struct {
        unsigned threads;
        int most_ahead;
    } cases[] = {{2, 8}, {64, 32}};
    for (const auto& each : cases) {
        SCOPED_TRACE(each.threads);
        std::mutex mutex;
        std::condition_variable changed;
        int opened = 0;  // sources after the first
        int opened_while_blocked = -1;
        const auto blocked = [&] {
            {
                // Waits a while for more openers than the bound allows to join in.
                std::unique_lock lock(mutex);
                changed.wait_for(lock, std::chrono::milliseconds(300),
                                 [&] { return opened > each.most_ahead; });
                opened_while_blocked = opened;
            }
            return Opener(log)();
        };
        const auto counted = [&] {
            {
                const std::lock_guard lock(mutex);
                ++opened;
            }
            changed.notify_all();
            return Opener(log)();
        };
        std::vector<ZipSource> sources = {{L"first.log", blocked}};
        for (int i = 0; i < 100; ++i) {
            sources.push_back({L"app" + std::to_wstring(i) + L".log", counted});
        }
        auto handle = ZipWriter::Open(archive_.wstring());
        ASSERT_TRUE(handle);
        EXPECT_EQ(handle->writer->AddFiles(sources, each.threads),
                  std::vector<std::uint32_t>(sources.size(), kZipOk));
        EXPECT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);
        EXPECT_LE(opened_while_blocked, each.most_ahead);
        EXPECT_GE(opened_while_blocked, 1) << "packed ahead meanwhile";
    }
}

}  // namespace
