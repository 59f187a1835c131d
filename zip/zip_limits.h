// How far one archive may grow. Every offset and size of 32-bit zip is a 32-bit field, and all
// ones in a size or offset field tells a reader to look for ZIP64 records that this writer
// never writes: so no field may reach it, and the whole file, end record included, stays
// within 0xFFFFFFFF bytes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string_view>

struct ZipLimits {
    std::uint64_t archive_bytes = 0xFFFFFFFFu;  // the whole archive, end record included
    std::uint32_t entries = 0xFFFF;             // the end record counts them in 16 bits
    // Bytes read from all the sources together: once they reach it, the sources left are left
    // out, so that sparse or endless files cannot hold the writer for hours.
    std::uint64_t read_bytes = 0xFFFFFFFFu;
};

// The largest source an entry takes: its uncompressed size is a 32-bit field too.
inline constexpr std::uint64_t kZipMaxEntryBytes = 0xFFFFFFFEu;

struct ZipHandle;

// Tests only: ZipWriter::Open with smaller limits, so that a test sees entries refused at the
// limits without writing or reading gigabytes.
std::unique_ptr<ZipHandle> OpenZipWithLimits(std::wstring_view path, const ZipLimits& limits);
std::unique_ptr<ZipHandle> OpenZipWithLimits(HANDLE archive, const ZipLimits& limits);
