#include "zip/entry_data.h"

#include "zip/crc32.h"

namespace {

constexpr int kPackLevel = 8;

// The compressor's read function, and the copy loop's.
std::uint32_t ReadSource(void* context, std::uint8_t* buffer, std::uint32_t size) {
    auto& stream = *static_cast<EntryStream*>(context);
    if (stream.failed) {
        return 0;  // the entry is lost: end its data at once
    }
    DWORD got = 0;
    if (ReadFile(stream.source, buffer, size, &got, nullptr) == FALSE) {
        stream.failed = true;  // the entry would hold a part only, as if it were whole
        return 0;
    }
    if (stream.bytes_read + got > stream.read_limit) {
        stream.failed = true;  // grew past its size field, what memory takes, or the budget
        stream.over_read_limit = true;
        stream.bytes_read += got;  // read all the same
        return 0;
    }
    stream.crc = UpdateCrc32(stream.crc, buffer, got);
    stream.bytes_read += got;
    return got;
}

bool WriteData(EntryStream& stream, const std::uint8_t* bytes, std::uint32_t count) {
    if (stream.failed || count > stream.budget - stream.data_written) {
        stream.failed = true;
        return false;
    }
    if (stream.memory != nullptr) {
        stream.memory->insert(stream.memory->end(), bytes, bytes + count);
        stream.data_written += count;
        return true;
    }
    DWORD put = 0;
    const bool whole =
        WriteFile(stream.archive, bytes, count, &put, nullptr) != FALSE && put == count;
    stream.data_written += put;
    stream.failed = !whole;
    return whole;
}

// The compressor's flush function: the pending count drops to 0 when any byte was written.
void FlushData(void* context, const std::uint8_t* buffer, std::uint32_t& count) {
    auto& stream = *static_cast<EntryStream*>(context);
    const std::uint64_t before = stream.data_written;
    WriteData(stream, buffer, count);
    if (stream.data_written != before) {
        count = 0;
    }
}

}  // namespace

bool CopyStored(EntryStream& stream, std::uint8_t* buffer, std::uint32_t size) {
    for (;;) {
        const std::uint32_t got = ReadSource(&stream, buffer, size);
        if (got == 0) {
            return !stream.failed;
        }
        if (!WriteData(stream, buffer, got)) {
            return false;  // kZipShortData, reported for the entry as a failed write
        }
    }
}

bool DeflateStream(EntryStream& stream, zip_deflate::State& state, std::uint8_t* output,
                   std::uint16_t& flags) {
    const zip_deflate::Io io{&stream, ReadSource, FlushData, output};
    std::uint16_t internal_attributes = 0;
    std::uint32_t size = 0;
    const std::uint32_t result =
        zip_deflate::Compress(state, io, kPackLevel, flags, internal_attributes, size);
    return result == 0 && !stream.failed && size == stream.data_written;
}
