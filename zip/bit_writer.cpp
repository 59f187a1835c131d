#include "zip/bit_writer.h"

namespace zip_deflate {

void FlushOutput(State& s) {
    if (s.output_offset != 0) {
        s.flush(s.context, s.output, s.output_offset);
        // A flush that wrote nothing has told its caller; the bytes must not pile up.
        s.output_offset = 0;
    }
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

}  // namespace zip_deflate
