// The entries of a zip archive held in memory, read back with libzip.
#pragma once

#include <string>
#include <vector>

namespace test_support {

struct ZipEntryRead {
    std::string name;         // the name's bytes as stored
    std::string strict_name;  // libzip's reading by the zip rules: CP437 unless flag bit 11
                              // marks the name as UTF-8, so it differs from `name` for an
                              // unflagged name outside ASCII
    std::string content;
};

// In the archive's order. Adds a test failure when libzip cannot open the archive or an entry.
std::vector<ZipEntryRead> ReadZipEntries(const std::string& archive);

}  // namespace test_support
