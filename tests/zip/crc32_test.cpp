#include "zip/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::uint32_t ZlibCrc(const std::uint8_t* data, std::size_t length) {
    return static_cast<std::uint32_t>(crc32(0, data, static_cast<uInt>(length)));
}

TEST(UpdateCrc32, GivesTheCheckValueOfTheZipCrc) {
    const std::string check = "123456789";
    EXPECT_EQ(UpdateCrc32(0, reinterpret_cast<const std::uint8_t*>(check.data()), check.size()),
              0xCBF43926u);
    EXPECT_EQ(UpdateCrc32(0, nullptr, 0), 0u);
}

// Eight bytes are taken at a time: every start in a word and every length of a tail, and a
// stream continued from any split point, agree with zlib.
TEST(UpdateCrc32, AgreesWithZlibAtAnyAlignmentLengthAndSplit) {
    std::vector<std::uint8_t> bytes(4096 + 64);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 11);
    }
    for (std::size_t start = 0; start < 8; ++start) {
        for (const std::size_t length : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 4095u, 4096u}) {
            SCOPED_TRACE(testing::Message() << "start " << start << ", length " << length);
            const std::uint8_t* const data = bytes.data() + start;
            const std::uint32_t whole = ZlibCrc(data, length);
            EXPECT_EQ(UpdateCrc32(0, data, length), whole);
            const std::size_t split = length / 3;
            EXPECT_EQ(UpdateCrc32(UpdateCrc32(0, data, split), data + split, length - split),
                      whole);
        }
    }
}

}  // namespace
