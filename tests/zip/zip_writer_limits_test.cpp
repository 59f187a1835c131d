// The writer at the format's 32-bit limits: past 2 GiB every entry still lands where the
// central directory says, and an entry that would take the archive past 4 GiB (offsets, sizes,
// the central directory) or past 65535 entries is refused and left out of a whole archive.
// Sources are sparse files, so gigabytes cost no disk to read; the archives are real.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <platform/testing.h>

#include "archive_reading.h"
#include "temp_dir.h"
#include "zip_writer.h"

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
    struct Case {
        const char* name;
        const wchar_t* last;
        std::uint64_t over;  // bytes the limit lacks
        std::uint32_t result;
    };
    const Case cases[] = {
        {"stored, fits exactly", L"last.gz", 0, kZipOk},
        {"stored, one byte over", L"last.gz", 1, kZipWriteFailed},
        {"deflated, fits exactly", L"last.bin", 0, kZipOk},
        {"deflated, one byte over", L"last.bin", 1, kZipWriteFailed},
        {"deflated, outgrows it halfway", L"last.bin", 30000, kZipWriteFailed},
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
        ASSERT_EQ(handle->writer->AddFile(c.last, noise_path.wstring()), kZipOk);
        ASSERT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);
        const std::uint64_t whole = fs::file_size(unlimited);

        handle = OpenZipWithLimits(archive_.wstring(), {whole - c.over, 0xFFFF});
        ASSERT_TRUE(handle);
        EXPECT_EQ(handle->writer->AddFile(L"first.log", first_path.wstring()), kZipOk);
        EXPECT_EQ(handle->writer->AddFile(c.last, noise_path.wstring()), c.result);
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

}  // namespace
