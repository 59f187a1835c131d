// The Huffman trees: the code tables of lengths and distances, the trees built from a block's
// counts, and the sending of the trees and of the block's symbols with them. The trees and
// buffers are in deflate_state.h; deflate.cpp counts into them and chooses the block's kind.
// Internal to the compressor.
#pragma once

#include "zip/deflate_state.h"

namespace zip_deflate {

inline constexpr int kExtraDistanceBits[kDistanceCodes] = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                           4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                           9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

inline unsigned DistanceCode(const State& s, unsigned distance) {
    return distance < 256 ? s.distance_code[distance] : s.distance_code[256 + (distance >> 7)];
}

// Starts a block: no symbol counted, none buffered. Inline: at every entry and block end.
inline void ResetBlock(State& s) {
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

// The code tables are the same for every entry: built at the state's first entry only.
void SetUpTables(State& s);
void SetUpDescriptors(State& s);

// The code lengths and codes of a dynamic tree from its counts; adds the block's bits with
// those codes to s.optimal_length and with the fixed ones to s.static_length.
void BuildTree(State& s, TreeDescriptor& d);

// The code-length tree for the lengths of both trees. Answers the index in sending order of the
// last code-length code to send.
int BuildCodeLengthTree(State& s);

// The header of a dynamic block after its first three bits: the code counts, the code-length
// tree, and the two trees in its codes.
void SendAllTrees(State& s, int literal_codes, int distance_codes, int length_codes);

// The block's buffered literals and matches in the given codes, then the end of the block.
void SendSymbols(State& s, const TreeNode* literal_tree, const TreeNode* distance_tree);

}  // namespace zip_deflate
