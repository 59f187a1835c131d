// The deflate compressor's state: the layout of one record, allocated zeroed at an archive's
// first deflated entry and reused for every later one. An entry sets up what it reads before
// writing; the code tables are built once, and the chains' heads that the previous entry set
// are cleared. How the tables work together is told at the top of match_finder.h; callers
// need only deflate.h.
#pragma once

#include <array>
#include <cstdint>

#include "zip/deflate.h"

namespace zip_deflate {

inline constexpr int kMinMatch = 3;
inline constexpr int kMaxMatch = 258;
inline constexpr unsigned kWindowSize = 0x8000;  // the dictionary
inline constexpr unsigned kWindowMask = kWindowSize - 1;
inline constexpr unsigned kMinLookahead = kMaxMatch + kMinMatch + 1;
inline constexpr unsigned kMaxDistance = kWindowSize - kMinLookahead;
inline constexpr unsigned kHashBits = 15;
inline constexpr unsigned kHashSize = 1u << kHashBits;
inline constexpr unsigned kHashMask = kHashSize - 1;
inline constexpr unsigned kHashShift = (kHashBits + kMinMatch - 1) / kMinMatch;
inline constexpr unsigned kTooFar = 4096;
// Chains of strings that share their first 4, 8 or 16 bytes.
inline constexpr unsigned kPrefixChains = 3;
inline constexpr unsigned kPrefixHashBits = 15;
inline constexpr unsigned kPrefixHashSize = 1u << kPrefixHashBits;
// A prefix chain is walked from the scan's key or from the next string's.
inline constexpr unsigned kShifts = 2;

inline constexpr int kLengthCodes = 29;
inline constexpr int kLiterals = 256;
inline constexpr int kEndBlock = 256;
inline constexpr int kLiteralLengthCodes = kLiterals + 1 + kLengthCodes;  // 286
inline constexpr int kDistanceCodes = 30;
inline constexpr int kCodeLengthCodes = 19;
inline constexpr int kHeapSize = 2 * kLiteralLengthCodes + 1;  // 573
inline constexpr int kMaxBits = 15;
inline constexpr int kMaxCodeLengthBits = 7;

inline constexpr unsigned kLiteralBufferSize = 0x8000;
inline constexpr unsigned kDistanceBufferSize = 0x8000;

// One Huffman tree node: frequency, later the code; father, later the code length.
struct TreeNode {
    std::uint16_t freq_or_code;
    std::uint16_t dad_or_length;
};

struct TreeDescriptor {
    TreeNode* dynamic_tree;
    const TreeNode* static_tree;  // nullptr for the code-length tree
    const int* extra_bits;
    int extra_base;
    int elements;
    int max_length;
    int max_code;
};

struct State {
    // caller
    void* context;
    int level;
    ReadFunction read;
    FlushFunction flush;

    // Huffman trees
    std::array<TreeNode, kHeapSize> literal_tree;
    std::array<TreeNode, 2 * kDistanceCodes + 1> distance_tree;
    std::array<TreeNode, kLiteralLengthCodes + 2> static_literal_tree;
    std::array<TreeNode, kDistanceCodes> static_distance_tree;
    std::array<TreeNode, 2 * kCodeLengthCodes + 1> code_length_tree;
    TreeDescriptor literal_descriptor;
    TreeDescriptor distance_descriptor;
    TreeDescriptor code_length_descriptor;
    std::array<std::uint16_t, kMaxBits + 1> bit_length_count;
    std::array<int, kHeapSize> heap;
    int heap_max;
    std::array<std::uint8_t, 256> length_code;
    std::array<std::uint8_t, 512> distance_code;
    std::array<int, kLengthCodes> base_length;
    std::array<int, kDistanceCodes> base_distance;
    bool tables_set_up;  // the five tables above and the two static trees

    // block buffers
    std::array<std::uint8_t, kLiteralBufferSize> literal_buffer;
    std::array<std::uint16_t, kDistanceBufferSize> distance_buffer;
    std::array<std::uint8_t, kLiteralBufferSize / 8> flag_buffer;
    unsigned last_literal;
    unsigned last_distance;
    unsigned last_flags;
    std::uint8_t flags;
    std::uint8_t flag_bit;
    std::uint32_t optimal_length;  // bits of the block with dynamic codes (modular arithmetic)
    std::uint32_t static_length;   // bits of the block with fixed codes
    std::uint32_t compressed_bytes;
    std::uint32_t compressed_bits;  // pending bits beyond the whole bytes, under 8
    std::uint32_t input_length;
    std::uint16_t* file_type;

    // bit writer
    std::uint64_t bit_buffer;  // up to 32 bits waiting beyond the whole 16-bit units sent
    int bit_count;
    std::uint8_t* output;
    std::uint32_t output_offset;
    std::uint32_t output_size;
    bool flush_full_buffers;
    std::uint64_t bits_sent;

    // LZ77; the window has room for a 16-byte read past its last string
    std::array<std::uint8_t, 2 * kWindowSize + 16> window;
    std::array<std::uint16_t, kWindowSize> chain;  // positions stay under 65,536
    // A chain's head and the number of strings that ever joined it, side by side, as every
    // insertion reads and writes both.
    struct Head {
        std::uint16_t position;
        std::uint16_t count;
    };
    std::array<Head, kHashSize> head;
    // A search that already holds a match of n bytes can only gain from strings that share
    // n + 1 bytes with it, so beside each hash chain run chains of the strings that share
    // their first 4, 8 and 16 bytes. The rank of a string counts the strings before it in its
    // hash chain: rank differences give a string's place in that chain, and so whether the
    // chain budget reaches it. Strings join the prefix chains when a search needs them, once
    // all their bytes are in the window.
    std::array<std::uint16_t, kWindowSize> rank;
    std::array<std::array<std::uint16_t, kPrefixHashSize>, kPrefixChains> prefix_head;
    std::array<std::array<std::uint16_t, kWindowSize>, kPrefixChains> prefix_chain;
    // Per chain, the first string not yet in it: every string of the window before it that
    // is in the hash chains is in this prefix chain too.
    std::array<unsigned, kPrefixChains> prefix_next;
    // Per chain, the position up to which it joins along when another chain joins: a window
    // past its last walk.
    std::array<unsigned, kPrefixChains> join_along_until;
    // One bit per key of each prefix chain and shift (walks from the scan's own string, then
    // from the next string's): set when strings of other prefixes crowded that key's chain so
    // that a search went back to the hash chain. Until the window slides, searches whose string
    // has a crowded key try the next string's key, then the hash chain. The shifted walks skip
    // more strings (those before another byte), so they keep their own marks.
    std::array<std::array<std::uint64_t, kPrefixHashSize / 64>, kShifts * kPrefixChains> crowded;
    std::uint32_t window_size;
    std::int32_t block_start;
    bool sliding;
    unsigned hash;
    unsigned previous_length;
    unsigned position;
    unsigned match_start;
    bool end_of_input;
    unsigned lookahead;
    unsigned max_chain;
    unsigned max_lazy;
    unsigned good_match;
    unsigned nice_match;

    // the last failed check, nullptr while all is well
    const char* error;
};

}  // namespace zip_deflate
