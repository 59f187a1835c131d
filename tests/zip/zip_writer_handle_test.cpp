// The writer over a file that the caller created and keeps: the same archive as over a path,
// written from the file's start, the caller's handle left open; only an empty file is taken.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <platform/testing.h>

#include "tests/support/temp_dir.h"
#include "tests/zip/archive_reading.h"
#include "zip/zip_writer.h"

namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;

std::string Text(std::size_t size) {
    std::string text;
    for (int line = 0; text.size() < size; ++line) {
        text += "[03/04/21 10:15:17 250] [info] [42] [tallorin:report.cpp:" + std::to_string(line) +
                "][Send]: attachment\n";
    }
    text.resize(size);
    return text;
}

class ZipWriterHandleTest : public ::testing::Test {
protected:
    void SetUp() override { platform::testing::Reset(); }
    void TearDown() override {
        platform::testing::Reset();
        EXPECT_EQ(platform::testing::OpenHandleCount(), 0u);
    }

    // Its access time ahead of its last write, so reading it leaves the time alone and archives
    // of it compare byte for byte.
    fs::path Source(const std::string& name, const std::string& content) {
        const fs::path path = dir_ / name;
        test_support::WriteFile(path, content);
        const timespec times[2] = {{::time(nullptr) + 3600, 0}, {1614852917, 0}};
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        return path;
    }

    static ScopedHandle Create(const fs::path& path) {
        return ScopedHandle(CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    }

    // The caller's file read back through its own handle, from the start.
    static std::string ReadBack(HANDLE file) {
        EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
        std::string bytes;
        char chunk[4096];
        DWORD got = 0;
        while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
            bytes.append(chunk, got);
        }
        return bytes;
    }

    // The archive of these sources over a path, for comparison.
    std::string OverAPath(const std::vector<std::pair<std::wstring, fs::path>>& files) {
        const fs::path path = dir_ / "by-path.zip";
        auto handle = ZipWriter::Open(path.wstring());
        EXPECT_TRUE(handle);
        for (const auto& [name, source] : files) {
            EXPECT_EQ(handle->writer->AddFile(name, source.wstring()), kZipOk);
        }
        EXPECT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);
        return ReadFile(path);
    }

    test_support::TempDir dir_;
};

// Wherever the caller left the position of its empty file, the archive starts at its first
// byte and matches the archive written over a path; Close leaves the handle open and usable.
TEST_F(ZipWriterHandleTest, WritesTheArchiveOfAPathIntoTheCallersFileAndLeavesItOpen) {
    const std::string log = Text(90000);
    const std::vector<std::pair<std::wstring, fs::path>> files = {
        {L"app.log", Source("app.log", log)}, {L"old.gz", Source("old.gz", "already packed")}};
    const std::string expected = OverAPath(files);
    for (const LONG position : {0, 4096}) {
        SCOPED_TRACE(position);
        const fs::path path = dir_ / ("kept-" + std::to_string(position) + ".zip");
        const ScopedHandle file = Create(path);
        ASSERT_TRUE(file);
        ASSERT_EQ(SetFilePointer(file.get(), position, nullptr, FILE_BEGIN),
                  static_cast<DWORD>(position));
        auto handle = ZipWriter::Open(file.get());
        ASSERT_TRUE(handle);
        EXPECT_EQ(ZipLastResult(), kZipOk);
        EXPECT_EQ(handle->kind, kZipHandleArchive);
        for (const auto& [name, source] : files) {
            EXPECT_EQ(handle->writer->AddFile(name, source.wstring()), kZipOk);
        }
        EXPECT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);

        EXPECT_EQ(platform::testing::OpenHandleCount(), 1u) << "the caller's handle stays open";
        EXPECT_TRUE(ReadBack(file.get()) == expected);
        EXPECT_TRUE(ReadFile(path) == expected);
        zip_test::ExpectArchiveReads(path, {{"app.log", log}, {"old.gz", "already packed"}});
    }
}

// A handle that is no file, a folder, or a file that holds bytes already: no writer, and the
// file keeps its bytes.
TEST_F(ZipWriterHandleTest, TakesOnlyAnEmptyFile) {
    const fs::path full_path = Source("full.zip", "the caller's bytes");
    const ScopedHandle full(CreateFileW(full_path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                                        0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(full);
    const ScopedHandle folder(CreateFileW(dir_.path().wstring().c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(folder);
    struct Case {
        const char* name;
        HANDLE archive;
    };
    const Case cases[] = {
        {"invalid", INVALID_HANDLE_VALUE},
        {"null", nullptr},
        {"a folder", folder.get()},
        {"a file with bytes", full.get()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetZipLastResult(kZipOk);
        EXPECT_FALSE(ZipWriter::Open(c.archive));
        EXPECT_EQ(ZipLastResult(), kZipNoFile);
        EXPECT_FALSE(OpenZipWithLimits(c.archive, ZipLimits{}));
    }
    // Its size unknown.
    const ScopedHandle empty = Create(dir_ / "empty.zip");
    ASSERT_TRUE(empty);
    platform::testing::FailCall("GetFileInformationByHandle", ERROR_ACCESS_DENIED, 1);
    EXPECT_FALSE(ZipWriter::Open(empty.get()));
    EXPECT_EQ(ZipLastResult(), kZipNoFile);
    EXPECT_TRUE(ZipWriter::Open(empty.get()));

    EXPECT_EQ(ReadFile(full_path), "the caller's bytes");
    EXPECT_TRUE(fs::is_directory(dir_.path()));

    // A string literal still names a path.
    auto by_literal = ZipWriter::Open((dir_ / "literal.zip").wstring().c_str());
    ASSERT_TRUE(by_literal);
    EXPECT_EQ(ZipWriter::Close(std::move(by_literal)), kZipOk);
}

}  // namespace
