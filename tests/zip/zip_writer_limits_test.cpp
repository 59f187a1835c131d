// The writer at the format's 32-bit limits: past 2 GiB every entry still lands where the
// central directory says, and an entry that would take the archive past 4 GiB (offsets, sizes,
// the central directory) or past 65535 entries is refused and left out of a whole archive.
// Sources are sparse files, so gigabytes cost no disk to read; the archives are real.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <platform/testing.h>

#include "tests/support/temp_dir.h"
#include "tests/zip/archive_reading.h"
#include "zip/zip_writer.h"

namespace {

namespace fs = std::filesystem;
using zip_test::ExpectArchiveReads;
using zip_test::ExpectedEntry;

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

std::string Text(std::size_t size, int seed) {
    std::string text;
    for (int line = seed; text.size() < size; ++line) {
        text += "[03/04/21 10:15:17 250] [debug] [42] [tallorin:main.cpp:" + std::to_string(line) +
                "][wWinMain]: started\n";
    }
    text.resize(size);
    return text;
}

class ZipWriterLimitsTest : public ::testing::Test {
protected:
    void SetUp() override { platform::testing::Reset(); }
    void TearDown() override {
        platform::testing::Reset();
        EXPECT_EQ(platform::testing::OpenHandleCount(), 0u);
    }

    // A file of `size` zero bytes that takes no disk.
    fs::path Sparse(const std::string& name, std::uint64_t size) {
        const fs::path path = dir_ / "src" / name;
        fs::create_directories(path.parent_path());
        const int descriptor = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
        EXPECT_GE(descriptor, 0) << path;
        EXPECT_EQ(::ftruncate(descriptor, static_cast<off_t>(size)), 0) << path;
        ::close(descriptor);
        return path;
    }

    // Its access time an hour ahead, after its last write and its change: reading it then
    // leaves the time alone (relatime), and archives of it can be compared byte for byte.
    fs::path Source(const std::string& name, const std::string& content) {
        const fs::path path = dir_ / "src" / name;
        test_support::WriteFile(path, content);
        const timespec times[2] = {{::time(nullptr) + 3600, 0}, {1614852917, 0}};
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        return path;
    }

    // Why this file system cannot hold the test: no sparse files, or less room than the
    // archive's `bytes` and a margin.
    std::optional<std::string> CannotHold(std::uint64_t bytes) {
        const fs::path probe = Sparse("probe", kGiB);
        struct stat facts {};
        const bool sparse = ::stat(probe.c_str(), &facts) == 0 &&
                            static_cast<std::uint64_t>(facts.st_blocks) * 512 < kMiB;
        fs::remove(probe);
        if (!sparse) {
            return "the temporary folder's file system has no sparse files";
        }
        const std::uint64_t free = fs::space(dir_.path()).available;
        if (free < bytes + kGiB) {
            return "the temporary folder has " + std::to_string(free / kMiB) + " MiB free, " +
                   std::to_string((bytes + kGiB) / kMiB) + " MiB needed";
        }
        return std::nullopt;
    }

    std::uint64_t ArchiveSize() const { return fs::file_size(archive_); }

    test_support::TempDir dir_;
    fs::path archive_ = dir_ / "U-1.zip";
};

TEST_F(ZipWriterLimitsTest, PastTwoGiBEntriesLandWhereTheDirectorySaysAndFourGiBIsNotPassed) {
    const std::uint64_t big = 2 * kGiB + kMiB;
    if (const auto why = CannotHold(big + kMiB)) {
        GTEST_SKIP() << *why;
    }
    const std::string first = Text(100000, 1);
    const std::string after = Text(70000, 2);
    struct Step {
        const char* name;
        fs::path source;
        std::uint32_t result;
    };
    const Step steps[] = {
        {"first.log", Source("first.log", first), kZipOk},
        // Stored, its data crosses 2 GiB: the rewrite of its header returns there.
        {"big.gz", Sparse("big.gz", big), kZipOk},
        // Would end past 4 GiB.
        {"huge.gz", Sparse("huge.gz", 2 * kGiB), kZipWriteFailed},
        // Sizes that a 32-bit field cannot hold, or only as the ZIP64 marker.
        {"whole.log", Sparse("whole.log", 0xFFFFFFFFu), kZipWriteFailed},
        {"over.log", Sparse("over.log", 4 * kGiB + 1), kZipWriteFailed},
        // Its header lies past 2 GiB.
        {"after.log", Source("after.log", after), kZipOk},
    };
    auto handle = ZipWriter::Open(archive_.wstring());
    ASSERT_TRUE(handle);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        const std::uint64_t before = ArchiveSize();
        EXPECT_EQ(handle->writer->AddFile(fs::path(step.name).wstring(), step.source.wstring()),
                  step.result);
        if (step.result != kZipOk) {
            EXPECT_EQ(ArchiveSize(), before) << "a refused entry writes nothing";
        }
    }
    ASSERT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);

    const auto offsets = zip_test::LocalHeaderOffsets(archive_);
    ASSERT_EQ(offsets.size(), 3u);
    EXPECT_GT(offsets[2], 2 * kGiB);
    ExpectArchiveReads(archive_, {{"first.log", first}, {"big.gz", "", big}, {"after.log", after}},
                       {"first.log", "after.log"});
}

TEST_F(ZipWriterLimitsTest, TakesEntriesUpTo65535) {
    if (const auto why = CannotHold(16 * kMiB)) {
        GTEST_SKIP() << *why;
    }
    const fs::path empty = Source("empty.gz", "");
    const ScopedHandle source(CreateFileW(empty.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(source);
    auto handle = ZipWriter::Open(archive_.wstring());
    ASSERT_TRUE(handle);
    std::vector<ExpectedEntry> expected;
    for (int i = 0; i < 0xFFFF; ++i) {
        expected.push_back({std::to_string(i) + ".gz", ""});
        ASSERT_EQ(handle->writer->AddFile(fs::path(expected.back().name).wstring(), source.get()),
                  kZipOk)
            << i;
    }
    const std::uint64_t before = ArchiveSize();
    EXPECT_EQ(handle->writer->AddFile(L"one-too-many.gz", source.get()), kZipWriteFailed);
    EXPECT_EQ(ArchiveSize(), before);
    ASSERT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);
    ExpectArchiveReads(archive_, expected);
}

// The same rules at limits made small: an archive may end exactly at its limit, and an entry
// one byte too big is left out of a whole archive, refused at once by its size (stored) or when
// its data outgrows the room (deflated), then cut off: the archive is the one without it.
TEST_F(ZipWriterLimitsTest, AnArchiveMayEndExactlyAtItsLimit) {
    const std::string first = Text(30000, 3);
    std::mt19937 random(4);
    std::string noise(60000, '\0');
    for (auto& c : noise) {
        c = static_cast<char>(random());
    }
    const fs::path first_path = Source("first.log", first);
    const fs::path noise_path = Source("noise", noise);
    const fs::path empty_path = Source("empty", "");
    struct Case {
        const char* name;
        const wchar_t* last;
        const fs::path& source;
        std::uint64_t over;  // bytes the limit lacks
        std::uint32_t result;
    };
    const Case cases[] = {
        {"stored, fits exactly", L"last.gz", noise_path, 0, kZipOk},
        {"stored, one byte over", L"last.gz", noise_path, 1, kZipWriteFailed},
        {"stored and empty, fits exactly", L"last.gz", empty_path, 0, kZipOk},
        {"stored and empty, one byte over", L"last.gz", empty_path, 1, kZipWriteFailed},
        {"deflated, fits exactly", L"last.bin", noise_path, 0, kZipOk},
        {"deflated, one byte over", L"last.bin", noise_path, 1, kZipWriteFailed},
        {"deflated, outgrows it halfway", L"last.bin", noise_path, 30000, kZipWriteFailed},
    };
    const fs::path first_only = dir_ / "first-only.zip";
    auto alone = ZipWriter::Open(first_only.wstring());
    ASSERT_TRUE(alone);
    ASSERT_EQ(alone->writer->AddFile(L"first.log", first_path.wstring()), kZipOk);
    ASSERT_EQ(ZipWriter::Close(std::move(alone)), kZipOk);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path unlimited = dir_ / "unlimited.zip";
        auto handle = ZipWriter::Open(unlimited.wstring());
        ASSERT_TRUE(handle);
        ASSERT_EQ(handle->writer->AddFile(L"first.log", first_path.wstring()), kZipOk);
        ASSERT_EQ(handle->writer->AddFile(c.last, c.source.wstring()), kZipOk);
        ASSERT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);
        const std::uint64_t whole = fs::file_size(unlimited);

        // One after another, and as the program adds them, packed ahead on threads.
        const auto open = [](const fs::path& path) {
            return [path] {
                return ScopedHandle(CreateFileW(path.wstring().c_str(), GENERIC_READ,
                                                FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
            };
        };
        const std::vector<ZipSource> sources = {{L"first.log", open(first_path)},
                                                {c.last, open(c.source)}};
        for (const int threads : {-1, 2}) {
            SCOPED_TRACE(threads);
            handle = OpenZipWithLimits(archive_.wstring(), {whole - c.over, 0xFFFF});
            ASSERT_TRUE(handle);
            if (threads < 0) {
                EXPECT_EQ(handle->writer->AddFile(L"first.log", first_path.wstring()), kZipOk);
                EXPECT_EQ(handle->writer->AddFile(c.last, c.source.wstring()), c.result);
            } else {
                EXPECT_EQ(handle->writer->AddFiles(sources, static_cast<unsigned>(threads)),
                          (std::vector<std::uint32_t>{kZipOk, c.result}));
            }
            EXPECT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);
            EXPECT_LE(ArchiveSize(), whole - c.over);
            if (c.result == kZipOk) {
                EXPECT_TRUE(test_support::ReadFile(archive_) == test_support::ReadFile(unlimited));
            } else {
                EXPECT_TRUE(test_support::ReadFile(archive_) == test_support::ReadFile(first_only));
                ExpectArchiveReads(archive_, {{"first.log", first}});
            }
        }
    }
}

// The read budget, made small: once the bytes read from the sources reach it, the remaining
// sources are left out (kZipWriteFailed) and AddFiles opens none of them in its turn. A source
// that passes it is read only as far as the budget, and so is a sparse file claiming 4 GiB.
// AddFiles, also with entries packed ahead on threads, decides as AddFile does, to the byte.
TEST_F(ZipWriterLimitsTest, TheReadBudgetLeavesOutWhatComesOnceItIsSpent) {
    const std::string a = Text(30000, 5);
    const std::string b = Text(40000, 6);
    const fs::path a_path = Source("a.log", a);
    const fs::path b_path = Source("b.log", b);
    const fs::path c_path = Source("c.log", Text(1000, 7));
    const fs::path empty_path = Source("empty.log", "");
    const fs::path sparse_path = Sparse("sparse.log", 4 * kGiB - 2);
    const fs::path missing_path = dir_ / "src" / "missing.log";  // kZipNoFile, were it opened
    constexpr std::uint32_t kOk = kZipOk;
    constexpr std::uint32_t kOut = kZipWriteFailed;
    struct Case {
        const char* name;
        std::vector<fs::path> sources;
        std::uint64_t budget;
        std::vector<std::uint32_t> results;
        int opened;  // by AddFiles in turn: none after the one that spent the budget
    };
    const Case cases[] = {
        {"every byte within it", {a_path, empty_path, b_path}, 70000, {kOk, kOk, kOk}, 3},
        {"spent exactly, then even an empty one is out",
         {a_path, b_path, empty_path},
         70000,
         {kOk, kOk, kOut},
         2},
        {"one byte short", {a_path, b_path, missing_path}, 69999, {kOk, kOut, kOut}, 2},
        {"a sparse file read as far as the budget",
         {a_path, sparse_path, c_path},
         4 * kMiB,
         {kOk, kOut, kOut},
         2},
        {"the budget spent at the first",
         {b_path, a_path, empty_path},
         1000,
         {kOut, kOut, kOut},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ZipLimits limits{.read_bytes = c.budget};
        auto handle = OpenZipWithLimits(archive_.wstring(), limits);
        ASSERT_TRUE(handle);
        std::vector<std::uint32_t> results;
        for (const fs::path& source : c.sources) {
            results.push_back(
                handle->writer->AddFile(source.filename().wstring(), source.wstring()));
        }
        EXPECT_EQ(results, c.results);
        EXPECT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);
        const std::string one_by_one = test_support::ReadFile(archive_);

        std::atomic<int> opened{0};
        std::vector<ZipSource> sources;
        for (const fs::path& source : c.sources) {
            sources.push_back({source.filename().wstring(), [source, &opened] {
                                   ++opened;
                                   return ScopedHandle(CreateFileW(
                                       source.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
                               }});
        }
        for (const unsigned threads : {0u, 3u}) {
            SCOPED_TRACE(threads);
            opened = 0;
            handle = OpenZipWithLimits(archive_.wstring(), limits);
            ASSERT_TRUE(handle);
            EXPECT_EQ(handle->writer->AddFiles(sources, threads), c.results);
            EXPECT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);
            EXPECT_TRUE(test_support::ReadFile(archive_) == one_by_one);
            if (threads == 0) {
                EXPECT_EQ(opened, c.opened);
            }
        }
    }

    // Read no further than the budget and one read of the compressor's past it.
    const ScopedHandle sparse(CreateFileW(sparse_path.wstring().c_str(), GENERIC_READ,
                                          FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(sparse);
    auto handle = OpenZipWithLimits(archive_.wstring(), {.read_bytes = 4 * kMiB});
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->writer->AddFile(L"sparse.log", sparse.get()), kZipWriteFailed);
    const ScopedHandle a_source(CreateFileW(a_path.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                            nullptr));
    EXPECT_EQ(handle->writer->AddFile(L"a.log", a_source.get()), kZipWriteFailed);
    EXPECT_EQ(SetFilePointer(a_source.get(), 0, nullptr, FILE_CURRENT), 0u) << "left unread";
    EXPECT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);
    LONG high = 0;
    const DWORD low = SetFilePointer(sparse.get(), 0, &high, FILE_CURRENT);
    const std::uint64_t position = static_cast<std::uint64_t>(high) << 32 | low;
    EXPECT_GT(position, 4 * kMiB);
    EXPECT_LE(position, 4 * kMiB + 64 * 1024);
    EXPECT_EQ(ArchiveSize(), 22u) << "the end record alone";
}

// Workers claim sources only a few entries ahead of the writer, and open none once the budget
// is spent: of many sources after the one that spends it, only those already claimed are
// opened.
TEST_F(ZipWriterLimitsTest, WorkersOpenNoSourceOnceTheReadBudgetIsSpent) {
    const fs::path spender = Source("spender.log", Text(40000, 8));
    const fs::path small = Source("small.log", Text(2000, 9));
    std::atomic<int> opened{0};
    const auto open = [&opened](const fs::path& path) {
        return [path, &opened] {
            ++opened;
            return ScopedHandle(CreateFileW(path.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                            nullptr));
        };
    };
    std::vector<ZipSource> sources = {{L"spender.log", open(spender)}};
    for (int i = 0; i < 30; ++i) {
        sources.push_back({L"small" + std::to_wstring(i) + L".log", open(small)});
    }
    auto handle = OpenZipWithLimits(archive_.wstring(), {.read_bytes = 1000});
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->writer->AddFiles(sources, 1),
              std::vector<std::uint32_t>(sources.size(), kZipWriteFailed));
    EXPECT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);
    EXPECT_LE(opened, 1 + 4) << "the spender and the window of one worker at most";
}

}  // namespace
