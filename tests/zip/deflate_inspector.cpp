#include "tests/zip/deflate_inspector.h"

#include <array>
#include <stdexcept>

namespace test_support {
namespace {

struct Bits {
    const std::string& in;
    std::size_t position = 0;  // in bits
    unsigned Get(int count) {
        unsigned value = 0;
        for (int i = 0; i < count; ++i, ++position) {
            if (position / 8 >= in.size()) {
                throw std::runtime_error("past the end");
            }
            value |= ((static_cast<unsigned char>(in[position / 8]) >> (position % 8)) & 1u) << i;
        }
        return value;
    }
};

// Canonical decoding table: counts per length and symbols in code order.
struct Huffman {
    std::array<int, 16> counts{};
    std::vector<int> symbols;
    explicit Huffman(const std::vector<int>& lengths) {
        for (const int length : lengths) {
            ++counts[length];
        }
        counts[0] = 0;
        std::array<int, 16> offsets{};
        for (int length = 1; length < 16; ++length) {
            offsets[length] = offsets[length - 1] + counts[length - 1];
        }
        symbols.resize(lengths.size());
        for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol) {
            if (lengths[symbol] != 0) {
                symbols[offsets[lengths[symbol]]++] = static_cast<int>(symbol);
            }
        }
    }
    int Decode(Bits& bits) const {
        int code = 0, first = 0, index = 0;
        for (int length = 1; length < 16; ++length) {
            code |= static_cast<int>(bits.Get(1));
            const int count = counts[length];
            if (code - count < first) {
                return symbols[index + (code - first)];
            }
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        throw std::runtime_error("bad code");
    }
};

constexpr int kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int kDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                   33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                   1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

void Codes(Bits& bits, InspectedStream& result, DeflateBlock& block, const Huffman& literal,
           const Huffman& distance) {
    for (;;) {
        const int symbol = literal.Decode(bits);
        if (symbol < 256) {
            result.output.push_back(static_cast<char>(symbol));
            ++block.literals;
        } else if (symbol == 256) {
            return;
        } else {
            const int index = symbol - 257;
            if (index >= 29) {
                throw std::runtime_error("bad length");
            }
            const unsigned length =
                static_cast<unsigned>(kLengthBase[index]) + bits.Get(kLengthExtra[index]);
            const int code = distance.Decode(bits);
            if (code >= 30) {
                throw std::runtime_error("bad distance");
            }
            const unsigned back =
                static_cast<unsigned>(kDistanceBase[code]) + bits.Get(kDistanceExtra[code]);
            if (back > result.output.size()) {
                throw std::runtime_error("too far back");
            }
            result.matches.push_back({result.output.size(), length, back});
            for (unsigned i = 0; i < length; ++i) {
                result.output.push_back(result.output[result.output.size() - back]);
            }
            ++block.matches;
        }
    }
}

}  // namespace

InspectedStream InspectDeflate(const std::string& stream) {
    InspectedStream result;
    Bits bits{stream};
    try {
        for (;;) {
            DeflateBlock block;
            block.last = bits.Get(1) != 0;
            block.type = static_cast<int>(bits.Get(2));
            if (block.type == 0) {
                bits.position = (bits.position + 7) & ~std::size_t{7};
                const unsigned length = bits.Get(16);
                if ((bits.Get(16) ^ 0xFFFF) != length) {
                    throw std::runtime_error("bad stored length");
                }
                for (unsigned i = 0; i < length; ++i) {
                    result.output.push_back(static_cast<char>(bits.Get(8)));
                }
            } else if (block.type == 1) {
                std::vector<int> lengths(288);
                for (int n = 0; n < 288; ++n) {
                    lengths[n] = n < 144 ? 8 : n < 256 ? 9 : n < 280 ? 7 : 8;
                }
                Codes(bits, result, block, Huffman(lengths), Huffman(std::vector<int>(30, 5)));
            } else if (block.type == 2) {
                const unsigned literal_count = bits.Get(5) + 257;
                const unsigned distance_count = bits.Get(5) + 1;
                const unsigned length_count = bits.Get(4) + 4;
                constexpr int kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                            11, 4,  12, 3, 13, 2, 14, 1, 15};
                std::vector<int> code_lengths(19);
                for (unsigned i = 0; i < length_count; ++i) {
                    code_lengths[kOrder[i]] = static_cast<int>(bits.Get(3));
                }
                const Huffman code_length_code(code_lengths);
                std::vector<int> lengths;
                while (lengths.size() < literal_count + distance_count) {
                    const int symbol = code_length_code.Decode(bits);
                    if (symbol < 16) {
                        lengths.push_back(symbol);
                    } else if (symbol == 16) {
                        if (lengths.empty()) {
                            throw std::runtime_error("repeat of nothing");
                        }
                        const int previous = lengths.back();
                        for (unsigned i = 3 + bits.Get(2); i > 0; --i) {
                            lengths.push_back(previous);
                        }
                    } else {
                        for (unsigned i = symbol == 17 ? 3 + bits.Get(3) : 11 + bits.Get(7); i > 0;
                             --i) {
                            lengths.push_back(0);
                        }
                    }
                }
                if (lengths.size() != literal_count + distance_count) {
                    throw std::runtime_error("lengths overrun");
                }
                const std::vector<int> literal(lengths.begin(), lengths.begin() + literal_count);
                const std::vector<int> distance(lengths.begin() + literal_count, lengths.end());
                Codes(bits, result, block, Huffman(literal), Huffman(distance));
            } else {
                throw std::runtime_error("bad block type");
            }
            result.blocks.push_back(block);
            if (block.last) {
                break;
            }
        }
        result.valid = true;
    } catch (const std::runtime_error&) {
        result.valid = false;
    }
    result.bytes_used = (bits.position + 7) / 8;
    return result;
}

}  // namespace test_support
