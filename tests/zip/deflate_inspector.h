// A small RFC 1951 decoder for tests: it shows how a stream was coded (block kinds, literals,
// matches), which zlib's inflate does not tell.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

struct DeflateBlock {
    int type = 0;  // 0 stored, 1 fixed codes, 2 dynamic codes
    bool last = false;
    std::size_t literals = 0;
    std::size_t matches = 0;
};

struct DeflateMatch {
    std::size_t at;  // position in the output
    unsigned length;
    unsigned distance;
};

struct InspectedStream {
    bool valid = false;  // false on any coding error
    std::string output;
    std::vector<DeflateBlock> blocks;
    std::vector<DeflateMatch> matches;
    std::size_t bytes_used = 0;
};

InspectedStream InspectDeflate(const std::string& stream);

}  // namespace test_support
