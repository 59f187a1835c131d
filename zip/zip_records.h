// The records of the archive, little-endian: local header, central directory header and end
// record, each with the name and the "UT" extra field (times in seconds since 1970, low 32
// bits) that this writer gives every entry. No data descriptors, comments or ZIP64 records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr std::uint32_t kLocalHeaderSize = 30;
inline constexpr std::uint32_t kCentralHeaderSize = 46;
inline constexpr std::uint32_t kEndRecordSize = 22;
inline constexpr std::uint32_t kLocalExtraSize = 17;
inline constexpr std::uint32_t kCentralExtraSize = 9;

// One entry as both of its headers give it; kept from AddFile to Finish.
struct ZipEntry {
    std::string name;  // UTF-8 without the UTF-8 flag, at most 259 bytes
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t dos_date_time = 0;  // time in the low half, date in the high half
    std::uint32_t crc = 0;
    std::uint32_t compressed_size = 0;
    std::uint32_t uncompressed_size = 0;
    std::uint32_t external_attributes = 0;
    std::uint32_t offset = 0;  // of the local header
    std::uint32_t write_time = 0;
};

// The times that only the local extra field carries.
struct LocalTimes {
    std::uint32_t access_time = 0;
    std::uint32_t creation_time = 0;
};

std::uint64_t LocalHeaderBytes(const ZipEntry& entry);
std::uint64_t CentralHeaderBytes(const ZipEntry& entry);

std::vector<std::uint8_t> LocalHeader(const ZipEntry& entry, const LocalTimes& times);
std::vector<std::uint8_t> CentralHeader(const ZipEntry& entry);
std::vector<std::uint8_t> EndRecord(std::uint16_t entries, std::uint32_t directory_size,
                                    std::uint32_t directory_offset);
