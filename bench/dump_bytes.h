// Bytes that stand in for a crash dump: a xorshift sequence, the same in every run, that
// neither compresses nor repeats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bench {

inline std::string DumpBytes(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = 2463534242u;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state);
    }
    return bytes;
}

}  // namespace bench
