// Runs the compressor over a string as the writer drives it, and makes seeded test inputs.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <string>

#include "zip/deflate.h"

namespace test_support {

struct Compressed {
    std::uint32_t result;
    std::uint32_t size;
    std::uint16_t flags;
    std::string bytes;
    std::string error;
};

// One state for every run, as the writer keeps one per archive.
class Compressor {
public:
    // `chunk`: the most bytes one read gives; 0 gives as many as asked.
    Compressed Run(const std::string& input, int level = 8, std::size_t chunk = 0);

private:
    zip_deflate::StatePointer state_ = zip_deflate::NewState();
    std::array<std::uint8_t, zip_deflate::kOutputSize> output_{};
};

std::string RandomBytes(std::mt19937& random, std::size_t size);
// Lines like the program's own log, seeded.
std::string LogText(std::size_t size);
// Phrases, runs, random stretches and copies from earlier, in seeded proportions.
std::string Mix(std::mt19937& random, std::size_t size);

}  // namespace test_support
