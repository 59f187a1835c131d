#include "tests/zip/prefix_collision_log.h"

#include <array>
#include <random>
#include <set>
#include <vector>

#include "zip/prefix_hash.h"

namespace test_support {

std::string PrefixCollisionLog(std::size_t size, std::uint32_t seed) {
    // Of the 95^4 printable strings about 2,500 share a key; a thousand of them recur often
    // enough to give 4-byte matches and seldom enough that the matches rarely grow.
    constexpr std::size_t kStrings = 1024;
    std::mt19937 random(seed);
    std::vector<std::array<char, 4>> strings;
    std::set<std::array<char, 4>> seen;
    const auto key_of = [](const std::array<char, 4>& string) {
        return zip_deflate::PrefixHash<4>(reinterpret_cast<const std::uint8_t*>(string.data()));
    };
    std::array<char, 4> string{};
    const auto printable = [&] { return static_cast<char>(' ' + random() % 95); };
    // The key of a first string drawn; then, for more drawn starts, every last byte that
    // completes a string of that key.
    string = {printable(), printable(), printable(), printable()};
    const unsigned key = key_of(string);
    while (strings.size() < kStrings) {
        string = {printable(), printable(), printable(), ' '};
        for (char last = ' '; last <= '~'; ++last) {
            string[3] = last;
            if (key_of(string) == key && seen.insert(string).second && strings.size() < kStrings) {
                strings.push_back(string);
            }
        }
    }
    std::string text;
    text.reserve(size + 4);
    while (text.size() < size) {
        const auto& string = strings[random() % kStrings];
        text.append(string.data(), string.size());
    }
    text.resize(size);
    return text;
}

}  // namespace test_support
