// One entry's data on its way from its source: read to the end, its CRC taken, and copied or
// deflated either into the archive or into memory (for an entry packed ahead of its turn).
#pragma once

#include <windows.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "zip/deflate.h"
#include "zip/zip_limits.h"

struct EntryStream {
    HANDLE source = nullptr;
    HANDLE archive = nullptr;                     // where the data goes, unless
    std::vector<std::uint8_t>* memory = nullptr;  // it is kept here
    // Data bytes the archive can take and still fit its limits.
    std::uint64_t budget = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t read_limit = kZipMaxEntryBytes;
    std::uint64_t bytes_read = 0;  // past the read limit too, when the entry failed there
    std::uint32_t crc = 0;
    std::uint64_t data_written = 0;  // every byte that reached the archive or the memory
    bool failed = false;             // a read failed, written short, or a limit was passed
    bool over_read_limit = false;    // the source held more than `read_limit` bytes
};

// Copies the source as it is: false when a read or a write failed or a limit was passed.
bool CopyStored(EntryStream& stream, std::uint8_t* buffer, std::uint32_t size);

// Deflates the source at the writer's level, adding the level's bits to `flags`; false when
// the compressor, a read, a write or a limit failed. `output` is the compressor's output buffer.
bool DeflateStream(EntryStream& stream, zip_deflate::State& state, std::uint8_t* output,
                   std::uint16_t& flags);
