// The deflate compressor: LZ77 over a 32 KiB dictionary with lazy matching, then per block the
// shortest of a stored, a fixed-code and a dynamic-code block.
//
// Its stream must be byte for byte the reference one (the identity tests), so the match
// search has one rule it may never change: the match chosen at a position is the one the
// plain hash-chain walk would choose. How it gets there faster is free.
//
// Window. Input is read into a window of twice the dictionary. Positions are offsets in it,
// and 0 is never a candidate, so a link of 0 ends every chain. Once the position passes the
// dictionary plus the farthest distance, the upper half is copied down and every table of
// positions slides by the dictionary's size with one rule: a position that would fall below
// the window becomes 0 (SlidePositions). A table that missed a slide would point at the wrong
// bytes; the walks then fail the entry rather than spin (LeadsBack, below).
//
// Hash chains. Each string (the three bytes at a position) is inserted at its hash's head;
// chain[] links it to the string that held the head before, so a chain runs newest to oldest
// over the strings of one hash. The plain walk visits the chain from the head, at most the
// chain budget of candidates (a quarter once the held match is good enough) and none beyond
// the farthest distance, and keeps the first of the longest matches, stopping at nice.
//
// Ranks. A head also counts the strings that ever joined its chain, and each string keeps
// the count it found (rank[]). Along a chain ranks fall by one per link, so for any string
// of the chain, the head's rank minus its own is its place in the walk: whether the budget
// would have reached it is known without walking there.
//
// Prefix chains. Once a match of n bytes is held, only strings sharing n + 1 bytes with the
// scan can be longer, and in a long hash chain most do not. Beside the hash chains run three
// chains of strings keyed by a hash of their first 4, 8 or 16 bytes. The search walks the
// shortest that still covers n + 1 bytes; candidates with another prefix (another string
// under the same key) are skipped, those with the scan's prefix are the hash chain's own
// candidates in the same newest-to-oldest order, so the first longest among them within the
// budget, as ranks tell, is the plain walk's choice. When the match grows past the chain's
// prefix the search moves to the next chain. Strings join the prefix chains lazily, each
// chain when a search is about to walk it, and only while it lags little; chains walked lately
// join along in the same pass over the strings.
//
// Bounds. A key can be crowded with strings of other prefixes (an input can be made so).
// A prefix walk may visit as many candidates as the hash walk would have up to the place it
// has settled, plus a detour; past that it hands back to the hash chain at that place and
// marks the key crowded until the window slides. A later search whose key is crowded and
// whose match already covers the chain's prefix walks the chain of the next string's key
// instead: a candidate sharing one byte more with the scan is the string before one sharing
// the prefix with the scan's next string, and strings made to collide in one key are
// scattered in the other (crowding both takes far more search). Such a shifted walk skips
// also the strings before another byte, so it marks crowded keys apart: a run of zeros after
// one other byte must not keep the walks of the zeros' own key off its chain. Else, and at the
// greedy levels, where strings inside long matches join no hash chain, it keeps to the hash
// chain. Every walk therefore visits at most the budget plus a fixed number of candidates,
// counting those of other prefixes, and every link must lead to an older string, or the entry
// fails with "no future" or "chain out of step".
//
// Fixed by the format's contract and the reference stream, so kept as they are: the tuning
// table, the hash of three bytes and its shift, the literal and distance buffer sizes and the
// 4,096-item early block end (they decide block boundaries), kTooFar, the order of the
// code-length codes, the bit layout of block headers, and the texts of the failed checks
// ("ct_init: length != 256", " 3_6?", "bad d_code", ...), the system's own texts.
#include "zip/deflate_state.h"
#include "zip/prefix_hash.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace zip_deflate {
namespace {

constexpr int kStoredBlock = 0;
constexpr int kStaticTrees = 1;
constexpr int kDynamicTrees = 2;

constexpr int kRepeat3To6 = 16;
constexpr int kZeros3To10 = 17;
constexpr int kZeros11To138 = 18;

constexpr int kExtraLengthBits[kLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int kExtraDistanceBits[kDistanceCodes] = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                    4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                    9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr int kExtraCodeLengthBits[kCodeLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                        0, 0, 0, 0, 0, 0, 2, 3, 7};
constexpr std::uint8_t kCodeLengthOrder[kCodeLengthCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                             11, 4,  12, 3, 13, 2, 14, 1, 15};

// From this level on, the lazy loop hashes every string; below it, the strings inside a long
// match join no chain.
constexpr int kFirstLazyLevel = 4;

struct Tuning {
    unsigned good, lazy, nice, chain;
};
constexpr Tuning kTuning[10] = {
    {0, 0, 0, 0},         {4, 4, 8, 4},         {4, 5, 16, 8},     {4, 6, 32, 32},
    {4, 4, 16, 16},       {8, 16, 32, 32},      {8, 16, 128, 128}, {8, 32, 128, 256},
    {32, 128, 258, 1024}, {32, 258, 258, 4096},
};

// ---------------------------------------------------------------- bit writer

void FlushOutput(State& s) {
    if (s.output_offset != 0) {
        s.flush(s.context, s.output, s.output_offset);
        // A flush that wrote nothing has told its caller; the bytes must not pile up.
        s.output_offset = 0;
    }
}

inline void PutShort(State& s, unsigned value) {
    if (s.output_offset + 2 > s.output_size) {
        FlushOutput(s);
    }
    s.output[s.output_offset] = static_cast<std::uint8_t>(value);
    s.output[s.output_offset + 1] = static_cast<std::uint8_t>(value >> 8);
    s.output_offset += 2;
}

inline void PutByte(State& s, unsigned value) {
    if (s.output_offset + 1 > s.output_size) {
        FlushOutput(s);
    }
    s.output[s.output_offset++] = static_cast<std::uint8_t>(value);
}

// The bit writer's fields, held in locals for a run of sends and put back at its end: a store
// of an output byte may alias any field, so fields read from the State would be read again
// after every store.
class BitSender {
public:
    explicit BitSender(State& s)
        : s_(s),
          buffer_(s.bit_buffer),
          count_(s.bit_count),
          sent_(s.bits_sent),
          output_(s.output),
          size_(s.output_size),
          offset_(s.output_offset) {}
    BitSender(const BitSender&) = delete;
    BitSender& operator=(const BitSender&) = delete;
    ~BitSender() {
        s_.bit_buffer = buffer_;
        s_.bit_count = count_;
        s_.bits_sent = sent_;
        s_.output_offset = offset_;
    }

    void Send(unsigned value, int length) {
        if (length < 1 || length > 15) {
            s_.error = "invalid length";
        }
        sent_ += static_cast<unsigned>(length);
        buffer_ |= std::uint64_t{value} << count_;
        count_ += length;
        // Two 16-bit units at a time: the same units in the same order as one at a time, so
        // the output buffer fills and flushes as before, at half the tests.
        if (count_ > 32) {
            PutUnits(static_cast<std::uint32_t>(buffer_));
            buffer_ >>= 32;
            count_ -= 32;
        }
    }

    void SendCode(int symbol, const TreeNode* tree) {
        Send(tree[symbol].freq_or_code, tree[symbol].dad_or_length);
    }

private:
    // Both units at once when both fit, else each as PutShort would: flushed when full.
    void PutUnits(std::uint32_t units) {
        if (offset_ + 4 <= size_) {
            const std::uint8_t bytes[4] = {
                static_cast<std::uint8_t>(units), static_cast<std::uint8_t>(units >> 8),
                static_cast<std::uint8_t>(units >> 16), static_cast<std::uint8_t>(units >> 24)};
            std::memcpy(output_ + offset_, bytes, sizeof bytes);
            offset_ += 4;
            return;
        }
        s_.output_offset = offset_;
        PutShort(s_, units & 0xFFFF);
        PutShort(s_, units >> 16);
        offset_ = s_.output_offset;
    }

    State& s_;
    std::uint64_t buffer_;
    int count_;
    std::uint64_t sent_;
    std::uint8_t* const output_;
    const std::uint32_t size_;
    std::uint32_t offset_;
};

inline void SendBits(State& s, unsigned value, int length) { BitSender(s).Send(value, length); }

inline void SendCode(State& s, int symbol, const TreeNode* tree) {
    SendBits(s, tree[symbol].freq_or_code, tree[symbol].dad_or_length);
}

void AlignToByte(State& s) {
    if (s.bit_count > 16) {
        PutShort(s, static_cast<unsigned>(s.bit_buffer & 0xFFFF));
        s.bit_buffer >>= 16;
        s.bit_count -= 16;
    }
    if (s.bit_count > 8) {
        PutShort(s, static_cast<unsigned>(s.bit_buffer & 0xFFFF));
    } else if (s.bit_count > 0) {
        PutByte(s, static_cast<unsigned>(s.bit_buffer & 0xFF));
    }
    if (s.flush_full_buffers) {
        FlushOutput(s);
    }
    s.bit_buffer = 0;
    s.bit_count = 0;
    s.bits_sent = (s.bits_sent + 7) & ~std::uint64_t{7};
}

unsigned ReverseBits(unsigned code, int length) {
    unsigned result = 0;
    do {
        result |= code & 1;
        code >>= 1;
        result <<= 1;
    } while (--length > 0);
    return result >> 1;
}

// ---------------------------------------------------------------- Huffman trees

inline unsigned DistanceCode(const State& s, unsigned distance) {
    return distance < 256 ? s.distance_code[distance] : s.distance_code[256 + (distance >> 7)];
}

void ResetBlock(State& s) {
    for (int n = 0; n < kLiteralLengthCodes; ++n) {
        s.literal_tree[n].freq_or_code = 0;
    }
    for (int n = 0; n < kDistanceCodes; ++n) {
        s.distance_tree[n].freq_or_code = 0;
    }
    for (int n = 0; n < kCodeLengthCodes; ++n) {
        s.code_length_tree[n].freq_or_code = 0;
    }
    s.literal_tree[kEndBlock].freq_or_code = 1;
    s.optimal_length = 0;
    s.static_length = 0;
    s.last_literal = 0;
    s.last_distance = 0;
    s.last_flags = 0;
    s.flags = 0;
    s.flag_bit = 1;
}

// Canonical codes from the code lengths, stored bit-reversed as they are sent.
void AssignCodes(State& s, TreeNode* tree, int max_code) {
    std::array<unsigned, kMaxBits + 1> next_code{};
    unsigned code = 0;
    for (int bits = 1; bits <= kMaxBits; ++bits) {
        code = (code + s.bit_length_count[bits - 1]) << 1;
        next_code[bits] = code;
    }
    if (code + s.bit_length_count[kMaxBits] - 1 != (1u << kMaxBits) - 1) {
        s.error = "inconsistent bit counts";
    }
    for (int n = 0; n <= max_code; ++n) {
        const int length = tree[n].dad_or_length;
        if (length != 0) {
            tree[n].freq_or_code =
                static_cast<std::uint16_t>(ReverseBits(next_code[length]++, length));
        }
    }
}

// The code tables are the same for every entry: built at the state's first entry only.
void SetUpTables(State& s) {
    if (s.tables_set_up) {
        return;
    }
    s.tables_set_up = true;
    int length = 0;
    int code = 0;
    for (code = 0; code < kLengthCodes - 1; ++code) {
        s.base_length[code] = length;
        for (int n = 0; n < (1 << kExtraLengthBits[code]); ++n) {
            s.length_code[length++] = static_cast<std::uint8_t>(code);
        }
    }
    if (length != 256) {
        s.error = "ct_init: length != 256";
    }
    // Length 258 has a code of its own.
    s.length_code[255] = static_cast<std::uint8_t>(code);

    int distance = 0;
    for (code = 0; code < 16; ++code) {
        s.base_distance[code] = distance;
        for (int n = 0; n < (1 << kExtraDistanceBits[code]); ++n) {
            s.distance_code[distance++] = static_cast<std::uint8_t>(code);
        }
    }
    if (distance != 256) {
        s.error = "ct_init: dist != 256";
    }
    distance >>= 7;  // from here on, distances / 128
    for (; code < kDistanceCodes; ++code) {
        s.base_distance[code] = distance << 7;
        for (int n = 0; n < (1 << (kExtraDistanceBits[code] - 7)); ++n) {
            s.distance_code[256 + distance++] = static_cast<std::uint8_t>(code);
        }
    }
    if (256 + distance != 512) {
        s.error = "ct_init: 256+dist != 512";
    }

    s.bit_length_count.fill(0);
    for (int n = 0; n <= kLiteralLengthCodes + 1; ++n) {
        const int bits = n <= 143 ? 8 : n <= 255 ? 9 : n <= 279 ? 7 : 8;
        s.static_literal_tree[n].dad_or_length = static_cast<std::uint16_t>(bits);
        ++s.bit_length_count[bits];
    }
    AssignCodes(s, s.static_literal_tree.data(), kLiteralLengthCodes + 1);
    for (int n = 0; n < kDistanceCodes; ++n) {
        s.static_distance_tree[n].dad_or_length = 5;
        s.static_distance_tree[n].freq_or_code = static_cast<std::uint16_t>(ReverseBits(n, 5));
    }
}

void SetUpDescriptors(State& s) {
    s.literal_descriptor = {s.literal_tree.data(),
                            s.static_literal_tree.data(),
                            kExtraLengthBits,
                            kLiterals + 1,
                            kLiteralLengthCodes,
                            kMaxBits,
                            0};
    s.distance_descriptor = {s.distance_tree.data(),
                             s.static_distance_tree.data(),
                             kExtraDistanceBits,
                             0,
                             kDistanceCodes,
                             kMaxBits,
                             0};
    s.code_length_descriptor = {
        s.code_length_tree.data(), nullptr, kExtraCodeLengthBits, 0, kCodeLengthCodes,
        kMaxCodeLengthBits,        0};
}

// A node in the building heap: its frequency and depth above, its index below. Nodes order
// by frequency, then depth; one compare of the upper half does both.
using HeapEntry = std::uint64_t;

inline HeapEntry Entry(std::uint32_t freq, std::uint8_t depth, int node) {
    return HeapEntry{freq << 8 | depth} << 32 | static_cast<std::uint32_t>(node);
}

inline std::uint32_t Weight(HeapEntry entry) { return static_cast<std::uint32_t>(entry >> 32); }

inline int Node(HeapEntry entry) { return static_cast<int>(entry & 0xFFFFFFFF); }

void SiftDown(HeapEntry* heap, int length, int k) {
    const HeapEntry v = heap[k];
    int j = k << 1;
    while (j <= length) {
        if (j < length) {
            // The lighter child, chosen without a branch: which one it is cannot be foreseen.
            j += static_cast<int>(Weight(heap[j + 1]) <= Weight(heap[j]));
        }
        if (Weight(v) <= Weight(heap[j])) {
            break;
        }
        heap[k] = heap[j];
        k = j;
        j <<= 1;
    }
    heap[k] = v;
}

// Code lengths from the finished tree, capped at the descriptor's maximum; the estimates of
// the block's size grow with every leaf.
void ComputeCodeLengths(State& s, TreeDescriptor& d) {
    TreeNode* const tree = d.dynamic_tree;
    s.bit_length_count.fill(0);
    tree[s.heap[s.heap_max]].dad_or_length = 0;  // the root

    int overflow = 0;
    int h = s.heap_max + 1;
    for (; h < kHeapSize; ++h) {
        const int n = s.heap[h];
        int bits = tree[tree[n].dad_or_length].dad_or_length + 1;
        if (bits > d.max_length) {
            bits = d.max_length;
            ++overflow;
        }
        tree[n].dad_or_length = static_cast<std::uint16_t>(bits);
        if (n > d.max_code) {
            continue;  // an inner node
        }
        ++s.bit_length_count[bits];
        const int extra = n >= d.extra_base ? d.extra_bits[n - d.extra_base] : 0;
        const std::uint32_t freq = tree[n].freq_or_code;
        s.optimal_length += freq * static_cast<std::uint32_t>(bits + extra);
        if (d.static_tree != nullptr) {
            s.static_length +=
                freq * static_cast<std::uint32_t>(d.static_tree[n].dad_or_length + extra);
        }
    }
    if (overflow == 0) {
        return;
    }
    do {
        int bits = d.max_length - 1;
        while (s.bit_length_count[bits] == 0) {
            --bits;
        }
        --s.bit_length_count[bits];
        s.bit_length_count[bits + 1] += 2;
        --s.bit_length_count[d.max_length];
        overflow -= 2;
    } while (overflow > 0);

    // Hand the lengths out again, longest first, in heap order.
    h = kHeapSize;
    for (int bits = d.max_length; bits != 0; --bits) {
        int n = s.bit_length_count[bits];
        while (n != 0) {
            const int m = s.heap[--h];
            if (m > d.max_code) {
                continue;
            }
            if (tree[m].dad_or_length != bits) {
                s.optimal_length +=
                    static_cast<std::uint32_t>(bits - tree[m].dad_or_length) * tree[m].freq_or_code;
                tree[m].dad_or_length = static_cast<std::uint16_t>(bits);
            }
            --n;
        }
    }
}

void BuildTree(State& s, TreeDescriptor& d) {
    TreeNode* const tree = d.dynamic_tree;
    const TreeNode* const static_tree = d.static_tree;
    std::array<HeapEntry, kHeapSize> heap;
    int length = 0;
    int max_code = -1;
    s.heap_max = kHeapSize;
    for (int n = 0; n < d.elements; ++n) {
        if (tree[n].freq_or_code != 0) {
            heap[++length] = Entry(tree[n].freq_or_code, 0, max_code = n);
        } else {
            tree[n].dad_or_length = 0;
        }
    }
    // A code needs two symbols at least.
    while (length < 2) {
        const int added = max_code < 2 ? ++max_code : 0;
        tree[added].freq_or_code = 1;
        heap[++length] = Entry(1, 0, added);
        --s.optimal_length;
        if (static_tree != nullptr) {
            s.static_length -= static_tree[added].dad_or_length;
        }
    }
    d.max_code = max_code;

    for (int n = length / 2; n >= 1; --n) {
        SiftDown(heap.data(), length, n);
    }
    int node = d.elements;
    do {
        const HeapEntry least = heap[1];
        heap[1] = heap[length--];
        SiftDown(heap.data(), length, 1);
        const HeapEntry next = heap[1];
        const int n = Node(least);
        const int m = Node(next);
        s.heap[--s.heap_max] = n;
        s.heap[--s.heap_max] = m;
        const auto freq = static_cast<std::uint16_t>(tree[n].freq_or_code + tree[m].freq_or_code);
        tree[node].freq_or_code = freq;
        const auto depth =
            static_cast<std::uint8_t>(std::max(Weight(least) & 0xFF, Weight(next) & 0xFF) + 1);
        tree[n].dad_or_length = tree[m].dad_or_length = static_cast<std::uint16_t>(node);
        heap[1] = Entry(freq, depth, node++);
        SiftDown(heap.data(), length, 1);
    } while (length >= 2);
    s.heap[--s.heap_max] = Node(heap[1]);

    ComputeCodeLengths(s, d);
    AssignCodes(s, tree, max_code);
}

// The runs of a tree's code lengths, counted into the code-length tree or sent with it.
template <bool kSend>
void WalkCodeLengths(State& s, TreeNode* tree, int max_code) {
    TreeNode* const lengths = s.code_length_tree.data();
    int previous = -1;
    int next = tree[0].dad_or_length;
    int count = 0;
    int max_count = next == 0 ? 138 : 7;
    int min_count = next == 0 ? 3 : 4;
    if constexpr (!kSend) {
        tree[max_code + 1].dad_or_length = 0xFFFF;  // stops the scan
    }
    for (int n = 0; n <= max_code; ++n) {
        const int current = next;
        next = tree[n + 1].dad_or_length;
        if (++count < max_count && current == next) {
            continue;
        }
        if (count < min_count) {
            if constexpr (kSend) {
                do {
                    SendCode(s, current, lengths);
                } while (--count != 0);
            } else {
                lengths[current].freq_or_code =
                    static_cast<std::uint16_t>(lengths[current].freq_or_code + count);
            }
        } else if (current != 0) {
            if constexpr (kSend) {
                if (current != previous) {
                    SendCode(s, current, lengths);
                    --count;
                }
                if (count < 3 || count > 6) {
                    s.error = " 3_6?";
                }
                SendCode(s, kRepeat3To6, lengths);
                SendBits(s, static_cast<unsigned>(count - 3), 2);
            } else {
                if (current != previous) {
                    ++lengths[current].freq_or_code;
                }
                ++lengths[kRepeat3To6].freq_or_code;
            }
        } else if (count <= 10) {
            if constexpr (kSend) {
                SendCode(s, kZeros3To10, lengths);
                SendBits(s, static_cast<unsigned>(count - 3), 3);
            } else {
                ++lengths[kZeros3To10].freq_or_code;
            }
        } else {
            if constexpr (kSend) {
                SendCode(s, kZeros11To138, lengths);
                SendBits(s, static_cast<unsigned>(count - 11), 7);
            } else {
                ++lengths[kZeros11To138].freq_or_code;
            }
        }
        count = 0;
        previous = current;
        if (next == 0) {
            max_count = 138;
            min_count = 3;
        } else if (current == next) {
            max_count = 6;
            min_count = 3;
        } else {
            max_count = 7;
            min_count = 4;
        }
    }
}

// Answers the index in sending order of the last code-length code to send.
int BuildCodeLengthTree(State& s) {
    WalkCodeLengths<false>(s, s.literal_tree.data(), s.literal_descriptor.max_code);
    WalkCodeLengths<false>(s, s.distance_tree.data(), s.distance_descriptor.max_code);
    BuildTree(s, s.code_length_descriptor);
    int max_index = kCodeLengthCodes - 1;
    for (; max_index >= 3; --max_index) {
        if (s.code_length_tree[kCodeLengthOrder[max_index]].dad_or_length != 0) {
            break;
        }
    }
    s.optimal_length += 3 * (static_cast<std::uint32_t>(max_index) + 1) + 5 + 5 + 4;
    return max_index;
}

void SendAllTrees(State& s, int literal_codes, int distance_codes, int length_codes) {
    if (literal_codes < 257 || distance_codes < 1 || length_codes < 4) {
        s.error = "not enough codes";
    }
    if (literal_codes > kLiteralLengthCodes || distance_codes > kDistanceCodes ||
        length_codes > kCodeLengthCodes) {
        s.error = "too many codes";
    }
    SendBits(s, static_cast<unsigned>(literal_codes - 257), 5);
    SendBits(s, static_cast<unsigned>(distance_codes - 1), 5);
    SendBits(s, static_cast<unsigned>(length_codes - 4), 4);
    for (int rank = 0; rank < length_codes; ++rank) {
        SendBits(s, s.code_length_tree[kCodeLengthOrder[rank]].dad_or_length, 3);
    }
    WalkCodeLengths<true>(s, s.literal_tree.data(), literal_codes - 1);
    WalkCodeLengths<true>(s, s.distance_tree.data(), distance_codes - 1);
}

void SendSymbols(State& s, const TreeNode* literal_tree, const TreeNode* distance_tree) {
    unsigned lx = 0;
    unsigned dx = 0;
    unsigned fx = 0;
    unsigned flag = 0;
    const unsigned last_literal = s.last_literal;
    BitSender bits(s);
    if (last_literal != 0) {
        do {
            if ((lx & 7) == 0) {
                flag = s.flag_buffer[fx++];
            }
            unsigned value = s.literal_buffer[lx++];
            if ((flag & 1) == 0) {
                bits.SendCode(static_cast<int>(value), literal_tree);
            } else {
                unsigned code = s.length_code[value];
                bits.SendCode(static_cast<int>(code) + kLiterals + 1, literal_tree);
                int extra = kExtraLengthBits[code];
                if (extra != 0) {
                    bits.Send(value - static_cast<unsigned>(s.base_length[code]), extra);
                }
                unsigned distance = s.distance_buffer[dx++];
                code = DistanceCode(s, distance);
                if (code >= kDistanceCodes) {
                    s.error = "bad d_code";
                    code = kDistanceCodes - 1;  // keeps the tables in bounds
                }
                bits.SendCode(static_cast<int>(code), distance_tree);
                extra = kExtraDistanceBits[code];
                if (extra != 0) {
                    bits.Send(distance - static_cast<unsigned>(s.base_distance[code]), extra);
                }
            }
            flag >>= 1;
        } while (lx < last_literal);
    }
    bits.SendCode(kEndBlock, literal_tree);
}

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

// ---------------------------------------------------------------- LZ77

// The hash of a string from that of the string before it and the string's last byte.
inline unsigned RollHash(unsigned hash, unsigned byte) {
    return ((hash << kHashShift) ^ byte) & kHashMask;
}

inline void UpdateHash(State& s, unsigned byte) { s.hash = RollHash(s.hash, byte); }

// Puts the string at `at`, whose hash is `hash`, at the head of its chain; answers the head
// it displaced.
inline unsigned LinkString(State& s, unsigned hash, unsigned at) {
    State::Head& entry = s.head[hash];
    const unsigned head = entry.position;
    const unsigned slot = at & kWindowMask;
    s.chain[slot] = static_cast<std::uint16_t>(head);
    s.rank[slot] = entry.count;
    entry = {static_cast<std::uint16_t>(at), static_cast<std::uint16_t>(entry.count + 1)};
    return head;
}

// Inserts the string at `at` and answers the previous head of its chain.
inline unsigned InsertString(State& s, unsigned at) {
    UpdateHash(s, s.window[at + kMinMatch - 1]);
    const unsigned head = LinkString(s, s.hash, at);
    // The next string's head is wanted soon: start fetching it while this one is searched.
    __builtin_prefetch(&s.head[RollHash(s.hash, s.window[at + kMinMatch])]);
    return head;
}

// Inserts the strings from `first` to `last`, those inside a match. One follows the other, so
// the rolling hash stays in a register and no head is fetched ahead.
inline void InsertStrings(State& s, unsigned first, unsigned last) {
    unsigned hash = s.hash;
    for (unsigned at = first; at <= last; ++at) {
        hash = RollHash(hash, s.window[at + kMinMatch - 1]);
        LinkString(s, hash, at);
    }
    s.hash = hash;
}

inline std::uint64_t Load64(const std::uint8_t* p) {
    std::uint64_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// Bytes equal at a and b, from 0 up to `limit`, eight at a time.
inline unsigned MatchLength(const std::uint8_t* a, const std::uint8_t* b, unsigned limit) {
    unsigned length = 0;
    while (length < limit) {
        const std::uint64_t difference = Load64(a + length) ^ Load64(b + length);
        if (difference != 0) {
            length += static_cast<unsigned>(__builtin_ctzll(difference)) >> 3;
            return std::min(length, limit);
        }
        length += 8;
    }
    return limit;
}

inline std::uint16_t Load16(const std::uint8_t* p) {
    std::uint16_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

inline std::uint32_t Load32(const std::uint8_t* p) {
    std::uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

constexpr unsigned kPrefixLength[kPrefixChains] = {4, 8, 16};
// A search leaves the hash chain for a prefix chain when that chain lags fewer strings behind
// than kCheapJoin, or than kJoinPerVisit for each candidate the walk has looked at.
constexpr unsigned kCheapJoin = 1024;
constexpr unsigned kJoinPerVisit = 128;
// Strings of other prefixes that share a prefix chain's key are skipped at a cost: a prefix
// chain's walk may visit this many candidates more than the hash chain's walk would over the
// same strings before the search goes back to the hash chain.
constexpr unsigned kDetour = 16;
// A chain walked within this many strings joins along when another chain joins: on natural
// input every chain is walked that often, and one pass for all costs less than each catching
// up apart, or than searches that find a chain lagging and keep to the hash chain. A chain
// that no search walks, as on input whose matches never grow, stops joining a window after.
constexpr unsigned kJoinAlong = kWindowSize;
constexpr unsigned kAllChains = (1u << kPrefixChains) - 1;
// A prefix walk looks at the ranks of the strings it passes every this many candidates: past
// the budget it ends; else the place it has settled allows it more candidates.
constexpr unsigned kLook = 8;

// Puts the string at `at`, whose bytes are at `bytes`, into prefix chain kChain.
template <unsigned kChain>
inline void JoinString(State& s, const std::uint8_t* bytes, unsigned at) {
    const unsigned key = PrefixHash<kPrefixLength[kChain]>(bytes);
    s.prefix_chain[kChain][at & kWindowMask] = s.prefix_head[kChain][key];
    s.prefix_head[kChain][key] = static_cast<std::uint16_t>(at);
}

// Puts the strings from `from` to `last` into the prefix chains of kMask, one pass for all:
// the chains walked together share the loop.
template <unsigned kMask>
void JoinTogether(State& s, unsigned from, unsigned last) {
    const std::uint8_t* const window = s.window.data();
    for (unsigned at = from; at <= last; ++at) {
        if constexpr ((kMask & 1) != 0) {
            JoinString<0>(s, window + at, at);
        }
        if constexpr ((kMask & 2) != 0) {
            JoinString<1>(s, window + at, at);
        }
        if constexpr ((kMask & 4) != 0) {
            JoinString<2>(s, window + at, at);
        }
    }
}

// The first string that prefix chain `chain` lacks for a search at `last`. Strings at the
// farthest distance or beyond are out of reach of this search and of every later one.
inline unsigned FirstToJoin(const State& s, unsigned chain, unsigned last) {
    return std::max(s.prefix_next[chain], last > kMaxDistance ? last - kMaxDistance + 1 : 0u);
}

// Whether every prefix chain lacks the same strings.
inline bool InStep(const State& s) {
    return std::all_of(s.prefix_next.begin(), s.prefix_next.end(),
                       [&](unsigned next) { return next == s.prefix_next[0]; });
}

// Puts every string up to `last` into the prefix chains of `wanted`, one bit per chain: those
// that lag more than the others catch up apart, then all go on together.
void JoinPrefixChains(State& s, unsigned wanted, unsigned last) {
    std::array<unsigned, kPrefixChains> firsts{};
    unsigned members = 0;
    unsigned start = 0;
    for (unsigned chain = 0; chain < kPrefixChains; ++chain) {
        firsts[chain] = FirstToJoin(s, chain, last);
        if ((wanted >> chain & 1) != 0 && firsts[chain] <= last) {
            members |= 1u << chain;
            start = std::max(start, firsts[chain]);
        }
    }
    if ((members & 1) != 0 && firsts[0] < start) {
        JoinTogether<1>(s, firsts[0], start - 1);
    }
    if ((members & 2) != 0 && firsts[1] < start) {
        JoinTogether<2>(s, firsts[1], start - 1);
    }
    if ((members & 4) != 0 && firsts[2] < start) {
        JoinTogether<4>(s, firsts[2], start - 1);
    }
    // Each pass by name, not through a table: so they inline here, which the log corpus feels.
    switch (members) {
        case 1:
            JoinTogether<1>(s, start, last);
            break;
        case 2:
            JoinTogether<2>(s, start, last);
            break;
        case 3:
            JoinTogether<3>(s, start, last);
            break;
        case 4:
            JoinTogether<4>(s, start, last);
            break;
        case 5:
            JoinTogether<5>(s, start, last);
            break;
        case 6:
            JoinTogether<6>(s, start, last);
            break;
        case 7:
            JoinTogether<7>(s, start, last);
            break;
        default:
            return;
    }
    for (unsigned chain = 0; chain < kPrefixChains; ++chain) {
        if ((members >> chain & 1) != 0) {
            s.prefix_next[chain] = last + 1;
        }
    }
}

struct Search {
    const std::uint8_t* window;
    const std::uint8_t* scan;
    unsigned position;
    unsigned limit;
    unsigned nice;
    unsigned budget;
    std::uint16_t head_rank;
    unsigned best;
    unsigned match_start;
    // How far the hash chain's walk is settled: up to `known`, the `known_place`-th string of
    // the chain (the head is the 0th), it holds best and match_start as they are now.
    unsigned known;
    unsigned known_place;
    // The prefix chain is walked from the string `shift` bytes on from the scan: 0, or 1 when
    // strings of other prefixes crowd the scan's own key.
    unsigned shift;
    const char* fault;  // a link that does not lead back to an older string
};

// Every link leads to an older string, so a walk that checks that each candidate lies before
// the last one ends, and reads no byte past the search's position, whatever the tables hold.
inline bool LeadsBack(Search& search, unsigned candidate, unsigned previous) {
    if (candidate < previous) {
        return true;
    }
    search.fault = candidate >= search.position ? "no future" : "chain out of step";
    return false;
}

inline void Settle(Search& search, unsigned candidate, unsigned place) {
    if (place > search.known_place) {
        search.known = candidate;
        search.known_place = place;
    }
}

// A string's place in the hash chain, from the ranks; meaningful for strings of the chain only.
inline unsigned Place(const State& s, const Search& search, unsigned candidate) {
    return static_cast<std::uint16_t>(search.head_rank - s.rank[candidate & kWindowMask]);
}

// The prefix chain that a search holding a match of `best` bytes walks first.
inline unsigned FirstChain(unsigned best) {
    return best < kPrefixLength[1] - 1 ? 0 : best < kPrefixLength[2] - 1 ? 1 : 2;
}

inline unsigned ScanKey(const Search& search, unsigned chain, unsigned shift) {
    const std::uint8_t* const from = search.scan + shift;
    return chain == 0   ? PrefixHash<4>(from)
           : chain == 1 ? PrefixHash<8>(from)
                        : PrefixHash<16>(from);
}

// The prefix chains pay once a match is held, unless the chain lags far behind: then the
// input has had few searches that reached it, and catching up would cost more than the walk
// of the hash chain, until that walk proves long. `place` is where the hash chain's walk stands.
inline bool WorthJoining(const State& s, const Search& search, unsigned chain, unsigned place) {
    const unsigned next = s.prefix_next[chain];  // past the position once joined up to it
    const unsigned lag = next > search.position ? 0 : search.position - next;
    return lag < kCheapJoin || lag < kJoinPerVisit * (place + 1);
}

inline bool Crowded(const State& s, const Search& search, unsigned chain, unsigned shift) {
    const unsigned key = ScanKey(search, chain, shift);
    return (s.crowded[kShifts * chain + shift][key >> 6] >> (key & 63) & 1) != 0;
}

inline void MarkCrowded(State& s, const Search& search, unsigned chain, unsigned shift) {
    const unsigned key = ScanKey(search, chain, shift);
    s.crowded[kShifts * chain + shift][key >> 6] |= std::uint64_t{1} << (key & 63);
}

// Where a prefix chain can be walked for the scan: from its own string, or, when strings of
// other prefixes crowd that key, from the next string's key, which holds the scan's
// candidates one byte on. That chain filters one byte more, so it serves only a match that
// already covers the chain's prefix, and only where every string is in the hash chain: the
// string before one of the chain must be a candidate of the plain walk. Answers false when no
// key is open.
inline bool OpenShift(const State& s, Search& search, unsigned chain, unsigned best) {
    const unsigned shifts = best >= kPrefixLength[chain] && s.level >= kFirstLazyLevel ? 2 : 1;
    for (unsigned shift = 0; shift < shifts; ++shift) {
        if (!Crowded(s, search, chain, shift)) {
            search.shift = shift;
            return true;
        }
    }
    return false;
}

// Walks the hash chain from `candidate`, its `place`-th string, while the budget and the limit
// allow; a candidate counts when its bytes at best - 1 and best and its first two agree with
// the scan. With `may_leave`, answers false once a match of three bytes or more is held and the
// prefix chains should take over, the walk settled up to where it left; otherwise, and when the
// search is over, true.
[[gnu::always_inline]] inline bool WalkHashChain(const State& s, Search& search, unsigned candidate,
                                                 unsigned place, unsigned previous,
                                                 bool may_leave) {
    // The walk's own copies, kept in registers: stores through `search` would make every
    // later load of the tables wait on them.
    const std::uint8_t* const window = search.window;
    const std::uint8_t* const scan = search.scan;
    const std::uint16_t* const links = s.chain.data();
    const unsigned limit = search.limit;
    const unsigned budget = search.budget;
    const unsigned nice = search.nice;
    unsigned best = search.best;
    unsigned match_start = search.match_start;
    std::uint16_t end_pair = Load16(scan + best - 1);
    const std::uint16_t start_pair = Load16(scan);
    // The walk may leave once it holds a match this long; candidates it may still visit.
    unsigned leave_from = may_leave ? kMinMatch : kMaxMatch + 1;
    unsigned left = place < budget ? budget - place - 1 : 0;
    bool over = true;
    for (bool going = LeadsBack(search, candidate, previous); going;) {
        const std::uint8_t* const match = window + candidate;
        if (Load16(match + best - 1) == end_pair && Load16(match) == start_pair) {
            const unsigned length = 2 + MatchLength(scan + 2, match + 2, kMaxMatch - 2);
            if (length > best) {
                match_start = candidate;
                best = length;
                if (length >= nice) {
                    break;
                }
                end_pair = Load16(scan + best - 1);
            }
        }
        const unsigned next = links[candidate & kWindowMask];
        if (next <= limit || left == 0) {
            break;
        }
        if (best >= leave_from) [[unlikely]] {
            const unsigned at = budget - 1 - left;
            if (WorthJoining(s, search, FirstChain(best), at)) {
                if (OpenShift(s, search, FirstChain(best), best)) {
                    search.known = candidate;
                    search.known_place = at;
                    over = false;
                    break;
                }
                leave_from = kMaxMatch + 1;
            }
        }
        going = LeadsBack(search, next, candidate);
        candidate = next;
        --left;
    }
    search.best = best;
    search.match_start = match_start;
    return over;
}

enum class Walk { kDone, kNextChain, kHashChain };

// The first kLength bytes of the scan, held to compare candidates with.
template <unsigned kLength>
struct PrefixOf {
    std::uint64_t low;
    std::uint64_t high;
    explicit PrefixOf(const std::uint8_t* p)
        : low(kLength == 4 ? Load32(p) : Load64(p)), high(kLength == 16 ? Load64(p + 8) : 0) {}
    bool Matches(const std::uint8_t* p) const {
        if constexpr (kLength == 4) {
            return Load32(p) == low;
        } else if constexpr (kLength == 8) {
            return Load64(p) == low;
        } else {
            return ((Load64(p) ^ low) | (Load64(p + 8) ^ high)) == 0;
        }
    }
};

// Walks the chain of strings whose first kLength bytes share a key with the scan's, or with
// the string kShift bytes on from it: then each string of the chain stands for the candidate
// kShift bytes before it. Those of the scan's prefix hold all that can beat the best match so
// far, in the hash chain's order; the others only cost. Answers kNextChain when the best match
// has grown to `next_best`, kHashChain when strings of other prefixes crowd the chain so that
// the hash chain is the cheaper walk on from search.known, kDone when the search is over.
// Visits at most the budget and kDetour candidates. Out of line, one function per chain and
// shift, so that each loop keeps its values in registers.
template <unsigned kChain, unsigned kShift>
[[gnu::noinline]] Walk WalkPrefixChain(const State& s, unsigned first, Search& search,
                                       unsigned next_best) {
    constexpr unsigned kLength = kPrefixLength[kChain];
    const std::uint8_t* const scan = search.scan;
    const PrefixOf<kLength> prefix(scan + kShift);
    const std::uint8_t first_byte = scan[0];
    unsigned best = search.best;
    std::uint16_t end_pair = Load16(scan + best - 1);
    const unsigned detour = std::min(kDetour, search.budget);
    // This walk may visit as many candidates as the hash chain's walk up to the settled place
    // would, and a detour more. It looks at the ranks every kLook visits or so (at visit
    // `next_look`, when `quota` runs out): there it settles, and ends once past the budget.
    unsigned allowance = search.known_place + 1 + detour;
    unsigned quota = std::min(allowance, kLook);
    unsigned next_look = quota + 1;
    std::size_t last_of_prefix = 0;  // none yet: position 0 is never a candidate
    // A link must lead below the last one and above the limit: one unsigned test for both.
    const std::size_t lowest = search.limit + kShift + 1;
    std::size_t span = search.position + kShift - lowest;
    Walk walk = Walk::kDone;
    std::size_t link = first;
    for (;;) {
        const std::size_t above = link - lowest;
        if (above >= span) [[unlikely]] {
            if (link >= lowest) {
                LeadsBack(search, static_cast<unsigned>(link),
                          static_cast<unsigned>(span + lowest));
            }
            break;
        }
        span = above;
        if (quota == 0) [[unlikely]] {
            const unsigned visits = next_look;
            if (last_of_prefix != 0) {
                const unsigned place = Place(s, search, static_cast<unsigned>(last_of_prefix));
                if (place >= search.budget) {
                    break;
                }
                Settle(search, static_cast<unsigned>(last_of_prefix), place);
                allowance = search.known_place + 1 + detour;
            }
            if (visits > allowance) {
                walk = Walk::kHashChain;
                break;
            }
            const unsigned step = std::min(allowance - visits, kLook);
            quota = step + 1;
            next_look = visits + step + 1;
        }
        --quota;
        const std::size_t candidate = link - kShift;
        const std::uint8_t* const match = s.window.data() + candidate;
        link = s.prefix_chain[kChain][link & kWindowMask];
        if (!prefix.Matches(match + kShift) || (kShift != 0 && match[0] != first_byte)) [[likely]] {
            continue;
        }
        last_of_prefix = candidate;
        if (Load16(match + best - 1) != end_pair) {
            continue;
        }
        // Ranks only grow along the chain, so the budget must stop the walk before a candidate
        // is measured.
        const unsigned place = Place(s, search, static_cast<unsigned>(candidate));
        if (place >= search.budget) {
            break;
        }
        constexpr unsigned kKnown = kLength + kShift;
        const unsigned length =
            kKnown + MatchLength(scan + kKnown, match + kKnown, kMaxMatch - kKnown);
        if (length > best) {
            search.match_start = static_cast<unsigned>(candidate);
            best = length;
            if (length >= search.nice) {
                break;
            }
            if (length >= next_best) {
                Settle(search, static_cast<unsigned>(candidate), place);
                walk = Walk::kNextChain;
                break;
            }
            end_pair = Load16(scan + best - 1);
        }
    }
    search.best = best;
    return walk;
}

// The strings up to the position join first. The next string has not joined: its key's head
// is where its own link would point.
template <unsigned kChain>
Walk WalkChainFrom(State& s, Search& search, unsigned next_best) {
    constexpr unsigned kLength = kPrefixLength[kChain];
    const unsigned position = search.position;
    if (s.prefix_next[kChain] <= position) {
        // Chains walked lately are likely walked again soon: they join in the same pass.
        unsigned along = 0;
        for (unsigned chain = 0; chain < kPrefixChains; ++chain) {
            if (chain != kChain && position < s.join_along_until[chain]) {
                along |= 1u << chain;
            }
        }
        if (along == 0) {
            // A chain walked alone, as on input whose matches seldom grow: its joins are a
            // few strings each, so they skip the set-up of a joint pass.
            JoinTogether<1u << kChain>(s, FirstToJoin(s, kChain, position), position);
            s.prefix_next[kChain] = position + 1;
        } else if ((along | 1u << kChain) == kAllChains && InStep(s)) {
            // The usual case on natural input: every chain walked lately and none behind the
            // others, so one pass inline here, without the call and set-up of a catch-up.
            JoinTogether<kAllChains>(s, FirstToJoin(s, kChain, position), position);
            s.prefix_next.fill(position + 1);
        } else {
            JoinPrefixChains(s, along | 1u << kChain, position);
        }
    }
    s.join_along_until[kChain] = position + kJoinAlong;
    if (search.shift == 0) {
        return WalkPrefixChain<kChain, 0>(s, s.prefix_chain[kChain][position & kWindowMask], search,
                                          next_best);
    }
    const unsigned first = s.prefix_head[kChain][PrefixHash<kLength>(search.scan + 1)];
    return WalkPrefixChain<kChain, 1>(s, first, search, next_best);
}

// Walks prefix chain `chain` from the key that OpenShift chose.
Walk WalkChain(State& s, Search& search, unsigned chain) {
    switch (chain) {
        case 0:
            return WalkChainFrom<0>(s, search, kPrefixLength[1] - 1);
        case 1:
            return WalkChainFrom<1>(s, search, kPrefixLength[2] - 1);
        default:
            return WalkChainFrom<2>(s, search, kMaxMatch + 1);
    }
}

// Chooses the match that the plain walk of the hash chain from `head` would: the first of the
// longest among the strings it reaches within the budget, or the first as long as nice. Once
// a match of three bytes or more is held, only strings that share more bytes can be longer,
// and the walk moves to the prefix chains of those, which skip the others of the hash chain in
// its order. Where strings of other prefixes crowd a prefix chain, the walk goes back to the
// hash chain where it stood. Each walk is bounded by the budget or twice it.
//
// In: `head`, the previous head of the chain of the string at s.position, just inserted
// (non-zero, within the farthest distance); s.previous_length and s.match_start, the match
// held from the position before, which a candidate must beat; s.nice_match, s.max_chain and
// s.good_match; the window with at least kMinLookahead bytes from the position.
// Out: the length of the best match, at least s.previous_length (it may run past the
// lookahead; the caller cuts it). Leaves s.match_start at that match, the prefix chains
// joined up to the position for those walked, a key marked crowded when its walk handed back,
// and s.error set when the lookahead was short or a link did not lead back.
// Inlined into both loops: the search's fields then stay in registers.
[[gnu::always_inline]] inline unsigned LongestMatch(State& s, unsigned head) {
    Search search{};
    search.window = s.window.data();
    search.position = s.position;
    search.scan = search.window + search.position;
    search.limit = search.position > kMaxDistance ? search.position - kMaxDistance : 0;
    search.nice = s.nice_match;
    search.best = s.previous_length;
    search.match_start = s.match_start;
    search.budget = s.max_chain;
    if (s.previous_length >= s.good_match) {
        search.budget >>= 2;
    }
    search.budget = std::max(search.budget, 1u);  // level 0's row: look at the head alone
    if (search.position > s.window_size - kMinLookahead) {
        s.error = "insufficient lookahead";
    }
    if (search.position + kMaxMatch > s.window_size) {
        s.error = "wild scan";
    }
    if (!WalkHashChain(s, search, head, 0, search.position, true)) {
        search.head_rank = s.rank[head & kWindowMask];
        // The hash walk chose the first chain and its shift.
        unsigned chain = FirstChain(search.best);
        Walk walk = WalkChain(s, search, chain);
        for (;;) {
            if (walk == Walk::kHashChain) {
                MarkCrowded(s, search, chain, search.shift);
                break;
            }
            if (walk == Walk::kDone) {
                break;
            }
            chain = FirstChain(search.best);
            if (!OpenShift(s, search, chain, search.best) ||
                !WorthJoining(s, search, chain, search.known_place)) {
                walk = Walk::kHashChain;
                break;
            }
            walk = WalkChain(s, search, chain);
        }
        if (walk == Walk::kHashChain) {
            const unsigned next = s.chain[search.known & kWindowMask];
            if (next > search.limit && search.known_place + 1 < search.budget) {
                WalkHashChain(s, search, next, search.known_place + 1, search.known, false);
            }
        }
    }
    if (search.fault != nullptr) {
        s.error = search.fault;
    }
    s.match_start = search.match_start;
    return search.best;
}

std::uint32_t ReadInput(State& s, std::uint8_t* into, std::uint32_t size) {
    return s.read(s.context, into, size);
}

// A position that slides out of the window becomes 0, the end of every chain. Subtracting the
// smaller of the position and the window's size is that rule in a form the compiler runs eight
// positions to an instruction; kept out of line, as within a loop over the tables it does not.
template <std::size_t kSize>
[[gnu::noinline]] void SlidePositions(std::array<std::uint16_t, kSize>& table) {
    for (auto& value : table) {
        value = static_cast<std::uint16_t>(value - std::min<std::uint16_t>(value, kWindowSize));
    }
}

void FillWindow(State& s) {
    do {
        unsigned more = s.window_size - s.lookahead - s.position;
        if (s.position >= kWindowSize + kMaxDistance && s.sliding) {
            std::memcpy(s.window.data(), s.window.data() + kWindowSize, kWindowSize);
            s.match_start -= kWindowSize;
            s.position -= kWindowSize;
            s.block_start -= static_cast<std::int32_t>(kWindowSize);
            for (auto& entry : s.head) {
                entry.position = static_cast<std::uint16_t>(
                    entry.position - std::min<std::uint16_t>(entry.position, kWindowSize));
            }
            SlidePositions(s.chain);
            for (auto& table : s.prefix_head) {
                SlidePositions(table);
            }
            for (auto& table : s.prefix_chain) {
                SlidePositions(table);
            }
            for (auto& next : s.prefix_next) {
                next = next >= kWindowSize ? next - kWindowSize : 0;
            }
            for (auto& until : s.join_along_until) {
                until = until >= kWindowSize ? until - kWindowSize : 0;
            }
            // What crowds a chain slides out with the strings.
            for (auto& bits : s.crowded) {
                bits.fill(0);
            }
            more += kWindowSize;
        }
        if (s.end_of_input) {
            return;
        }
        if (more < 2) {
            s.error = "more < 2";
            return;  // no room to read into: nothing would change
        }
        const std::uint32_t got = ReadInput(s, s.window.data() + s.position + s.lookahead, more);
        if (got == 0 || got == kReadEnd) {
            s.end_of_input = true;
        } else {
            s.lookahead += got;
        }
    } while (s.lookahead < kMinLookahead && !s.end_of_input);
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

// Clearing the heads that an entry's strings set costs less than clearing them all up to this
// many strings: one store per string into the hash heads, three hashes and stores per string
// into the prefix heads.
constexpr unsigned kCheapHashClear = 16384;
constexpr unsigned kCheapPrefixClear = 2048;

template <unsigned kChain>
void ClearPrefixHeads(State& s, bool failed) {
    auto& heads = s.prefix_head[kChain];
    const unsigned joined = s.prefix_next[kChain];
    if (failed || joined > kCheapPrefixClear) {
        heads.fill(0);
    } else {
        for (unsigned at = 0; at < joined; ++at) {
            heads[PrefixHash<kPrefixLength[kChain]>(s.window.data() + at)] = 0;
        }
    }
}

// Leaves every chain empty for the next entry. The last entry left the window as it was at its
// end, its input ending at `position`, every string it hashed still in place, and the strings
// before `prefix_next` in the prefix chains: their keys name every head it set. After a failed
// entry the tables may be out of step, and everything is cleared.
void ClearHeads(State& s, bool failed) {
    const std::uint8_t* const window = s.window.data();
    const unsigned end = s.position;
    if (failed || end > kCheapHashClear) {
        std::memset(s.head.data(), 0, sizeof s.head);
    } else {
        for (unsigned at = 0; at + kMinMatch <= end; ++at) {
            s.head[RollHash(RollHash(window[at], window[at + 1]), window[at + 2])].position = 0;
        }
    }
    ClearPrefixHeads<0>(s, failed);
    ClearPrefixHeads<1>(s, failed);
    ClearPrefixHeads<2>(s, failed);
    std::memset(s.crowded.data(), 0, sizeof s.crowded);
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
