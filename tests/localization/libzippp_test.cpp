// The zip reader over archives built byte by byte, so that an entry can declare what its data
// is not.
#include "internal_libraries/localization/src/libzippp.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Entry {
    std::string name;
    std::string data;  // uncompressed
    bool deflate = false;
    std::uint64_t declared_size = 0;  // what the headers say the data inflates to
    std::uint32_t crc = 0;
};

// An entry of `data` that declares what it holds.
Entry Honest(std::string name, std::string data, bool deflate = false) {
    const auto size = data.size();
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    return {std::move(name), std::move(data), deflate, size, crc};
}

std::string RawDeflate(const std::string& data) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY),
              Z_OK);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

class Bytes {
public:
    void U16(std::uint64_t value) {
        text_ += static_cast<char>(value & 0xFF);
        text_ += static_cast<char>((value >> 8) & 0xFF);
    }
    void U32(std::uint64_t value) {
        U16(value & 0xFFFF);
        U16((value >> 16) & 0xFFFF);
    }
    void U64(std::uint64_t value) {
        U32(value & 0xFFFFFFFF);
        U32(value >> 32);
    }
    void Text(const std::string& text) { text_ += text; }
    std::size_t Size() const { return text_.size(); }
    const std::string& Get() const { return text_; }

private:
    std::string text_;
};

// A zip of `entries`; a declared size past 32 bits goes into a zip64 extra field, as a
// writer of large entries puts it.
std::string Zip(const std::vector<Entry>& entries) {
    constexpr std::uint64_t kInZip64 = 0xFFFFFFFF;
    Bytes out;
    std::vector<std::string> stored;
    std::vector<std::uint64_t> offsets;
    for (const auto& entry : entries) {
        const std::string data = entry.deflate ? RawDeflate(entry.data) : entry.data;
        const bool zip64 = entry.declared_size >= kInZip64;
        stored.push_back(data);
        offsets.push_back(out.Size());
        out.U32(0x04034b50);
        out.U16(zip64 ? 45 : 20);
        out.U16(0);
        out.U16(entry.deflate ? 8 : 0);
        out.U32(0);  // time and date
        out.U32(entry.crc);
        out.U32(zip64 ? kInZip64 : data.size());
        out.U32(zip64 ? kInZip64 : entry.declared_size);
        out.U16(entry.name.size());
        out.U16(zip64 ? 20 : 0);
        out.Text(entry.name);
        if (zip64) {
            out.U16(0x0001);
            out.U16(16);
            out.U64(entry.declared_size);
            out.U64(data.size());
        }
        out.Text(data);
    }
    const std::size_t directory = out.Size();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& entry = entries[i];
        const bool zip64 = entry.declared_size >= kInZip64;
        out.U32(0x02014b50);
        out.U16(zip64 ? 45 : 20);
        out.U16(zip64 ? 45 : 20);
        out.U16(0);
        out.U16(entry.deflate ? 8 : 0);
        out.U32(0);
        out.U32(entry.crc);
        out.U32(stored[i].size());
        out.U32(zip64 ? kInZip64 : entry.declared_size);
        out.U16(entry.name.size());
        out.U16(zip64 ? 12 : 0);
        out.U16(0);  // comment
        out.U16(0);  // disk
        out.U16(0);  // internal attributes
        out.U32(0);  // external attributes
        out.U32(offsets[i]);
        out.Text(entry.name);
        if (zip64) {
            out.U16(0x0001);
            out.U16(8);
            out.U64(entry.declared_size);
        }
    }
    const std::size_t directory_size = out.Size() - directory;
    out.U32(0x06054b50);
    out.U32(0);  // disks
    out.U16(entries.size());
    out.U16(entries.size());
    out.U32(directory_size);
    out.U32(directory);
    out.U16(0);
    return out.Get();
}

// An archive over its own copy of the bytes, and what it hands back for each entry.
struct Read {
    std::string zip;
    std::unique_ptr<libzippp::ZipArchive> archive;
    std::vector<libzippp::ZipEntry> entries;

    explicit Read(std::string bytes)
        : zip(std::move(bytes)),
          archive(libzippp::ZipArchive::fromBuffer(zip.data(),
                                                   static_cast<std::uint32_t>(zip.size()))) {
        EXPECT_TRUE(archive);
        if (archive) {
            entries = archive->getEntries();
        }
    }

    std::optional<std::string> Entry(std::size_t index, std::uint64_t size = 0) const {
        const auto bytes = entries.at(index).readAsBinary(libzippp::ZipArchive::Current, size);
        if (!bytes) {
            return std::nullopt;
        }
        const std::uint64_t count =
            size == 0 || size > entries[index].getSize() ? entries[index].getSize() : size;
        return std::string(bytes.get(), count);
    }
};

// Counts the allocations that found no memory while it lives, and fails them as usual.
class FailedAllocations {
public:
    FailedAllocations() : previous_(std::set_new_handler(&Count)) { count_ = 0; }
    ~FailedAllocations() { std::set_new_handler(previous_); }
    int Get() const { return count_; }

private:
    static void Count() {
        ++count_;
        throw std::bad_alloc();
    }
    static inline int count_ = 0;
    std::new_handler previous_;
};

std::string Text(std::size_t size) {
    std::string text;
    while (text.size() < size) {
        text += "line " + std::to_string(text.size()) + " of the catalogue\n";
    }
    text.resize(size);
    return text;
}

TEST(ZipReader, ReadsEntriesThatHoldWhatTheyDeclare) {
    const std::string text = Text(5000);
    const Read read(Zip(
        {Honest("stored.txt", text), Honest("deflated.txt", text, true), Honest("empty.txt", "")}));
    ASSERT_EQ(read.entries.size(), 3u);
    EXPECT_EQ(read.Entry(0), text);
    EXPECT_EQ(read.Entry(1), text);
    EXPECT_EQ(read.Entry(2), "");
    // The first bytes only, and a size past the end for all of them.
    EXPECT_EQ(read.Entry(0, 100), text.substr(0, 100));
    EXPECT_EQ(read.Entry(1, 100), text.substr(0, 100));
    EXPECT_EQ(read.Entry(1, 1 << 30), text);
}

// Zeros deflate at about 1030:1, so this archive holds 1023 times its size: still within
// the bound.
TEST(ZipReader, ReadsAnEntryNearDeflatesGreatestRatio) {
    const std::string zeros(16 << 20, '\0');
    const Read read(Zip({Honest("zeros.bin", zeros, true)}));
    ASSERT_EQ(read.entries.size(), 1u);
    EXPECT_GT(zeros.size(), read.zip.size() * 1020);
    EXPECT_TRUE(read.Entry(0) == zeros);
}

// A fuzzer's 5 KB zip asked for 2.5 GB. A declared size past what the archive can hold is
// refused before any allocation: the sizes past the address space would reach the new handler.
TEST(ZipReader, RefusesAnEntryThatDeclaresMoreThanTheArchiveCanHold) {
    const std::string text = Text(5000);
    const std::uint64_t sizes[] = {2'500'000'000, std::uint64_t{1} << 40, std::uint64_t{1} << 62,
                                   ~std::uint64_t{0} - 1};
    for (const std::uint64_t size : sizes) {
        SCOPED_TRACE(size);
        auto lying = Honest("big.bin", text, true);
        lying.declared_size = size;
        const Read read(Zip({lying, Honest("next.txt", text)}));
        ASSERT_EQ(read.entries.size(), 2u);
        EXPECT_EQ(read.entries[0].getSize(), size);
        const FailedAllocations failed;
        EXPECT_FALSE(read.Entry(0).has_value());
        EXPECT_FALSE(read.Entry(0, 100).has_value());
        EXPECT_EQ(failed.Get(), 0);
        EXPECT_EQ(read.Entry(1), text);  // the archive's other entries still read
    }
}

// Within the bound the declared size is still only a claim: the data must end where it says.
struct Lie {
    const char* name;
    bool deflate;
    std::int64_t size_change;  // of the declared size
    std::uint32_t crc_change;
};

void ExpectRefused(const Lie& lie) {
    SCOPED_TRACE(lie.name);
    const std::string text = Text(5000);
    auto entry = Honest("entry.txt", text, lie.deflate);
    entry.declared_size += lie.size_change;
    entry.crc += lie.crc_change;
    const Read read(Zip({entry}));
    ASSERT_EQ(read.entries.size(), 1u);
    EXPECT_FALSE(read.Entry(0).has_value());
}

TEST(ZipReader, RefusesAnEntryWhoseDataIsShorterThanDeclared) {
    const Lie lies[] = {
        {"stored, one byte", false, 1, 0},
        {"deflated, one byte", true, 1, 0},
        {"stored, many bytes", false, 40000, 0},
        {"deflated, many bytes", true, 40000, 0},
    };
    for (const auto& lie : lies) {
        ExpectRefused(lie);
    }
}

TEST(ZipReader, RefusesAWholeEntryThatRunsPastItsSizeOrFailsItsCrc) {
    const Lie lies[] = {
        {"stored, one byte more", false, -1, 0},
        {"deflated, one byte more", true, -1, 0},
        {"deflated, declares one byte", true, -4999, 0},
        {"stored, wrong CRC", false, 0, 1},
        {"deflated, wrong CRC", true, 0, 1},
    };
    for (const auto& lie : lies) {
        ExpectRefused(lie);
    }
    // The first bytes of an entry are read as far as asked, without its end.
    auto entry = Honest("entry.txt", Text(5000));
    ++entry.crc;
    const Read read(Zip({entry}));
    ASSERT_EQ(read.entries.size(), 1u);
    EXPECT_EQ(read.Entry(0, 100), Text(100));
}

}  // namespace
