// A small reader of zip archives over libzip: open an archive held in memory, list its
// entries and read one. Failures are printed to the standard error stream, never logged.
// Only reading is built; the archive does not copy the memory it reads.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

struct zip;
struct zip_source;

namespace libzippp {

class ZipEntry;

class ZipArchive {
public:
    enum OpenMode { NotOpen = 0, ReadOnly = 1, Write = 2, New = 3 };
    // Original: the archive as opened; Current: with changes (there are none when reading).
    enum State { Original = 0, Current = 1 };

    explicit ZipArchive(std::string path = {});
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;
    virtual ~ZipArchive();

    // An archive over `size` bytes at `data`, which must outlive it; null when the bytes are not
    // a readable zip or `mode` is not ReadOnly.
    static std::unique_ptr<ZipArchive> fromBuffer(const void* data, std::uint32_t size,
                                                  OpenMode mode = ReadOnly,
                                                  bool check_consistency = false);

    bool isOpen() const { return handle != nullptr; }
    // In index order; entries whose details cannot be read are left out.
    std::vector<ZipEntry> getEntries(State state = Current) const;
    // 0, or libzip's error code.
    int close();

private:
    friend class ZipEntry;

    bool open(zip_source* source, OpenMode mode, bool check_consistency);
    std::unique_ptr<char[]> readEntry(const ZipEntry& entry, State state, std::uint64_t size) const;

    std::string path;
    std::uint64_t bytes = 0;  // the archive's size, which bounds what its entries can hold
    zip* handle = nullptr;
    zip_source* source = nullptr;
    OpenMode mode = NotOpen;
};

class ZipEntry {
public:
    virtual ~ZipEntry() = default;

    const std::string& getName() const { return name; }
    std::uint64_t getIndex() const { return index; }
    std::uint64_t getSize() const { return size; }
    std::uint64_t getCompressedSize() const { return compressed_size; }
    std::uint16_t getCompressionMethod() const { return compression_method; }
    std::uint32_t getCRC() const { return crc; }

    // The first `size` bytes (all of them for 0 or more than the entry holds); null when the
    // entry cannot be read, declares more than 1032 times the archive's size (deflate's greatest
    // ratio), holds less than asked for or, read whole, more than it declares or not its CRC.
    std::unique_ptr<char[]> readAsBinary(ZipArchive::State state = ZipArchive::Current,
                                         std::uint64_t size = 0) const;

private:
    friend class ZipArchive;

    const ZipArchive* archive = nullptr;
    std::string name;
    std::uint64_t index = 0;
    std::time_t modification_time = 0;
    std::uint16_t compression_method = 0;
    std::uint16_t encryption_method = 0;
    std::uint64_t size = 0;
    std::uint64_t compressed_size = 0;
    std::uint32_t crc = 0;
};

}  // namespace libzippp
