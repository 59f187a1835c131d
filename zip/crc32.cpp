#include "zip/crc32.h"

#include <array>

namespace {

// Slicing by eight: table 0 is the classic one (the CRC of one byte); table k gives the CRC of
// a byte followed by k zero bytes, so eight bytes are folded in with eight independent look-ups
// instead of eight dependent steps. The bytes are put together in little-endian order by hand,
// so the result does not depend on the machine's byte order or on alignment.
using Table = std::array<std::uint32_t, 256>;

constexpr std::array<Table, 8> MakeTables() {
    std::array<Table, 8> tables{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        tables[0][n] = c;
    }
    for (std::uint32_t n = 0; n < 256; ++n) {
        for (std::size_t k = 1; k < tables.size(); ++k) {
            const std::uint32_t previous = tables[k - 1][n];
            tables[k][n] = (previous >> 8) ^ tables[0][previous & 0xFF];
        }
    }
    return tables;
}

constexpr auto kTables = MakeTables();

constexpr std::uint32_t LittleEndian32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

std::uint32_t UpdateCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t length) {
    crc = ~crc;
    for (; length >= 8; data += 8, length -= 8) {
        const std::uint32_t low = crc ^ LittleEndian32(data);
        const std::uint32_t high = LittleEndian32(data + 4);
        crc = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^
              kTables[5][(low >> 16) & 0xFF] ^ kTables[4][low >> 24] ^ kTables[3][high & 0xFF] ^
              kTables[2][(high >> 8) & 0xFF] ^ kTables[1][(high >> 16) & 0xFF] ^
              kTables[0][high >> 24];
    }
    for (; length > 0; ++data, --length) {
        crc = kTables[0][(crc ^ *data) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}
