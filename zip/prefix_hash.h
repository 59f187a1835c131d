// The key under which a string joins the prefix chain of its first 4, 8 or 16 bytes. Its own
// header, so that the test and benchmark inputs made to collide in it follow any change.
#pragma once

#include <cstdint>
#include <cstring>

#include "zip/deflate_state.h"

namespace zip_deflate {

template <unsigned kLength>
inline unsigned PrefixHash(const std::uint8_t* p) {
    static_assert(kLength == 4 || kLength == 8 || kLength == 16);
    constexpr unsigned kShift = 64 - kPrefixHashBits;
    constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;
    if constexpr (kLength == 4) {
        std::uint32_t first;
        std::memcpy(&first, p, sizeof first);
        return static_cast<unsigned>((first * kGolden) >> kShift);
    } else {
        std::uint64_t first;
        std::memcpy(&first, p, sizeof first);
        if constexpr (kLength == 8) {
            return static_cast<unsigned>((first * kGolden) >> kShift);
        } else {
            std::uint64_t second;
            std::memcpy(&second, p + 8, sizeof second);
            return static_cast<unsigned>(((first * kGolden) ^ second) * 0xC2B2AE3D27D4EB4Full >>
                                         kShift);
        }
    }
}

}  // namespace zip_deflate
