// The bit writer: the stream's bits, least significant first, into the caller's output buffer
// in 16-bit units, handed to the caller's flush function whenever the buffer is full. Its
// fields are in deflate_state.h. Internal to the compressor.
#pragma once

#include <cstdint>
#include <cstring>

#include "zip/deflate_state.h"

namespace zip_deflate {

// Hands the output buffer's bytes to the caller's flush function.
void FlushOutput(State& s);

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

// Sends the pending bits, padded to a whole byte.
void AlignToByte(State& s);

inline unsigned ReverseBits(unsigned code, int length) {
    unsigned result = 0;
    do {
        result |= code & 1;
        code >>= 1;
        result <<= 1;
    } while (--length > 0);
    return result >> 1;
}

}  // namespace zip_deflate
