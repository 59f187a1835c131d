#include "zip/zip_records.h"

namespace {

constexpr std::uint16_t kVersionMadeBy = 0x0B17;
constexpr std::uint16_t kVersionNeeded = 20;
constexpr std::uint8_t kAllTimes = 7;  // modification, access and creation

class ByteWriter {
public:
    explicit ByteWriter(std::vector<std::uint8_t>& out) : out_(out) {}
    void U8(std::uint32_t value) { out_.push_back(static_cast<std::uint8_t>(value)); }
    void U16(std::uint32_t value) {
        U8(value);
        U8(value >> 8);
    }
    void U32(std::uint32_t value) {
        U16(value & 0xFFFF);
        U16(value >> 16);
    }
    void Text(const std::string& text) { out_.insert(out_.end(), text.begin(), text.end()); }

private:
    std::vector<std::uint8_t>& out_;
};

// From "version needed" to the name length, both headers carry the same fields.
void SharedFields(ByteWriter& out, const ZipEntry& entry) {
    out.U16(kVersionNeeded);
    out.U16(entry.flags);
    out.U16(entry.method);
    out.U32(entry.dos_date_time);
    out.U32(entry.crc);
    out.U32(entry.compressed_size);
    out.U32(entry.uncompressed_size);
    out.U16(static_cast<std::uint32_t>(entry.name.size()));
}

}  // namespace

std::uint64_t LocalHeaderBytes(const ZipEntry& entry) {
    return kLocalHeaderSize + entry.name.size() + kLocalExtraSize;
}

std::uint64_t CentralHeaderBytes(const ZipEntry& entry) {
    return kCentralHeaderSize + entry.name.size() + kCentralExtraSize;
}

std::vector<std::uint8_t> LocalHeader(const ZipEntry& entry, const LocalTimes& times) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(LocalHeaderBytes(entry));
    ByteWriter out(bytes);
    out.U32(0x04034B50);
    SharedFields(out, entry);
    out.U16(kLocalExtraSize);
    out.Text(entry.name);
    out.U16(0x5455);  // "UT"
    out.U16(kLocalExtraSize - 4);
    out.U8(kAllTimes);
    out.U32(entry.write_time);
    out.U32(times.access_time);
    out.U32(times.creation_time);
    return bytes;
}

std::vector<std::uint8_t> CentralHeader(const ZipEntry& entry) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(CentralHeaderBytes(entry));
    ByteWriter out(bytes);
    out.U32(0x02014B50);
    out.U16(kVersionMadeBy);
    SharedFields(out, entry);
    out.U16(kCentralExtraSize);
    out.U16(0);  // comment length
    out.U16(0);  // disk number start
    out.U16(0);  // internal attributes: binary
    out.U32(entry.external_attributes);
    out.U32(entry.offset);
    out.Text(entry.name);
    out.U16(0x5455);
    out.U16(kCentralExtraSize - 4);
    out.U8(kAllTimes);  // the flags name all three times; only the first follows here
    out.U32(entry.write_time);
    return bytes;
}

std::vector<std::uint8_t> EndRecord(std::uint16_t entries, std::uint32_t directory_size,
                                    std::uint32_t directory_offset) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(kEndRecordSize);
    ByteWriter out(bytes);
    out.U32(0x06054B50);
    out.U16(0);  // this disk
    out.U16(0);  // the directory's disk
    out.U16(entries);
    out.U16(entries);
    out.U32(directory_size);
    out.U32(directory_offset);
    out.U16(0);  // comment length
    return bytes;
}
