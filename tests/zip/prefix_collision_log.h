// A hostile log for the compressor's match finder, shared by its tests and its benchmark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace test_support {

// Printable text made of 4-byte strings, a thousand of them, all filed under one key of the
// compressor's 4-byte prefix hash: every fourth string of the window shares one prefix chain
// while few share its first bytes. The same `seed` gives the same text.
std::string PrefixCollisionLog(std::size_t size, std::uint32_t seed);

}  // namespace test_support
