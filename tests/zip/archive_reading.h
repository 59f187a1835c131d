// An archive on disk read back by real readers, for archives too big to hold in memory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zip_test {

struct ExpectedEntry {
    std::string name;
    std::string content;      // when zeros is 0
    std::uint64_t zeros = 0;  // else: that many zero bytes
};

// libzip with its consistency checks opens the archive and reads every entry whole, checking
// its CRC; Info-ZIP's "unzip -t" tests the named entries (every entry when none is named).
void ExpectArchiveReads(const std::filesystem::path& archive,
                        const std::vector<ExpectedEntry>& entries,
                        const std::vector<std::string>& unzip_names = {});

// The offset of each entry's local header, from the central directory, in its order.
std::vector<std::uint64_t> LocalHeaderOffsets(const std::filesystem::path& archive);

}  // namespace zip_test
