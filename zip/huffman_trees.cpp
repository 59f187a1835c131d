#include "zip/huffman_trees.h"

#include <algorithm>

#include "zip/bit_writer.h"

namespace zip_deflate {
namespace {

constexpr int kRepeat3To6 = 16;
constexpr int kZeros3To10 = 17;
constexpr int kZeros11To138 = 18;

constexpr int kExtraLengthBits[kLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int kExtraCodeLengthBits[kCodeLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                        0, 0, 0, 0, 0, 0, 2, 3, 7};
constexpr std::uint8_t kCodeLengthOrder[kCodeLengthCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                             11, 4,  12, 3, 13, 2, 14, 1, 15};

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

}  // namespace

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

}  // namespace zip_deflate
