// The deflate compressor: LZ77 over a 32 KiB dictionary with lazy matching, then per block the
// shortest of a stored, a fixed-code and a dynamic-code block. This file is its driver: an
// entry's set-up, the lazy and the greedy loop, the symbols they record, where a block ends and
// which kind it is sent as. The match finder, with the essay on its tables and the terms they
// use, is match_finder.h; the Huffman trees are huffman_trees.h, the bit writer bit_writer.h.
//
// Its stream must be byte for byte the reference one (the identity tests): the match finder
// keeps to the plain hash-chain walk's choice, and the rest keeps the reference's steps.
//
// Fixed by the format's contract and the reference stream, so kept as they are: the tuning
// table, the hash of three bytes and its shift, the literal and distance buffer sizes and the
// 4,096-item early block end (they decide block boundaries), kTooFar, the order of the
// code-length codes, the bit layout of block headers, and the texts of the failed checks
// ("ct_init: length != 256", " 3_6?", "bad d_code", ...), the system's own texts.
#include "zip/deflate.h"

#include <algorithm>
#include <memory>

#include "zip/bit_writer.h"
#include "zip/deflate_state.h"
#include "zip/huffman_trees.h"
#include "zip/match_finder.h"

namespace zip_deflate {
namespace {

constexpr int kStoredBlock = 0;
constexpr int kStaticTrees = 1;
constexpr int kDynamicTrees = 2;

// Per level, the match finder's four lengths (their terms are told in match_finder.h).
struct Tuning {
    unsigned good, lazy, nice, chain;
};
constexpr Tuning kTuning[10] = {
    {0, 0, 0, 0},         {4, 4, 8, 4},         {4, 5, 16, 8},     {4, 6, 32, 32},
    {4, 4, 16, 16},       {8, 16, 32, 32},      {8, 16, 128, 128}, {8, 32, 128, 256},
    {32, 128, 258, 1024}, {32, 258, 258, 4096},
};

void AddBits(State& s, std::uint32_t bits) {
    s.compressed_bits += bits;
    s.compressed_bytes += s.compressed_bits >> 3;
    s.compressed_bits &= 7;
}

// Ends the block that began at block_start; `stored` is its bytes when still in the window.
std::uint32_t EndBlock(State& s, const std::uint8_t* stored, std::uint32_t stored_length,
                       bool last) {
    s.flag_buffer[s.last_flags] = s.flags;
    BuildTree(s, s.literal_descriptor);
    BuildTree(s, s.distance_descriptor);
    const int max_index = BuildCodeLengthTree(s);

    std::uint32_t dynamic_bytes = (s.optimal_length + 3 + 7) >> 3;
    const std::uint32_t static_bytes = (s.static_length + 3 + 7) >> 3;
    s.input_length += stored_length;
    if (static_bytes <= dynamic_bytes) {
        dynamic_bytes = static_bytes;
    }
    const int last_bit = last ? 1 : 0;
    if (stored_length + 4 <= dynamic_bytes && stored != nullptr) {
        SendBits(s, (kStoredBlock << 1) + last_bit, 3);
        s.compressed_bytes += ((s.compressed_bits + 3 + 7) >> 3) + stored_length + 4;
        s.compressed_bits = 0;
        AlignToByte(s);
        PutShort(s, stored_length);
        PutShort(s, ~stored_length & 0xFFFF);
        s.bits_sent += 32;
        FlushOutput(s);
        std::uint32_t count = stored_length;
        if (count != 0) {
            s.flush(s.context, stored, count);
        }
        s.bits_sent += std::uint64_t{stored_length} << 3;
    } else if (static_bytes == dynamic_bytes) {
        SendBits(s, (kStaticTrees << 1) + last_bit, 3);
        SendSymbols(s, s.static_literal_tree.data(), s.static_distance_tree.data());
        AddBits(s, 3 + s.static_length);
    } else {
        SendBits(s, (kDynamicTrees << 1) + last_bit, 3);
        SendAllTrees(s, s.literal_descriptor.max_code + 1, s.distance_descriptor.max_code + 1,
                     max_index + 1);
        SendSymbols(s, s.literal_tree.data(), s.distance_tree.data());
        AddBits(s, 3 + s.optimal_length);
    }
    if ((std::uint64_t{s.compressed_bytes} << 3) + s.compressed_bits != s.bits_sent) {
        s.error = "bad compressed size";
    }
    ResetBlock(s);
    if (last) {
        AlignToByte(s);
        AddBits(s, 7);
        s.compressed_bits = 0;
    }
    return s.compressed_bytes;
}

// Records a literal (distance 0) or a match; answers whether the block must end now.
inline bool Record(State& s, unsigned distance, unsigned value) {
    s.literal_buffer[s.last_literal++] = static_cast<std::uint8_t>(value);
    if (distance == 0) {
        ++s.literal_tree[value].freq_or_code;
    } else {
        --distance;
        const unsigned code = DistanceCode(s, distance);
        if (distance >= kMaxDistance || value > kMaxMatch - kMinMatch || code >= kDistanceCodes) {
            s.error = "ct_tally: bad match";
        }
        ++s.literal_tree[s.length_code[value & 0xFF] + kLiterals + 1].freq_or_code;
        ++s.distance_tree[code < kDistanceCodes ? code : 0].freq_or_code;
        s.distance_buffer[s.last_distance++] = static_cast<std::uint16_t>(distance);
        s.flags |= s.flag_bit;
    }
    s.flag_bit = static_cast<std::uint8_t>(s.flag_bit << 1);
    if ((s.last_literal & 7) == 0) {
        s.flag_buffer[s.last_flags++] = s.flags;
        s.flags = 0;
        s.flag_bit = 1;
    }
    // Cut a block early when it is not compressing well enough to pay for its length.
    if (s.level > 2 && (s.last_literal & 0xFFF) == 0) {
        std::uint32_t out_length = s.last_literal * 8;
        const std::uint32_t in_length =
            static_cast<std::uint32_t>(static_cast<std::int64_t>(s.position) - s.block_start);
        for (int code = 0; code < kDistanceCodes; ++code) {
            out_length += s.distance_tree[code].freq_or_code *
                          static_cast<std::uint32_t>(5 + kExtraDistanceBits[code]);
        }
        out_length >>= 3;
        if (s.last_distance < s.last_literal / 2 && out_length < in_length / 2) {
            return true;
        }
    }
    return s.last_literal == kLiteralBufferSize - 1 || s.last_distance == kDistanceBufferSize;
}

inline std::uint32_t EndCurrentBlock(State& s, bool last) {
    const std::uint8_t* const stored =
        s.block_start >= 0 ? s.window.data() + s.block_start : nullptr;
    return EndBlock(
        s, stored,
        static_cast<std::uint32_t>(static_cast<std::int64_t>(s.position) - s.block_start), last);
}

std::uint32_t LazyLoop(State& s) {
    unsigned previous_match = 0;
    bool literal_pending = false;
    unsigned match_length = kMinMatch - 1;
    while (s.lookahead != 0) {
        unsigned head = 0;
        if (s.lookahead >= kMinMatch) {
            head = InsertString(s, s.position);
        }
        s.previous_length = match_length;
        previous_match = s.match_start;
        match_length = kMinMatch - 1;

        // An input that ends past the slide point is never slid again: its last strings lack
        // the lookahead a search needs, and are left unsearched rather than failing the entry.
        if (head != 0 && s.previous_length < s.max_lazy && s.position - head <= kMaxDistance &&
            s.position <= s.window_size - kMinLookahead) {
            if (s.nice_match > s.lookahead) {
                s.nice_match = s.lookahead;
            }
            match_length = LongestMatch(s, head);
            if (match_length > s.lookahead) {
                match_length = s.lookahead;
            }
            if (match_length == kMinMatch && s.position - s.match_start > kTooFar) {
                --match_length;
            }
        }

        if (s.previous_length >= kMinMatch && match_length <= s.previous_length) {
            const unsigned max_insert = s.position + s.lookahead - kMinMatch;
            const bool end =
                Record(s, s.position - 1 - previous_match, s.previous_length - kMinMatch);
            s.lookahead -= s.previous_length - 1;
            const unsigned last = s.position + s.previous_length - 2;
            InsertStrings(s, s.position + 1, std::min(last, max_insert));
            s.position = last + 1;
            literal_pending = false;
            match_length = kMinMatch - 1;
            if (end) {
                EndCurrentBlock(s, false);
                s.block_start = static_cast<std::int32_t>(s.position);
            }
        } else if (literal_pending) {
            if (Record(s, 0, s.window[s.position - 1])) {
                EndCurrentBlock(s, false);
                s.block_start = static_cast<std::int32_t>(s.position);
            }
            ++s.position;
            --s.lookahead;
        } else {
            literal_pending = true;
            ++s.position;
            --s.lookahead;
        }
        if (s.lookahead < kMinLookahead && !s.end_of_input) {
            FillWindow(s);
        }
    }
    if (literal_pending) {
        Record(s, 0, s.window[s.position - 1]);
    }
    return EndCurrentBlock(s, true);
}

std::uint32_t GreedyLoop(State& s) {
    unsigned match_length = 0;
    s.previous_length = kMinMatch - 1;
    while (s.lookahead != 0) {
        unsigned head = 0;
        if (s.lookahead >= kMinMatch) {
            head = InsertString(s, s.position);
        }
        if (head != 0 && s.position - head <= kMaxDistance &&
            s.position <= s.window_size - kMinLookahead) {
            // As in the lazy loop: a search that may not reach past the input cannot be swayed
            // by what an earlier entry left in the window beyond it.
            if (s.nice_match > s.lookahead) {
                s.nice_match = s.lookahead;
            }
            match_length = LongestMatch(s, head);
            if (match_length > s.lookahead) {
                match_length = s.lookahead;
            }
        }
        bool end = false;
        if (match_length >= kMinMatch) {
            end = Record(s, s.position - s.match_start, match_length - kMinMatch);
            s.lookahead -= match_length;
            if (match_length <= s.max_lazy && s.lookahead >= kMinMatch) {
                InsertStrings(s, s.position + 1, s.position + match_length - 1);
                s.position += match_length;
                match_length = 0;
            } else {
                // The strings skipped here join no chain.
                JoinPrefixChains(s, kAllChains, s.position);
                s.position += match_length;
                s.prefix_next.fill(s.position);
                match_length = 0;
                s.hash = s.window[s.position];
                UpdateHash(s, s.window[s.position + 1]);
            }
        } else {
            end = Record(s, 0, s.window[s.position]);
            --s.lookahead;
            ++s.position;
        }
        if (end) {
            EndCurrentBlock(s, false);
            s.block_start = static_cast<std::int32_t>(s.position);
        }
        if (s.lookahead < kMinLookahead && !s.end_of_input) {
            FillWindow(s);
        }
    }
    return EndCurrentBlock(s, true);
}

}  // namespace

void StateDeleter::operator()(State* state) const { std::default_delete<State>()(state); }

StatePointer NewState() { return StatePointer(std::make_unique<State>().release()); }

const char* LastError(const State& state) { return state.error; }

std::uint32_t Compress(State& s, const Io& io, int level, std::uint16_t& general_flags,
                       std::uint16_t& internal_attributes, std::uint32_t& compressed_size) {
    const bool failed = s.error != nullptr;
    s.error = nullptr;
    s.context = io.context;
    s.read = io.read;
    s.flush = io.flush;
    s.level = level;

    s.output = io.output;
    s.output_offset = 0;
    s.output_size = kOutputSize;
    s.flush_full_buffers = true;
    s.bit_buffer = 0;
    s.bit_count = 0;
    s.bits_sent = 0;

    SetUpTables(s);
    SetUpDescriptors(s);
    s.file_type = &internal_attributes;
    s.compressed_bytes = 0;
    s.compressed_bits = 0;
    s.input_length = 0;
    ResetBlock(s);

    if (level < 1 || level > 8) {
        s.error = "bad pack level";
    }
    const Tuning& tuning = kTuning[std::clamp(level, 0, 9)];
    s.window_size = 2 * kWindowSize;
    s.sliding = true;
    ClearHeads(s, failed);
    s.prefix_next.fill(0);
    s.join_along_until.fill(0);
    s.max_lazy = tuning.lazy;
    s.good_match = tuning.good;
    s.nice_match = tuning.nice;
    s.max_chain = tuning.chain;
    if (level <= 2) {
        general_flags = static_cast<std::uint16_t>(general_flags | 4);
    } else if (level >= 8) {
        general_flags = static_cast<std::uint16_t>(general_flags | 2);
    }

    s.position = 0;
    s.block_start = 0;
    s.match_start = 0;
    s.previous_length = 0;
    s.hash = 0;
    s.end_of_input = false;
    s.lookahead = ReadInput(s, s.window.data(), 2 * kWindowSize);
    if (s.lookahead == 0 || s.lookahead == kReadEnd) {
        s.end_of_input = true;
        s.lookahead = 0;
    } else {
        if (s.lookahead < kMinLookahead) {
            FillWindow(s);
        }
        UpdateHash(s, s.window[0]);
        UpdateHash(s, s.window[1]);
    }

    compressed_size = level >= kFirstLazyLevel ? LazyLoop(s) : GreedyLoop(s);
    return s.error == nullptr ? 0 : kDeflateFailed;
}

}  // namespace zip_deflate
