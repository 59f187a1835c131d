#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "tests/zip/deflate_harness.h"
#include "tests/zip/deflate_inspector.h"
#include "zip/deflate_state.h"

namespace {

using test_support::Compressed;
using test_support::Compressor;
using test_support::InspectDeflate;
using test_support::LogText;
using test_support::Mix;
using test_support::RandomBytes;

std::string Inflate(const std::string& stream, std::size_t expected_size) {
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    std::string out(expected_size + 1, '\0');  // room for one byte too many
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&z, Z_FINISH);
    EXPECT_EQ(status, Z_STREAM_END);
    EXPECT_EQ(z.avail_in, 0u) << "bytes after the final block";
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

void ExpectRoundTrip(const Compressed& compressed, const std::string& input) {
    EXPECT_EQ(compressed.result, 0u) << compressed.error;
    EXPECT_EQ(compressed.size, compressed.bytes.size());
    EXPECT_TRUE(Inflate(compressed.bytes, input.size()) == input);
}

TEST(Deflate, EmptyInputIsOneFixedBlockWithItsEndCode) {
    Compressor compressor;
    const Compressed compressed = compressor.Run("");
    EXPECT_EQ(compressed.result, 0u);
    EXPECT_EQ(compressed.bytes, std::string("\x03\x00", 2));
    EXPECT_EQ(compressed.size, 2u);
    EXPECT_EQ(compressed.flags, 2);
}

TEST(Deflate, RoundTripsInputsThatReachEveryPath) {
    std::mt19937 random(42);
    std::string all_bytes;
    for (int i = 0; i < 256; ++i) {
        all_bytes.push_back(static_cast<char>(i));
    }
    struct Case {
        const char* name;
        std::string input;
        std::size_t chunk;
        int block_type;  // expected in every block but the last, -1: any
        bool several_blocks;
    };
    const Case cases[] = {
        {"one byte", "x", 0, -1, false},
        {"all byte values", all_bytes, 0, -1, false},
        {"long run", std::string(1 << 20, 'a'), 0, -1, false},
        {"text", LogText(40000), 0, -1, false},
        {"text read in small pieces", LogText(300000), 777, -1, true},
        {"random", RandomBytes(random, 200000), 0, 0, true},
        {"random read a byte at a time", RandomBytes(random, 70000), 1, 0, true},
        {"beyond the window", Mix(random, 1 << 20), 0, -1, true},
        {"runs of every byte",
         [] {
             std::string s;
             for (int i = 0; i < 256; ++i) s.append(300 + i, static_cast<char>(i));
             return s;
         }(),
         0, -1, false},
    };
    Compressor compressor;  // one state for every case, as the writer uses it
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Compressed compressed = compressor.Run(c.input, 8, c.chunk);
        ExpectRoundTrip(compressed, c.input);
        EXPECT_EQ(compressed.flags, 2);
        const auto inspected = InspectDeflate(compressed.bytes);
        ASSERT_TRUE(inspected.valid);
        EXPECT_EQ(inspected.bytes_used, compressed.bytes.size());
        EXPECT_EQ(inspected.blocks.size() > 1, c.several_blocks);
        for (std::size_t b = 0; b + 1 < inspected.blocks.size(); ++b) {
            EXPECT_FALSE(inspected.blocks[b].last);
            if (c.block_type >= 0) {
                EXPECT_EQ(inspected.blocks[b].type, c.block_type) << b;
            }
        }
        for (const auto& match : inspected.matches) {
            EXPECT_FALSE(match.length == 3 && match.distance > 4096) << match.at;
            EXPECT_LE(match.distance, 32506u);
        }
        if (c.block_type == 0 && c.input.size() > 32767) {
            EXPECT_GT(inspected.blocks.size(), c.input.size() / 32767);
        }
    }
}

TEST(Deflate, CutsBlocksOfLiteralsAndUsesLongestMatches) {
    Compressor compressor;
    // Few repeats: literals fill a block long before a match would end it.
    std::mt19937 random(3);
    std::string sparse;
    while (sparse.size() < 100000) {
        sparse += static_cast<char>('a' + random() % 26);
    }
    const Compressed literals = compressor.Run(sparse);
    ExpectRoundTrip(literals, sparse);
    const auto inspected = InspectDeflate(literals.bytes);
    ASSERT_TRUE(inspected.valid);
    ASSERT_GT(inspected.blocks.size(), 1u);
    for (const auto& block : inspected.blocks) {
        EXPECT_LE(block.literals + block.matches, 32767u);
    }

    const std::string run(100000, 'z');
    const auto matches = InspectDeflate(compressor.Run(run).bytes);
    ASSERT_TRUE(matches.valid);
    const auto longest = std::count_if(matches.matches.begin(), matches.matches.end(),
                                       [](const auto& m) { return m.length == 258; });
    EXPECT_GE(longest, 380);
}

TEST(Deflate, AThreeByteRepeatFarBackIsSentAsLiterals) {
    std::mt19937 random(11);
    for (const std::size_t gap : {4000u, 5000u, 20000u}) {
        SCOPED_TRACE(gap);
        // Letters only, and "#" nowhere else, so the last three bytes have one earlier copy
        // (not at position 0, which the hash chains take for "none").
        std::string input = ".#@!";
        while (input.size() < gap + 4) {
            input += static_cast<char>('a' + random() % 26);
        }
        input += "#@!";
        Compressor compressor;
        const Compressed compressed = compressor.Run(input);
        ExpectRoundTrip(compressed, input);
        const auto inspected = InspectDeflate(compressed.bytes);
        ASSERT_TRUE(inspected.valid);
        const bool tail_matched =
            std::any_of(inspected.matches.begin(), inspected.matches.end(),
                        [&](const auto& m) { return m.at + m.length == input.size(); });
        EXPECT_EQ(tail_matched, gap + 3 <= 4096);
    }
}

TEST(Deflate, LevelsOutsideOneToEightAreRefusedButStillCompress) {
    const std::string input = LogText(100000);
    struct Case {
        int level;
        std::uint16_t flags;
        bool accepted;
    };
    const Case cases[] = {{0, 4, false}, {1, 4, true}, {2, 4, true}, {3, 0, true},
                          {4, 0, true},  {6, 0, true}, {8, 2, true}, {9, 2, false}};
    Compressor compressor;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        const Compressed compressed = compressor.Run(input, c.level);
        EXPECT_EQ(compressed.flags, c.flags);
        EXPECT_EQ(compressed.result, c.accepted ? 0u : zip_deflate::kDeflateFailed);
        EXPECT_EQ(compressed.error, c.accepted ? "" : "bad pack level");
        EXPECT_TRUE(Inflate(compressed.bytes, input.size()) == input);
    }
}

// The next entry clears only the heads that the last one set when that one was small, and
// every head after a large one: entries of related text, and the same entry twice, on each
// side of both limits, greedy and lazy.
TEST(Deflate, ReusedStateGivesTheSameStreamAsAFreshOne) {
    struct Case {
        std::size_t first;
        std::size_t second;
    };
    constexpr Case kCases[] = {{300000, 50000}, {1500, 3000}, {3000, 1500},   {2040, 2060},
                               {12000, 4096},   {16300, 700}, {16500, 16500}, {40000, 100}};
    std::mt19937 random(5);
    for (std::size_t index = 0; index < std::size(kCases); ++index) {
        SCOPED_TRACE(index);
        const std::string first = Mix(random, kCases[index].first);
        const std::string second =
            first.substr(kCases[index].first / 3) + Mix(random, kCases[index].second);
        for (const int level : {1, 8}) {
            SCOPED_TRACE(level);
            Compressor reused;
            reused.Run(first, level);
            EXPECT_EQ(reused.Run(second, level).bytes, Compressor().Run(second, level).bytes);
            reused.Run(second.substr(0, 200), level);
            const auto fresh = Compressor().Run(first, level);
            EXPECT_EQ(reused.Run(first, level).bytes, fresh.bytes);
            // The same entry again: its strings meet the heads they set last time.
            const auto again = reused.Run(first, level);
            EXPECT_EQ(again.result, 0u) << again.error;
            EXPECT_EQ(again.bytes, fresh.bytes);
        }
    }
}

// Whatever the entry before, an entry starts with every chain empty: an empty entry, which
// adds nothing, shows what the clearing left.
TEST(Deflate, AnEntryStartsWithEveryChainEmpty) {
    struct Source {
        const std::string* input;
        std::size_t offset;
    };
    const auto read = [](void* context, std::uint8_t* buffer, std::uint32_t size) -> std::uint32_t {
        auto& source = *static_cast<Source*>(context);
        const std::size_t count = std::min<std::size_t>(size, source.input->size() - source.offset);
        std::memcpy(buffer, source.input->data() + source.offset, count);
        source.offset += count;
        return static_cast<std::uint32_t>(count);
    };
    const auto discard = [](void*, const std::uint8_t*, std::uint32_t& count) { count = 0; };
    auto state = std::make_unique<zip_deflate::State>();
    std::array<std::uint8_t, zip_deflate::kOutputSize> output{};
    const auto run = [&](const std::string& input, int level) {
        Source source{&input, 0};
        const zip_deflate::Io io{&source, read, discard, output.data()};
        std::uint16_t flags = 0;
        std::uint16_t internal = 0;
        std::uint32_t size = 0;
        return zip_deflate::Compress(*state, io, level, flags, internal, size);
    };
    std::mt19937 random(9);
    for (const std::size_t size : {1500u, 2040u, 2060u, 12000u, 16500u, 300000u}) {
        for (const int level : {1, 8}) {
            SCOPED_TRACE(::testing::Message() << size << " bytes, level " << level);
            EXPECT_EQ(run(Mix(random, size), level), 0u);
            EXPECT_EQ(run("", level), 0u);
            EXPECT_TRUE(std::ranges::all_of(state->head,
                                            [](const auto& head) { return head.position == 0; }));
            for (const auto& table : state->prefix_head) {
                EXPECT_TRUE(
                    std::ranges::all_of(table, [](std::uint16_t head) { return head == 0; }));
            }
        }
    }
}

// Every walk of the match search ends even when the tables fall out of step. Here the prefix
// chains miss the window's slides, as if the slide forgot them: their links then lead to
// strings that are not where they say, the entry fails with the compressor's error, and the
// run ends. The next entry on the same state is sound again.
TEST(Deflate, ChainsThatMissASlideFailTheEntryInsteadOfSpinning) {
    struct Source {
        const std::string* input;
        zip_deflate::State* state;
        bool miss_slides;
        std::size_t offset = 0;
        unsigned last_position = 0;
        int slides = 0;
        std::string output;
    };
    // A read comes right after a slide, if any.
    const auto read = [](void* context, std::uint8_t* buffer, std::uint32_t size) -> std::uint32_t {
        auto& source = *static_cast<Source*>(context);
        auto& state = *source.state;
        if (source.miss_slides && state.position < source.last_position) {
            ++source.slides;
            const auto unslide = [](std::uint16_t& value) {
                if (value != 0) {
                    value = static_cast<std::uint16_t>(value + zip_deflate::kWindowSize);
                }
            };
            for (auto& table : state.prefix_head) {
                std::ranges::for_each(table, unslide);
            }
            for (auto& table : state.prefix_chain) {
                std::ranges::for_each(table, unslide);
            }
        }
        source.last_position = state.position;
        const std::size_t count = std::min<std::size_t>(size, source.input->size() - source.offset);
        std::memcpy(buffer, source.input->data() + source.offset, count);
        source.offset += count;
        return static_cast<std::uint32_t>(count);
    };
    const auto keep = [](void* context, const std::uint8_t* buffer, std::uint32_t& count) {
        static_cast<Source*>(context)->output.append(reinterpret_cast<const char*>(buffer), count);
        count = 0;
    };
    const std::string input = LogText(400000);
    auto state = std::make_unique<zip_deflate::State>();
    std::array<std::uint8_t, zip_deflate::kOutputSize> output{};
    const auto run = [&](Source& source) {
        const zip_deflate::Io io{&source, read, keep, output.data()};
        std::uint16_t flags = 0;
        std::uint16_t internal = 0;
        std::uint32_t size = 0;
        return zip_deflate::Compress(*state, io, 8, flags, internal, size);
    };

    Source out_of_step{&input, state.get(), true, 0, 0, 0, {}};
    EXPECT_EQ(run(out_of_step), zip_deflate::kDeflateFailed);
    EXPECT_GT(out_of_step.slides, 1);
    ASSERT_NE(state->error, nullptr);
    EXPECT_TRUE(std::string(state->error) == "no future" ||
                std::string(state->error) == "chain out of step")
        << state->error;

    Source sound{&input, state.get(), false, 0, 0, 0, {}};
    EXPECT_EQ(run(sound), 0u);
    EXPECT_TRUE(sound.output == Compressor().Run(input).bytes);
}

TEST(Deflate, SeededMixesRoundTrip) {
    std::mt19937 random(20240611);
    Compressor compressor;
    for (int round = 0; round < 60; ++round) {
        const std::size_t size = random() % 3 == 0 ? random() % 300 : random() % 400000;
        const std::string input = Mix(random, size);
        const int level = 1 + static_cast<int>(random() % 8);
        const std::size_t chunk = random() % 2 == 0 ? 0 : 1 + random() % 5000;
        SCOPED_TRACE(::testing::Message() << "round " << round << " size " << size << " level "
                                          << level << " chunk " << chunk);
        const Compressed compressed = compressor.Run(input, level, chunk);
        ExpectRoundTrip(compressed, input);
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
}

}  // namespace
