#include "tests/zip/archive_reading.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "tests/support/child_process.h"

namespace zip_test {
namespace {

std::uint32_t Le(const std::string& bytes, std::size_t at, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i)));
    }
    return value;
}

std::string ReadRange(const std::filesystem::path& file, std::uint64_t at, std::size_t count) {
    std::ifstream in(file, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(at));
    std::string bytes(count, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

void ExpectContent(zip_file_t* file, const ExpectedEntry& expected, std::string& chunk) {
    const std::uint64_t size = expected.zeros != 0 ? expected.zeros : expected.content.size();
    std::uint64_t at = 0;
    for (;;) {
        const zip_int64_t got = zip_fread(file, chunk.data(), chunk.size());
        ASSERT_GE(got, 0) << "read or CRC failure: "
                          << zip_error_strerror(zip_file_get_error(file));
        if (got == 0) {
            break;
        }
        const std::string_view piece(chunk.data(), static_cast<std::size_t>(got));
        if (expected.zeros != 0) {
            ASSERT_EQ(piece.find_first_not_of('\0'), std::string_view::npos) << "at " << at;
        } else {
            ASSERT_LE(at + piece.size(), size);
            ASSERT_EQ(piece, std::string_view(expected.content).substr(at, piece.size()));
        }
        at += piece.size();
    }
    EXPECT_EQ(at, size);
}

}  // namespace

void ExpectArchiveReads(const std::filesystem::path& archive,
                        const std::vector<ExpectedEntry>& entries,
                        const std::vector<std::string>& unzip_names) {
    int error = 0;
    const std::unique_ptr<zip_t, decltype(&zip_discard)> zip(
        zip_open(archive.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error), &zip_discard);
    ASSERT_TRUE(zip) << "libzip cannot open " << archive << ": error " << error;
    ASSERT_EQ(zip_get_num_entries(zip.get(), 0), static_cast<zip_int64_t>(entries.size()));
    std::string chunk(1 << 20, '\0');
    for (std::size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(entries[i].name);
        EXPECT_STREQ(zip_get_name(zip.get(), i, ZIP_FL_ENC_RAW), entries[i].name.c_str());
        const std::unique_ptr<zip_file_t, decltype(&zip_fclose)> file(
            zip_fopen_index(zip.get(), i, 0), &zip_fclose);
        ASSERT_TRUE(file);
        ExpectContent(file.get(), entries[i], chunk);
    }

    test_support::ChildOptions options;
    options.arguments = {"-t", archive.string()};
    options.arguments.insert(options.arguments.end(), unzip_names.begin(), unzip_names.end());
    const auto unzip = test_support::RunChild("/usr/bin/unzip", options);
    EXPECT_EQ(unzip.exit_code, 0) << unzip.output;
    EXPECT_NE(unzip.output.find("No errors detected"), std::string::npos) << unzip.output;
}

std::vector<std::uint64_t> LocalHeaderOffsets(const std::filesystem::path& archive) {
    const std::uint64_t size = std::filesystem::file_size(archive);
    const std::string end = ReadRange(archive, size - 22, 22);
    EXPECT_EQ(Le(end, 0, 4), 0x06054B50u);
    const std::uint32_t directory_size = Le(end, 12, 4);
    const std::string directory = ReadRange(archive, Le(end, 16, 4), directory_size);
    std::vector<std::uint64_t> offsets;
    for (std::size_t at = 0; at + 46 <= directory.size();) {
        EXPECT_EQ(Le(directory, at, 4), 0x02014B50u);
        offsets.push_back(Le(directory, at + 42, 4));
        at +=
            46 + Le(directory, at + 28, 2) + Le(directory, at + 30, 2) + Le(directory, at + 32, 2);
    }
    return offsets;
}

}  // namespace zip_test
