// The deflate compressor as its callers see it: one entry's input in through a read function,
// its raw deflate stream out through a flush function, on a state kept for a whole archive.
// What the state holds is in deflate_state.h, for the compressor and the tests that look in.
// One thread per state.
#pragma once

#include <cstdint>
#include <memory>

namespace zip_deflate {

struct State;

// Bytes of the caller's output buffer (the Io's `output`).
inline constexpr std::uint32_t kOutputSize = 16384;

// Answers the bytes read into `buffer`, at most `size`; 0 or kReadEnd ends the input.
using ReadFunction = std::uint32_t (*)(void* context, std::uint8_t* buffer, std::uint32_t size);
// All ones from the read function means the end, as 0 does.
inline constexpr std::uint32_t kReadEnd = 0xFFFFFFFFu;
// Writes `count` bytes and sets it to 0 when it wrote any; a write that fails is the caller's
// to remember, the compressor goes on.
using FlushFunction = void (*)(void* context, const std::uint8_t* buffer, std::uint32_t& count);

// The caller's side of one entry.
struct Io {
    void* context;
    ReadFunction read;
    FlushFunction flush;
    std::uint8_t* output;  // kOutputSize bytes
};

inline constexpr std::uint32_t kDeflateFailed = 0x05000000;

// The state is large (about 824 KiB): made zeroed once, reused for every entry.
struct StateDeleter {
    void operator()(State* state) const;
};
using StatePointer = std::unique_ptr<State, StateDeleter>;
StatePointer NewState();

// Compresses the whole input of one entry. `level` 1 to 8 (the writer passes 8); any other
// sets "bad pack level" and compression goes on with that row of the tuning table (0 to 9).
// Adds the level's bits to `general_flags`. Answers 0, or kDeflateFailed when any check
// failed (LastError names the last one); `compressed_size` is the bytes produced. An entry
// after a failed one starts from cleared tables.
std::uint32_t Compress(State& state, const Io& io, int level, std::uint16_t& general_flags,
                       std::uint16_t& internal_attributes, std::uint32_t& compressed_size);

// The last failed check of the last entry, nullptr when it succeeded.
const char* LastError(const State& state);

}  // namespace zip_deflate
