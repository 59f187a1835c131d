// The CRC-32 that zip uses (reflected polynomial 0xEDB88320, preset and final inversion).
#pragma once

#include <cstddef>
#include <cstdint>

// Continues `crc` (0 for a new stream) over the bytes.
std::uint32_t UpdateCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t length);
