// What the writer reads of a source before its entry is written.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

struct SourceFacts {
    std::uint32_t external_attributes = 0;  // zip's form of the Windows attributes
    std::int64_t access_time = 0;           // seconds since 1970-01-01 UTC
    std::int64_t write_time = 0;
    std::int64_t creation_time = 0;
    std::uint32_t dos_date_time = 0;  // of the last write, calendar fields in UTC
    std::uint64_t size = 0;           // as the file system reports it
};

// Reads the facts of an open source and leaves its position at the start; none when the
// file-information call or a move fails.
std::optional<SourceFacts> ReadSourceFacts(HANDLE source);
