#include "zip/zip_writer.h"

#include <platform/testing.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::WriteFile;

constexpr std::int64_t kWriteTime = 1614852917;  // 2021-03-04 10:15:17 UTC
constexpr std::int64_t kAccessTime = 1614852000;
constexpr std::uint16_t kDosTime = (10 << 11) | (15 << 5) | 8;
constexpr std::uint16_t kDosDate = ((2021 - 1980) << 9) | (3 << 5) | 4;
constexpr std::uint32_t kPlainFileAttributes = 0x80000000 | 0x01000000 | 0x00800000 | 0x20;

std::uint32_t U16(const std::string& b, std::size_t at) {
    return static_cast<unsigned char>(b.at(at)) | static_cast<unsigned char>(b.at(at + 1)) << 8;
}
std::uint32_t U32(const std::string& b, std::size_t at) {
    return U16(b, at) | U16(b, at + 2) << 16;
}

std::uint32_t Crc(const std::string& data) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string Inflate(const std::string& stream, std::size_t size) {
    z_stream z{};
    inflateInit2(&z, -15);
    std::string out(size, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(z.avail_in, 0u);
    inflateEnd(&z);
    return out;
}

// The fields of a local header and its central header, read from the archive's bytes.
struct ParsedEntry {
    std::uint32_t local_offset;
    std::string name;
    std::uint32_t flags, method, time, date, crc, compressed, uncompressed;
    std::uint32_t external_attributes;
    std::string local_extra, central_extra, data;
};

struct ParsedArchive {
    std::vector<ParsedEntry> entries;
    std::uint32_t disk_entries, total_entries, directory_size, directory_offset;
};

// Checks every fixed field of the format on the way; the varying ones go to the result.
ParsedArchive Parse(const std::string& bytes) {
    ParsedArchive archive{};
    const std::size_t end = bytes.size() - 22;
    EXPECT_EQ(U32(bytes, end), 0x06054B50u);
    EXPECT_EQ(U16(bytes, end + 4), 0u);
    EXPECT_EQ(U16(bytes, end + 6), 0u);
    archive.disk_entries = U16(bytes, end + 8);
    archive.total_entries = U16(bytes, end + 10);
    archive.directory_size = U32(bytes, end + 12);
    archive.directory_offset = U32(bytes, end + 16);
    EXPECT_EQ(U16(bytes, end + 20), 0u);
    EXPECT_EQ(archive.directory_offset + archive.directory_size, end);

    std::size_t at = archive.directory_offset;
    std::size_t expected_local = 0;
    while (at < end) {
        ParsedEntry e{};
        EXPECT_EQ(U32(bytes, at), 0x02014B50u);
        EXPECT_EQ(U16(bytes, at + 4), 0x0B17u);
        EXPECT_EQ(U16(bytes, at + 6), 20u);
        e.flags = U16(bytes, at + 8);
        e.method = U16(bytes, at + 10);
        e.time = U16(bytes, at + 12);
        e.date = U16(bytes, at + 14);
        e.crc = U32(bytes, at + 16);
        e.compressed = U32(bytes, at + 20);
        e.uncompressed = U32(bytes, at + 24);
        const std::uint32_t name_length = U16(bytes, at + 28);
        EXPECT_EQ(U16(bytes, at + 30), 9u);
        EXPECT_EQ(U16(bytes, at + 32), 0u);  // comment
        EXPECT_EQ(U16(bytes, at + 34), 0u);  // disk
        EXPECT_EQ(U16(bytes, at + 36), 0u);  // internal attributes
        e.external_attributes = U32(bytes, at + 38);
        e.local_offset = U32(bytes, at + 42);
        e.name = bytes.substr(at + 46, name_length);
        e.central_extra = bytes.substr(at + 46 + name_length, 9);
        at += 46 + name_length + 9;

        // The local header repeats the central one exactly.
        const std::size_t l = e.local_offset;
        EXPECT_EQ(l, expected_local) << "entries follow each other";
        EXPECT_EQ(U32(bytes, l), 0x04034B50u);
        EXPECT_EQ(U16(bytes, l + 4), 20u);
        EXPECT_EQ(U16(bytes, l + 6), e.flags);
        EXPECT_EQ(U16(bytes, l + 8), e.method);
        EXPECT_EQ(U16(bytes, l + 10), e.time);
        EXPECT_EQ(U16(bytes, l + 12), e.date);
        EXPECT_EQ(U32(bytes, l + 14), e.crc);
        EXPECT_EQ(U32(bytes, l + 18), e.compressed);
        EXPECT_EQ(U32(bytes, l + 22), e.uncompressed);
        EXPECT_EQ(U16(bytes, l + 26), name_length);
        EXPECT_EQ(U16(bytes, l + 28), 17u);
        EXPECT_EQ(bytes.substr(l + 30, name_length), e.name);
        e.local_extra = bytes.substr(l + 30 + name_length, 17);
        e.data = bytes.substr(l + 30 + name_length + 17, e.compressed);
        expected_local = l + 30 + name_length + 17 + e.compressed;
        archive.entries.push_back(std::move(e));
    }
    EXPECT_EQ(expected_local, archive.directory_offset);
    return archive;
}

std::string Le32(std::uint32_t value) {
    std::string out;
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>(value >> (8 * i)));
    }
    return out;
}

class ZipWriterTest : public ::testing::Test {
protected:
    void SetUp() override { platform::testing::Reset(); }
    void TearDown() override {
        platform::testing::Reset();
        EXPECT_EQ(platform::testing::OpenHandleCount(), 0u);
    }

    fs::path Source(const std::string& name, const std::string& content) {
        const fs::path path = dir_ / "src" / name;
        fs::create_directories(path.parent_path());
        WriteFile(path, content);
        const timespec times[2] = {{kAccessTime, 0}, {kWriteTime, 0}};
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        return path;
    }

    // Open, AddFile for each, Close; the AddFile results in order.
    std::vector<std::uint32_t> Zip(const std::vector<std::pair<std::wstring, fs::path>>& files,
                                   std::uint32_t expected_close = kZipOk) {
        auto handle = ZipWriter::Open(archive_.wstring());
        EXPECT_TRUE(handle);
        std::vector<std::uint32_t> results;
        if (!handle) {
            return results;
        }
        EXPECT_EQ(handle->kind, kZipHandleArchive);
        for (const auto& [name, path] : files) {
            results.push_back(handle->writer->AddFile(name, path.wstring()));
        }
        EXPECT_EQ(ZipWriter::Close(std::move(handle)), expected_close);
        return results;
    }

    // libzip reads every entry back, and Info-ZIP's test passes.
    void ExpectReadersAgree(const std::vector<std::pair<std::string, std::string>>& expected) {
        int error = 0;
        zip_t* const archive = zip_open(archive_.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
        ASSERT_NE(archive, nullptr) << error;
        ASSERT_EQ(zip_get_num_entries(archive, 0), static_cast<zip_int64_t>(expected.size()));
        for (std::size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE(expected[i].first);
            EXPECT_STREQ(zip_get_name(archive, i, 0), expected[i].first.c_str());
            zip_file_t* const file = zip_fopen_index(archive, i, 0);
            ASSERT_NE(file, nullptr);
            std::string content(expected[i].second.size() + 1, '\0');
            const zip_int64_t got = zip_fread(file, content.data(), content.size());
            content.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
            EXPECT_TRUE(content == expected[i].second);
            zip_fclose(file);
        }
        zip_close(archive);
        test_support::ChildOptions options;
        options.arguments = {"-t", archive_.string()};
        const auto unzip = test_support::RunChild("/usr/bin/unzip", options);
        EXPECT_EQ(unzip.exit_code, 0) << unzip.output;
        EXPECT_NE(unzip.output.find("No errors detected"), std::string::npos) << unzip.output;
    }

    test_support::TempDir dir_;
    fs::path archive_ = dir_ / "crash" / "U-1.zip";
};

std::string Text(std::size_t size) {
    std::string text;
    for (int line = 0; text.size() < size; ++line) {
        text += "[03/04/21 10:15:17 250] [debug] [42] [tallorin:main.cpp:" + std::to_string(line) +
                "][wWinMain]: started\n";
    }
    text.resize(size);
    return text;
}

TEST_F(ZipWriterTest, WritesEveryFieldOfADeflatedAndAStoredEntry) {
    fs::create_directories(archive_.parent_path());
    const std::string log = Text(50000);
    const std::string packed = "PK\x03\x04 already packed bytes";
    const auto results =
        Zip({{L"app.log", Source("app.log", log)}, {L"crash.ZIP", Source("crash.ZIP", packed)}});
    EXPECT_EQ(results, (std::vector<std::uint32_t>{kZipOk, kZipOk}));
    EXPECT_EQ(ZipLastResult(), kZipOk);

    const std::string bytes = ReadFile(archive_);
    const ParsedArchive archive = Parse(bytes);
    ASSERT_EQ(archive.entries.size(), 2u);
    EXPECT_EQ(archive.disk_entries, 2u);
    EXPECT_EQ(archive.total_entries, 2u);
    EXPECT_EQ(archive.directory_size, 2 * 46 + 7 + 9 + 9 + 9u);

    const ParsedEntry& deflated = archive.entries[0];
    EXPECT_EQ(deflated.name, "app.log");
    EXPECT_EQ(deflated.flags, 2u);
    EXPECT_EQ(deflated.method, 8u);
    EXPECT_EQ(deflated.time, kDosTime);
    EXPECT_EQ(deflated.date, kDosDate);
    EXPECT_EQ(deflated.crc, Crc(log));
    EXPECT_EQ(deflated.uncompressed, log.size());
    EXPECT_LT(deflated.compressed, log.size() / 4);
    EXPECT_EQ(Inflate(deflated.data, log.size()), log);
    EXPECT_EQ(deflated.external_attributes, kPlainFileAttributes);
    EXPECT_EQ(deflated.local_extra.substr(0, 5), std::string("UT\x0D\x00\x07", 5));
    EXPECT_EQ(deflated.local_extra.substr(5, 8), Le32(kWriteTime) + Le32(kAccessTime));
    EXPECT_EQ(deflated.central_extra, std::string("UT\x05\x00\x07", 5) + Le32(kWriteTime));

    const ParsedEntry& stored = archive.entries[1];
    EXPECT_EQ(stored.name, "crash.ZIP");
    EXPECT_EQ(stored.flags, 0u);
    EXPECT_EQ(stored.method, 0u);
    EXPECT_EQ(stored.crc, Crc(packed));
    EXPECT_EQ(stored.compressed, packed.size());
    EXPECT_EQ(stored.uncompressed, packed.size());
    EXPECT_EQ(stored.data, packed);
    EXPECT_EQ(stored.local_offset, 30 + 7 + 17 + deflated.compressed);
    EXPECT_EQ(stored.central_extra, deflated.central_extra);

    ExpectReadersAgree({{"app.log", log}, {"crash.ZIP", packed}});
}

TEST_F(ZipWriterTest, EntriesKeepTheOrderOfAddingAndReadBack) {
    fs::create_directories(archive_.parent_path());
    std::mt19937 random(9);
    std::string noise(300000, '\0');
    for (auto& c : noise) {
        c = static_cast<char>(random());
    }
    const std::string big = Text(3 << 20);
    // Ends between the compressor's slide point and the end of its window.
    const std::string tail = Text(65400);
    const auto results = Zip({{L"b.txt", Source("b.txt", big)},
                              {L"empty.log", Source("empty.log", "")},
                              {L"noise.bin", Source("noise.bin", noise)},
                              {L"tail.log", Source("tail.log", tail)}});
    EXPECT_EQ(results, (std::vector<std::uint32_t>(4, kZipOk)));
    const ParsedArchive archive = Parse(ReadFile(archive_));
    ASSERT_EQ(archive.entries.size(), 4u);
    EXPECT_EQ(archive.disk_entries, 4u);
    EXPECT_EQ(archive.total_entries, 4u);
    EXPECT_EQ(archive.entries[0].name, "b.txt");
    EXPECT_EQ(archive.entries[1].name, "empty.log");
    EXPECT_EQ(archive.entries[2].name, "noise.bin");
    EXPECT_EQ(archive.entries[3].name, "tail.log");
    // An empty source is one final fixed-code block with only its end code.
    EXPECT_EQ(archive.entries[1].data, std::string("\x03\x00", 2));
    EXPECT_EQ(archive.entries[1].crc, 0u);
    EXPECT_EQ(archive.entries[1].uncompressed, 0u);
    EXPECT_EQ(archive.entries[1].method, 8u);
    ExpectReadersAgree(
        {{"b.txt", big}, {"empty.log", ""}, {"noise.bin", noise}, {"tail.log", tail}});
}

TEST_F(ZipWriterTest, ChoosesStoredByExtensionAndSlashesNames) {
    fs::create_directories(archive_.parent_path());
    struct Case {
        const wchar_t* name;
        const char* stored_name;
        std::uint32_t method;
    };
    const Case cases[] = {
        {L"crash.ZIP", "crash.ZIP", 0}, {L"a.Z", "a.Z", 0},
        {L"b.zoo", "b.zoo", 0},         {L"c.ARC", "c.ARC", 0},
        {L"d.lzh", "d.lzh", 0},         {L"e.arj", "e.arj", 0},
        {L"f.gz", "f.gz", 0},           {L"g.TGZ", "g.TGZ", 0},
        {L"x.zip.log", "x.zip.log", 8}, {L"a.zip\\b", "a.zip/b", 8},
        {L"noext", "noext", 8},         {L"h.z", "h.z", 0},
        {L"i.zipx", "i.zipx", 8},       {L"d\u00e9j\u00e0.log", "d\xc3\xa9j\xc3\xa0.log", 8},
    };
    const fs::path source = Source("content", "content content content");
    std::vector<std::pair<std::wstring, fs::path>> files;
    for (const auto& c : cases) {
        files.emplace_back(c.name, source);
    }
    EXPECT_EQ(Zip(files), std::vector<std::uint32_t>(std::size(cases), kZipOk));
    const ParsedArchive archive = Parse(ReadFile(archive_));
    ASSERT_EQ(archive.entries.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].stored_name);
        EXPECT_EQ(archive.entries[i].name, cases[i].stored_name);
        EXPECT_EQ(archive.entries[i].method, cases[i].method);
        EXPECT_EQ(archive.entries[i].flags, cases[i].method == 8 ? 2u : 0u);
    }
}

TEST_F(ZipWriterTest, ExternalAttributesFollowTheSource) {
    fs::create_directories(archive_.parent_path());
    std::string pe(0x80, '\0');
    pe[0] = 'M';
    pe[1] = 'Z';
    pe[0x3C] = 0x40;
    pe.replace(0x40, 4, std::string("PE\0\0", 4));
    std::string ne = pe;
    ne.replace(0x40, 4, "NE\x05\x01");
    std::string not_pe = pe;
    not_pe.replace(0x40, 4, "XX\0\0");
    std::string far_offset = pe;
    far_offset[0x3F] = 0x7F;  // points far past the end
    struct Case {
        const char* name;
        std::string content;
        mode_t mode;
        std::uint32_t attributes;
    };
    const Case cases[] = {
        {"plain.txt", "text", 0644, kPlainFileAttributes},
        {"locked.txt", "text", 0444, 0x80000000 | 0x01000000 | 0x20 | 0x01},
        {".hidden", "text", 0644, kPlainFileAttributes | 0x02},
        {"tool.exe", pe, 0644, kPlainFileAttributes | 0x00400000},
        {"old.exe", ne, 0644, kPlainFileAttributes | 0x00400000},
        {"fake.exe", not_pe, 0644, kPlainFileAttributes},
        {"far.exe", far_offset, 0644, kPlainFileAttributes},
        {"short.exe", "MZ", 0644, kPlainFileAttributes},
    };
    std::vector<std::pair<std::wstring, fs::path>> files;
    for (const auto& c : cases) {
        const fs::path path = Source(c.name, c.content);
        ::chmod(path.c_str(), c.mode);
        files.emplace_back(fs::path(c.name).wstring(), path);
    }
    EXPECT_EQ(Zip(files), std::vector<std::uint32_t>(std::size(cases), kZipOk));
    const ParsedArchive archive = Parse(ReadFile(archive_));
    ASSERT_EQ(archive.entries.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(archive.entries[i].external_attributes, cases[i].attributes);
        // Reading the signature must not disturb the data.
        EXPECT_EQ(archive.entries[i].crc, Crc(cases[i].content));
    }
}

TEST_F(ZipWriterTest, ResultCodesOfTheCalls) {
    fs::create_directories(archive_.parent_path());
    const fs::path good = Source("good.log", "good");
    const fs::path written_elsewhere = Source("busy.log", "busy");
    const fs::path log_file = dir_ / "src" / "own.log";
    auto sink =
        std::make_shared<spdlog::sinks::rotating_file_sink_mt>(log_file.string(), 1 << 20, 0, true);
    spdlog::logger logger("zip_writer_test", sink);
    logger.info("the running program's own log");
    logger.flush();

    const HANDLE writer = CreateFileW(written_elsewhere.wstring().c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    std::wstring long_name(260, L'n');

    auto handle = ZipWriter::Open(archive_.wstring());
    ASSERT_TRUE(handle);
    ZipWriter& zip = *handle->writer;
    EXPECT_EQ(zip.AddFile(L"", good.wstring()), kZipBadArgument);
    EXPECT_EQ(zip.AddFile(L"good.log", L""), kZipBadArgument);
    EXPECT_EQ(zip.AddFile(long_name, good.wstring()), kZipBadArgument);
    EXPECT_EQ(zip.AddFile(long_name.substr(1), good.wstring()), kZipOk);
    EXPECT_EQ(zip.AddFile(L"missing.log", (dir_ / "src" / "missing.log").wstring()), kZipNoFile);
    EXPECT_EQ(zip.AddFile(L"busy.log", written_elsewhere.wstring()), kZipNoFile);
    EXPECT_EQ(zip.AddFile(L"own.log", log_file.wstring()), kZipNoFile);
    // The next write is the header of this entry: it fails, and the archive goes on after it.
    platform::testing::FailCall("WriteFile", ERROR_DISK_FULL, 1);
    EXPECT_EQ(zip.AddFile(L"lost.log", good.wstring()), kZipWriteFailed);
    EXPECT_EQ(zip.AddFile(L"good.log", good.wstring()), kZipOk);
    EXPECT_EQ(zip.Finish(), kZipOk);
    EXPECT_EQ(zip.AddFile(L"late.log", good.wstring()), kZipEnded);
    EXPECT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);  // already finished
    CloseHandle(writer);

    ExpectReadersAgree({{std::string(259, 'n'), "good"}, {"good.log", "good"}});

    EXPECT_EQ(ZipWriter::Close(std::make_unique<ZipHandle>()), kZipWrongHandle);
    EXPECT_EQ(ZipWriter::Close(nullptr), kZipWrongHandle);
    auto no_writer = std::make_unique<ZipHandle>();
    no_writer->kind = kZipHandleArchive;
    EXPECT_EQ(ZipWriter::Close(std::move(no_writer)), kZipWrongHandle);
    // A writer under a handle of another kind is not finished.
    auto other_kind = ZipWriter::Open(archive_.wstring());
    ASSERT_TRUE(other_kind);
    other_kind->kind = 0;
    EXPECT_EQ(ZipWriter::Close(std::move(other_kind)), kZipWrongHandle);
    EXPECT_EQ(fs::file_size(archive_), 0u) << "no end record";
    EXPECT_FALSE(ZipWriter::Open((dir_ / "no" / "folder.zip").wstring()));
    EXPECT_EQ(ZipLastResult(), kZipNoFile);
    EXPECT_TRUE(ZipWriter::Open(archive_.wstring()));
    EXPECT_EQ(ZipLastResult(), kZipOk);
}

TEST_F(ZipWriterTest, AFullDiskFailsTheEntryAndTheDirectory) {
    fs::create_directories(archive_.parent_path());
    const std::string log = Text(200000);
    const fs::path source = Source("app.log", log);
    const fs::path stored = Source("old.zip", log);
    struct Case {
        const char* name;
        std::uint64_t limit;  // bytes the disk takes after the first entry
        std::uint32_t second_result;
        std::uint32_t close_result;
    };
    const Case cases[] = {
        {"header's name", 32, kZipWriteFailed, kZipWriteFailed},
        {"deflated data", 2000, kZipWriteFailed, kZipWriteFailed},
        {"stored data", 20000, kZipWriteFailed, kZipWriteFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto handle = ZipWriter::Open(archive_.wstring());
        ASSERT_TRUE(handle);
        EXPECT_EQ(handle->writer->AddFile(L"first.log", source.wstring()), kZipOk);
        platform::testing::SetWriteLimit(c.limit);
        const fs::path& second = std::string(c.name) == "stored data" ? stored : source;
        EXPECT_EQ(handle->writer->AddFile(fs::path(second).filename().wstring(), second.wstring()),
                  c.second_result);
        EXPECT_EQ(ZipWriter::Close(std::move(handle)), c.close_result);
        platform::testing::SetWriteLimit(std::nullopt);
    }
}

// An entry that fails once some of its bytes reached the file is cut off it: the next entry
// starts where the failed one began, so the archive holds nothing but its listed entries, one
// after another from its first byte (Parse checks that), and readers read them all.
TEST_F(ZipWriterTest, AFailedEntryIsCutOffTheFile) {
    fs::create_directories(archive_.parent_path());
    const std::string log = Text(200000);
    const std::string packed = Text(40000);
    const fs::path first = Source("first.log", log);
    const fs::path deflated = Source("second.log", log);
    const fs::path stored = Source("old.zip", packed);
    const fs::path third = Source("third.log", "the third");
    const std::uint64_t stored_header = 30 + 7 + 17;
    struct Case {
        const char* name;
        fs::path second;
        std::optional<std::uint64_t> limit;  // bytes the disk takes while the second is added
        int failed_reads;  // the facts' probe for an executable, then the data's first read
    };
    const Case cases[] = {
        {"local header", deflated, 32, 0},
        {"deflated data", deflated, 2000, 0},
        {"stored data", stored, stored_header + 20000, 0},
        {"rewritten header", stored, stored_header + packed.size() + 10, 0},
        {"deflated read", deflated, std::nullopt, 2},
        {"stored read", stored, std::nullopt, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto handle = ZipWriter::Open(archive_.wstring());
        ASSERT_TRUE(handle);
        EXPECT_EQ(handle->writer->AddFile(L"first.log", first.wstring()), kZipOk);
        const std::uint64_t before = fs::file_size(archive_);
        platform::testing::SetWriteLimit(c.limit);
        if (c.failed_reads != 0) {
            platform::testing::FailCall("ReadFile", ERROR_INVALID_FUNCTION, c.failed_reads);
        }
        EXPECT_EQ(handle->writer->AddFile(c.second.filename().wstring(), c.second.wstring()),
                  kZipWriteFailed);
        platform::testing::SetWriteLimit(std::nullopt);
        EXPECT_EQ(fs::file_size(archive_), before);
        EXPECT_EQ(handle->writer->AddFile(L"third.log", third.wstring()), kZipOk);
        EXPECT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);
        const ParsedArchive archive = Parse(ReadFile(archive_));
        ASSERT_EQ(archive.entries.size(), 2u);
        EXPECT_EQ(archive.entries[1].local_offset, before);
        ExpectReadersAgree({{"first.log", log}, {"third.log", "the third"}});
    }
}

// An entry whose local header cannot be found again for its final fields is cut off too.
TEST_F(ZipWriterTest, AnEntryWhoseHeaderCannotBeRewrittenIsCutOff) {
    fs::create_directories(archive_.parent_path());
    const std::string log = Text(20000);
    const fs::path first = Source("first.log", log);
    auto handle = ZipWriter::Open(archive_.wstring());
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->writer->AddFile(L"first.log", first.wstring()), kZipOk);
    const std::uint64_t before = fs::file_size(archive_);
    // The source is rewound twice for its facts; the third move goes back to the header.
    platform::testing::FailCall("SetFilePointer", ERROR_INVALID_FUNCTION, 1, 2);
    EXPECT_EQ(handle->writer->AddFile(L"second.log", first.wstring()), kZipWriteFailed);
    EXPECT_EQ(fs::file_size(archive_), before);
    EXPECT_EQ(handle->writer->AddFile(L"third.log", first.wstring()), kZipOk);
    EXPECT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);
    ExpectReadersAgree({{"first.log", log}, {"third.log", log}});
}

// Entries packed ahead and written whole are cut off the same way.
TEST_F(ZipWriterTest, AFailedEntryPackedAheadIsCutOffTheFile) {
    fs::create_directories(archive_.parent_path());
    const std::string log = Text(200000);
    const fs::path first = Source("first.log", log);
    const auto open = [](const fs::path& path) {
        return [path] {
            return ScopedHandle(CreateFileW(path.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                            nullptr));
        };
    };
    const std::vector<ZipSource> sources = {{L"second.log", open(Source("second.log", log))},
                                            {L"third.log", open(Source("third.log", log))}};
    auto handle = ZipWriter::Open(archive_.wstring());
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->writer->AddFile(L"first.log", first.wstring()), kZipOk);
    const std::uint64_t before = fs::file_size(archive_);
    platform::testing::SetWriteLimit(2000);  // the second's header and part of its data
    EXPECT_EQ(handle->writer->AddFiles(sources, 2),
              (std::vector<std::uint32_t>{kZipWriteFailed, kZipWriteFailed}));
    platform::testing::SetWriteLimit(std::nullopt);
    EXPECT_EQ(fs::file_size(archive_), before);
    EXPECT_EQ(handle->writer->AddFile(L"fourth.log", first.wstring()), kZipOk);
    EXPECT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);
    const ParsedArchive archive = Parse(ReadFile(archive_));
    ASSERT_EQ(archive.entries.size(), 2u);
    EXPECT_EQ(archive.entries[1].local_offset, before);
    ExpectReadersAgree({{"first.log", log}, {"fourth.log", log}});
}

// When a failed entry cannot be cut off, the file holds bytes that nothing lists: every later
// entry and the central directory fail, whichever way they come.
TEST_F(ZipWriterTest, AFailedCutEndsTheArchive) {
    fs::create_directories(archive_.parent_path());
    const fs::path log = Source("app.log", Text(200000));
    const std::vector<ZipSource> sources = {
        {L"a.log",
         [log] {
             return ScopedHandle(CreateFileW(log.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                             nullptr));
         }},
        {L"b.log", {}}};
    auto handle = ZipWriter::Open(archive_.wstring());
    ASSERT_TRUE(handle);
    ZipWriter& zip = *handle->writer;
    EXPECT_EQ(zip.AddFile(L"first.log", log.wstring()), kZipOk);
    platform::testing::SetWriteLimit(2000);
    platform::testing::FailCall("SetEndOfFile", ERROR_ACCESS_DENIED, 1);
    EXPECT_EQ(zip.AddFile(L"second.log", log.wstring()), kZipWriteFailed);
    platform::testing::SetWriteLimit(std::nullopt);
    EXPECT_EQ(zip.AddFile(L"third.log", log.wstring()), kZipWriteFailed);
    EXPECT_EQ(zip.AddFiles(sources, 2), (std::vector<std::uint32_t>{kZipWriteFailed, kZipNoFile}));
    EXPECT_EQ(ZipWriter::Close(std::move(handle)), kZipWriteFailed);
}

// From a source that the caller opened and keeps: the same entry as from its path, read from
// the source's start wherever it stood, and the source left open.
TEST_F(ZipWriterTest, AddsFromAnOpenSourceAsFromItsPath) {
    fs::create_directories(archive_.parent_path());
    const std::string log = Text(50000);
    const fs::path app = Source("app.log", log);
    const fs::path packed = Source("old.zip", "PK\x03\x04 already packed bytes");
    ASSERT_EQ(Zip({{L"app.log", app}, {L"old.zip", packed}}),
              (std::vector<std::uint32_t>{kZipOk, kZipOk}));
    const std::string by_path = ReadFile(archive_);
    // Reading moved their access times.
    const timespec times[2] = {{kAccessTime, 0}, {kWriteTime, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, app.c_str(), times, 0), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, packed.c_str(), times, 0), 0);

    const auto open = [](const fs::path& path) {
        return ScopedHandle(CreateFileW(path.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    const ScopedHandle app_source = open(app);
    const ScopedHandle packed_source = open(packed);
    ASSERT_TRUE(app_source && packed_source);
    ASSERT_NE(SetFilePointer(app_source.get(), 1000, nullptr, FILE_BEGIN),
              INVALID_SET_FILE_POINTER);

    auto handle = ZipWriter::Open(archive_.wstring());
    ASSERT_TRUE(handle);
    ZipWriter& zip = *handle->writer;
    EXPECT_EQ(zip.AddFile(L"app.log", app_source.get()), kZipOk);
    EXPECT_EQ(zip.AddFile(L"none.log", INVALID_HANDLE_VALUE), kZipBadArgument);
    EXPECT_EQ(zip.AddFile(L"none.log", HANDLE{}), kZipBadArgument);
    EXPECT_EQ(zip.AddFile(L"", packed_source.get()), kZipBadArgument);
    // Cut at the zero, the path would name another file.
    EXPECT_EQ(zip.AddFile(L"cut.log", app.wstring() + L'\0' + L".old"), kZipBadArgument);
    // Its start cannot be found: nothing of it is written.
    platform::testing::FailCall("SetFilePointer", ERROR_INVALID_FUNCTION, 1);
    EXPECT_EQ(zip.AddFile(L"unmoved.zip", packed_source.get()), kZipNoFile);
    EXPECT_EQ(zip.AddFile(L"old.zip", packed_source.get()), kZipOk);
    EXPECT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);
    EXPECT_TRUE(ReadFile(archive_) == by_path);

    // Both sources are still open and readable.
    char byte = 0;
    DWORD got = 0;
    ASSERT_NE(SetFilePointer(app_source.get(), 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_TRUE(::ReadFile(app_source.get(), &byte, 1, &got, nullptr));
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(byte, log[0]);
    EXPECT_TRUE(::ReadFile(packed_source.get(), &byte, 1, &got, nullptr));

    EXPECT_FALSE(ZipWriter::Open(archive_.wstring() + L'\0' + L".old"));
    EXPECT_EQ(ZipLastResult(), kZipNoFile);
    handle = ZipWriter::Open(archive_.wstring());
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->writer->Finish(), kZipOk);
    EXPECT_EQ(handle->writer->AddFile(L"late.log", app_source.get()), kZipEnded);
    EXPECT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);
}

// The archive with every local header's third time zeroed: the sources' status-change times,
// which each reset of their other times moves.
std::string WithoutStatusChangeTimes(std::string bytes) {
    for (const ParsedEntry& entry : Parse(bytes).entries) {
        const std::size_t at = entry.local_offset + 30 + entry.name.size() + 13;
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), 4, '\0');
    }
    return bytes;
}

// Entries packed ahead on worker threads land as AddFile writes them one after another: the
// same results and the same bytes, whatever the number of threads, with small and large,
// stored and deflated, empty, missing, busy and misnamed sources mixed.
TEST_F(ZipWriterTest, AddFilesGivesTheBytesOfAddFileOnAnyNumberOfThreads) {
    fs::create_directories(archive_.parent_path());
    std::vector<std::pair<std::wstring, fs::path>> files;
    std::mt19937 random(7);
    for (int index = 0; index < 40; ++index) {
        const std::string name = "service_" + std::to_string(index) + ".log";
        files.emplace_back(std::wstring(name.begin(), name.end()),
                           Source(name, Text(random() % 70000)));
    }
    files.insert(files.begin() + 3, {L"empty.log", Source("empty.log", "")});
    files.insert(files.begin() + 5, {L"old.zip", Source("old.zip", Text(30000))});
    // Larger than what is packed ahead: read in its turn.
    files.insert(files.begin() + 9, {L"large.log", Source("large.log", Text(3 << 20))});
    files.insert(files.begin() + 11, {L"missing.log", dir_ / "src" / "missing.log"});
    files.insert(files.begin() + 13, {L"", files[0].second});
    files.insert(files.begin() + 17, {std::wstring(260, L'n'), files[1].second});
    files.insert(files.begin() + 19, {L"busy.log", Source("busy.log", "written elsewhere")});
    const ScopedHandle busy(CreateFileW(files[19].second.wstring().c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(busy);
    const auto reset_times = [&] {  // reading moves the access times the entries record
        const timespec times[2] = {{kAccessTime, 0}, {kWriteTime, 0}};
        for (const auto& file : files) {
            ::utimensat(AT_FDCWD, file.second.c_str(), times, 0);
        }
    };

    const std::vector<std::uint32_t> one_by_one = Zip(files);
    const std::string expected = WithoutStatusChangeTimes(ReadFile(archive_));
    EXPECT_EQ(one_by_one[3], kZipOk);
    EXPECT_EQ(one_by_one[11], kZipNoFile);
    EXPECT_EQ(one_by_one[13], kZipBadArgument);
    EXPECT_EQ(one_by_one[17], kZipBadArgument);
    EXPECT_EQ(one_by_one[19], kZipNoFile);

    std::vector<ZipSource> sources;
    for (const auto& [name, path] : files) {
        sources.push_back({name, [path] {
                               return ScopedHandle(CreateFileW(
                                   path.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
                           }});
    }
    for (const unsigned threads : {0u, 1u, 3u, 8u}) {
        SCOPED_TRACE(threads);
        reset_times();
        auto handle = ZipWriter::Open(archive_.wstring());
        ASSERT_TRUE(handle);
        EXPECT_EQ(handle->writer->AddFiles(sources, threads), one_by_one);
        EXPECT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);
        EXPECT_TRUE(WithoutStatusChangeTimes(ReadFile(archive_)) == expected);
    }
}

// What an open throws on a worker reaches the caller as if thrown in its turn; the entries
// before it are kept and the archive can still be finished.
TEST_F(ZipWriterTest, AddFilesPassesOnWhatAnOpenThrows) {
    fs::create_directories(archive_.parent_path());
    const fs::path log = Source("app.log", Text(5000));
    const auto open_log = [log] {
        return ScopedHandle(CreateFileW(log.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    const std::vector<ZipSource> sources = {
        {L"first.log", open_log},
        {L"second.log", open_log},
        {L"thrower.log", []() -> ScopedHandle { throw std::runtime_error("no folder"); }},
        {L"never.log", open_log},
    };
    auto handle = ZipWriter::Open(archive_.wstring());
    ASSERT_TRUE(handle);
    EXPECT_THROW(handle->writer->AddFiles(sources, 4), std::runtime_error);
    EXPECT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);
    ExpectReadersAgree({{"first.log", Text(5000)}, {"second.log", Text(5000)}});
}

// However many threads are asked for, at most 8 workers open sources at once, however long
// an open blocks: each open waits a while for a ninth to join it.
TEST_F(ZipWriterTest, AddFilesOpensAtMostEightSourcesAtOnce) {
    fs::create_directories(archive_.parent_path());
    const fs::path log = Source("app.log", Text(3000));
    std::mutex mutex;
    std::condition_variable changed;
    int in_flight = 0;
    int most = 0;
    const auto open = [&] {
        {
            std::unique_lock lock(mutex);
            most = std::max(most, ++in_flight);
            changed.notify_all();
            changed.wait_for(lock, std::chrono::milliseconds(200), [&] { return in_flight > 8; });
            --in_flight;
        }
        return ScopedHandle(CreateFileW(log.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    std::vector<ZipSource> sources;
    for (int i = 0; i < 24; ++i) {
        sources.push_back({L"app" + std::to_wstring(i) + L".log", open});
    }
    auto handle = ZipWriter::Open(archive_.wstring());
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->writer->AddFiles(sources, 64), std::vector<std::uint32_t>(24, kZipOk));
    EXPECT_EQ(ZipWriter::Close(std::move(handle)), kZipOk);
    EXPECT_LE(most, 8);
    EXPECT_GE(most, 2) << "packed ahead on threads";
}

}  // namespace
