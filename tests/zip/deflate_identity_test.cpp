// The compressor's stream is byte for byte the one Debian's `gzip -8 -n` writes for the same
// input. The reference is made at test time by running gzip on each input and keeping only
// its raw deflate stream (the 10-byte header and the 8-byte trailer cut off), so any change
// of a candidate, of a chosen match or of a block boundary shows here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/zip/deflate_harness.h"
#include "tests/zip/deflate_inspector.h"
#include "tests/zip/prefix_collision_log.h"

namespace {

using test_support::Compressor;

std::uint32_t U32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    }
    return value;
}

class GzipReference {
public:
    // The raw deflate stream of `gzip -LEVEL -n` for `input`; empty with a test failure when gzip
    // failed or its file is not what it should be.
    std::string Stream(const std::string& input, int level = 8) {
        const auto source = folder_ / "input";
        test_support::WriteFile(source, input);
        test_support::ChildOptions options;
        options.arguments = {"-" + std::to_string(level), "-n", "-k", "-f", source.string()};
        const auto ran = test_support::RunChild(TALLORIN_GZIP, options);
        EXPECT_EQ(ran.exit_code, 0) << ran.output;
        const std::string file = test_support::ReadFile(folder_ / "input.gz");
        std::filesystem::remove(folder_ / "input.gz");
        if (file.size() < 18 || file.compare(0, 3, "\x1f\x8b\x08") != 0 ||
            U32(file, file.size() - 4) != static_cast<std::uint32_t>(input.size())) {
            ADD_FAILURE() << "not a gzip file of the input";
            return {};
        }
        return file.substr(10, file.size() - 18);
    }

private:
    test_support::TempDir folder_;
};

std::string Repeat(const std::string& piece, std::size_t size) {
    std::string out;
    while (out.size() < size) {
        out += piece;
    }
    out.resize(size);
    return out;
}

// Like a crash dump: zero pages, tables of little-endian pointers, UTF-16 module paths,
// sparse heap bytes.
std::string DumpLike(std::mt19937& random, std::size_t size) {
    std::string out = "MDMP";
    while (out.size() < size) {
        switch (random() % 4) {
            case 0:
                out.append(4096, '\0');
                break;
            case 1:
                for (int i = 0; i < 512; ++i) {
                    const std::uint32_t value =
                        random() % 3 == 0
                            ? 0x00400000u + (random() % 64) * 0x10000u + random() % 0x2000
                            : random() % 256;
                    out.append(reinterpret_cast<const char*>(&value), sizeof value);
                }
                break;
            case 2:
                for (const char c : "C:\\Program Files\\Quorbelin\\Velmora Antivirus\\module" +
                                        std::to_string(random() % 40) + ".dll") {
                    out.push_back(c);
                    out.push_back('\0');
                }
                break;
            default:
                for (int i = 0; i < 1024; ++i) {
                    out.push_back(static_cast<char>(random() % 16 == 0 ? random() : 0));
                }
        }
    }
    out.resize(size);
    return out;
}

// Three fresh letters and a long phrase, over and over: fewer than half of the items are
// matches, yet the block shrinks to well under half, so blocks end at each 4,096th item.
std::string FewLongMatches(std::mt19937& random, std::size_t size) {
    const std::string phrase = "] [info] [4001] [tallorin:main.cpp:57][wWinMain]: ";
    std::string out;
    while (out.size() < size) {
        for (int i = 0; i < 3; ++i) {
            out.push_back(static_cast<char>('a' + random() % 26));
        }
        out += phrase;
    }
    out.resize(size);
    return out;
}

// A phrase, and its copy at the farthest distance a match may reach, 32,505 bytes later. In
// between, random bytes, many 3-byte strings that differ from the phrase's start but share its
// hash chain, and early on one copy of its first three bytes: for the last copy that copy is
// found late in a long chain, and the phrase only behind it.
std::string FarRepeatBehindALongChain(std::mt19937& random) {
    const std::string phrase = test_support::RandomBytes(random, 64);
    const auto b0 = static_cast<unsigned char>(phrase[0]);
    const auto b1 = static_cast<unsigned char>(phrase[1]);
    const auto b2 = static_cast<unsigned char>(phrase[2]);
    // Three bytes hash as (b0 << 10) ^ (b1 << 5) ^ b2 in 15 bits: flipping bits of the second
    // byte other than 3 and 4 can be undone in the other two.
    std::vector<std::string> others;
    for (unsigned flip = 1; flip < 256; ++flip) {
        if ((flip & 0x18) != 0) {
            continue;
        }
        const unsigned moved = flip << 5;
        for (unsigned high = 0; high < 8; ++high) {
            others.push_back({static_cast<char>(b0 ^ ((moved >> 10) & 0x1F) ^ (high << 5)),
                              static_cast<char>(b1 ^ flip),
                              static_cast<char>(b2 ^ (moved & 0xFF))});
        }
    }
    std::string out = "##" + phrase;
    for (std::size_t i = 0; i < 4; ++i) {
        out += others[i] + test_support::RandomBytes(random, 250);
    }
    out += phrase.substr(0, 3) + static_cast<char>(phrase[3] ^ 1);
    for (std::size_t i = 4; out.size() < 2 + 32505; ++i) {
        out += test_support::RandomBytes(random, 150) + others.at(i);
    }
    out.resize(2 + 32505);
    return out + phrase + test_support::RandomBytes(random, 300);
}

std::string ThisProgram(std::size_t most) {
    std::string bytes = test_support::ReadFile("/proc/self/exe");
    bytes.resize(std::min(bytes.size(), most));
    return bytes;
}

struct Case {
    std::string name;
    std::string input;
    std::size_t chunk;  // most bytes per read, 0: as many as asked
};

std::vector<Case> Cases() {
    std::mt19937 random(1501);
    std::vector<Case> cases = {
        {"empty", "", 0},
        {"one byte", "x", 0},
        {"two bytes", "ab", 0},
        {"text",
         Repeat("The crash window asks what you were doing when it happened. ", 3000) +
             test_support::LogText(20000),
         0},
        {"log", test_support::LogText(3 << 20), 0},
        {"log read in odd pieces", test_support::LogText(400000), 777},
        {"random", test_support::RandomBytes(random, 300000), 0},
        {"zeros", std::string(1 << 20, '\0'), 0},
        {"short repeats", Repeat("ab", 70000) + Repeat("xyz", 70000) + Repeat("0123456", 70000), 0},
        {"long repeats",
         Repeat(test_support::RandomBytes(random, 5000), 200000) +
             Repeat(test_support::RandomBytes(random, 40000), 200000),
         0},
        {"dump", DumpLike(random, 4 << 20), 0},
        // The test program's own bytes change with every build; a run at the end keeps them from
        // ending inside a repeat, where the compressor parts from gzip on purpose (below).
        {"binary", ThisProgram(3 << 20) + std::string(300, 'Z'), 0},
        {"few long matches", FewLongMatches(random, 200000), 0},
        {"far repeat behind a long chain", FarRepeatBehindALongChain(random), 0},
        {"mix read a byte at a time", test_support::Mix(random, 70000), 1},
        {"prefix collisions", test_support::PrefixCollisionLog(1 << 20, 1501), 0},
    };
    // Around the lookahead, the dictionary, the slide point and the window. An input that ends
    // between the slide point and the window's end (65,300 to 65,533) is never slid, and its
    // last strings lack the lookahead of a search.
    for (const std::size_t size :
         {261u, 262u, 263u, 32767u, 32768u, 32769u, 65273u, 65274u, 65275u, 65300u, 65400u, 65533u,
          65535u, 65536u, 65537u, 65536u + 262u, 98042u, 131072u}) {
        cases.push_back({"mix of " + std::to_string(size), test_support::Mix(random, size), 0});
        cases.push_back({"zeros of " + std::to_string(size), std::string(size, '\0'), 0});
    }
    return cases;
}

void ExpectSameStream(const std::string& stream, const std::string& reference) {
    ASSERT_EQ(stream.size(), reference.size());
    const auto differs = std::mismatch(stream.begin(), stream.end(), reference.begin());
    EXPECT_TRUE(differs.first == stream.end())
        << "first difference at byte " << (differs.first - stream.begin());
}

TEST(DeflateIdentity, StreamIsTheOneGzipLevel8Writes) {
    GzipReference gzip;
    Compressor reused;  // one state for every case, as the writer keeps it for an archive
    for (const auto& c : Cases()) {
        SCOPED_TRACE(c.name);
        const std::string reference = gzip.Stream(c.input);
        const auto compressed = reused.Run(c.input, 8, c.chunk);
        EXPECT_EQ(compressed.result, 0u) << compressed.error;
        ExpectSameStream(compressed.bytes, reference);
        SCOPED_TRACE("fresh state");
        ExpectSameStream(Compressor().Run(c.input, 8, c.chunk).bytes, reference);
    }
}

// The writer asks for level 8 only, but the greedy loop of levels 1 to 3 and the other rows of
// the tuning table give gzip's streams as well.
TEST(DeflateIdentity, OtherLevelsGiveGzipsStreamsToo) {
    std::mt19937 random(1507);
    // The crafted log sends searches at the lazy levels down the next string's prefix chain;
    // at the greedy ones, strings inside long matches join no chain.
    const std::string inputs[] = {test_support::Mix(random, 300000),
                                  test_support::Mix(random, 65400), test_support::LogText(100000),
                                  test_support::PrefixCollisionLog(200000, 1507)};
    GzipReference gzip;
    Compressor compressor;
    for (int level = 1; level <= 7; ++level) {
        for (const auto& input : inputs) {
            SCOPED_TRACE(::testing::Message()
                         << "level " << level << ", " << input.size() << " bytes");
            const auto compressed = compressor.Run(input, level);
            EXPECT_EQ(compressed.result, 0u) << compressed.error;
            ExpectSameStream(compressed.bytes, gzip.Stream(input, level));
        }
    }
}

// Here gzip parts from the compressor: when the input ends inside a repeat, gzip goes on
// comparing past the end of the input and may take an older copy that continues there. The
// compressor stops at the input's end and keeps the most recent copy, so that what an earlier
// entry left in the window cannot change an entry's stream.
TEST(DeflateIdentity, AMatchAtTheEndLooksNoFurtherThanTheInput) {
    std::mt19937 random(15);
    const std::string phrase = test_support::RandomBytes(random, 100);
    // The older copy is followed by zeros, as the unused window is; position 0 is never a
    // candidate, hence the "#".
    const std::string input = "#" + phrase + std::string(300, '\0') + phrase + "x" + phrase;
    Compressor fresh;
    const auto stream = fresh.Run(input).bytes;
    const auto inspected = test_support::InspectDeflate(stream);
    ASSERT_TRUE(inspected.valid);
    ASSERT_FALSE(inspected.matches.empty());
    EXPECT_EQ(inspected.matches.back().at, input.size() - 100);
    EXPECT_EQ(inspected.matches.back().length, 100u);
    EXPECT_EQ(inspected.matches.back().distance, 101u);

    Compressor reused;
    reused.Run(std::string(70000, '\0'));
    EXPECT_EQ(reused.Run(input).bytes, stream);
}

// At every level, not only at 4 to 8: an input ends inside a repeat, and an older copy of it
// continues with the bytes that a fresh window holds beyond the input (zeros), so only what
// lies past the input could make that copy the longer one.
TEST(DeflateIdentity, AnEntryAtAnyLevelIgnoresWhatThePreviousOneLeftInTheWindow) {
    std::string phrase;
    std::mt19937 random(23);
    while (phrase.size() < 40) {
        phrase += static_cast<char>('a' + random() % 26);
    }
    const std::string tail = phrase.substr(0, 6);
    const std::string input = "#" + tail + std::string(300, '\0') + phrase + "x" + tail;
    const std::string left_behind(70000, 'q');
    for (int level = 1; level <= 8; ++level) {
        SCOPED_TRACE(::testing::Message() << "level " << level);
        const auto fresh = Compressor().Run(input, level);
        EXPECT_EQ(fresh.result, 0u) << fresh.error;
        const auto inspected = test_support::InspectDeflate(fresh.bytes);
        ASSERT_TRUE(inspected.valid);
        ASSERT_FALSE(inspected.matches.empty());
        EXPECT_EQ(inspected.matches.back().at, input.size() - tail.size());
        EXPECT_EQ(inspected.matches.back().distance, phrase.size() + 1);

        Compressor reused;
        reused.Run(left_behind, level);
        EXPECT_EQ(reused.Run(input, level).bytes, fresh.bytes);
    }
}

// The inputs built for the block-ending rules reach them: a block cut at a 4,096th item, and
// blocks cut when literals fill the buffer.
TEST(DeflateIdentity, TableReachesBothBlockEndings) {
    std::mt19937 random(1501);
    Compressor compressor;
    const auto few =
        test_support::InspectDeflate(compressor.Run(FewLongMatches(random, 200000)).bytes);
    ASSERT_TRUE(few.valid);
    ASSERT_GT(few.blocks.size(), 1u);
    EXPECT_EQ((few.blocks[0].literals + few.blocks[0].matches) % 4096, 0u);
    EXPECT_LT(few.blocks[0].literals + few.blocks[0].matches, 32767u);

    const auto random_bytes = test_support::InspectDeflate(
        compressor.Run(test_support::RandomBytes(random, 300000)).bytes);
    ASSERT_TRUE(random_bytes.valid);
    EXPECT_EQ(random_bytes.blocks[0].type, 0);
    EXPECT_GT(random_bytes.blocks.size(), 300000u / 32767u);
}

}  // namespace
