// The zip-archive writer: one archive on disk, entries added one source file at a time, each
// deflated or stored, the local header rewritten with the final CRC and sizes, then the central
// directory. 32-bit zip only: no ZIP64, data descriptors, encryption or comments.
// Results are integer codes (below); nothing throws and nothing is logged. One thread.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace zip_deflate {
struct State;
}

inline constexpr std::uint32_t kZipOk = 0x00000000;
inline constexpr std::uint32_t kZipNoFile = 0x00000200;       // cannot create, open or read facts
inline constexpr std::uint32_t kZipWriteFailed = 0x00000400;  // a header or the data not written
inline constexpr std::uint32_t kZipBadArgument = 0x00010000;  // empty name or source
inline constexpr std::uint32_t kZipEnded = 0x00050000;        // central directory already written
inline constexpr std::uint32_t kZipShortData = 0x00060000;    // stored data written short
inline constexpr std::uint32_t kZipWrongHandle = 0x00080000;  // the handle is not an archive

inline constexpr std::uint32_t kZipHandleArchive = 2;

// The process-wide result of the writer's last call; ZipFilesToArchive writes it too.
std::uint32_t ZipLastResult();
void SetZipLastResult(std::uint32_t result);

// One kept entry, from AddFile to Finish.
struct ZipEntry {
    std::uint16_t version_made_by;
    std::uint16_t version_needed;
    std::uint16_t flags;
    std::uint16_t method;
    std::uint32_t dos_date_time;  // time in the low half, date in the high half
    std::uint32_t crc;
    std::uint32_t compressed_size;
    std::uint32_t uncompressed_size;
    std::uint32_t name_length;
    std::uint32_t local_extra_length;
    std::uint32_t central_extra_length;
    std::uint32_t comment_length;
    std::uint16_t disk_number_start;
    std::uint16_t internal_attributes;
    std::uint16_t local_flags;
    std::uint32_t external_attributes;
    std::uint32_t offset;
    std::array<char, 260> name;  // UTF-8, terminated
    std::array<std::uint8_t, 17> local_extra;
    std::array<std::uint8_t, 9> central_extra;
};

struct ZipHandle;

struct ZipWriter {
    // output
    HANDLE file = INVALID_HANDLE_VALUE;
    bool owns_file = false;
    std::uint32_t archive_offset = 0;
    std::uint32_t written = 0;
    bool can_seek = false;
    bool central_written = false;

    std::vector<ZipEntry> entries;  // in the order of adding
    std::unique_ptr<zip_deflate::State> compressor;

    // the current entry's source
    std::uint32_t attributes = 0;
    std::int64_t access_time = 0;
    std::int64_t write_time = 0;
    std::int64_t creation_time = 0;
    std::uint32_t dos_date_time = 0;
    std::int32_t source_size = 0;
    std::uint32_t bytes_read = 0;
    std::uint32_t crc = 0;
    std::uint32_t data_written = 0;
    bool data_write_failed = false;
    HANDLE source = INVALID_HANDLE_VALUE;
    bool owns_source = false;

    std::array<std::uint8_t, 16384> transfer{};

    ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;
    ~ZipWriter();  // closes whatever handle it still owns

    // Creates the archive anew (an existing file is emptied). Null when it cannot be created;
    // the last result is then kZipNoFile, else kZipOk.
    static std::unique_ptr<ZipHandle> Open(std::wstring_view path);

    // Adds the source file as a flat entry of that name; answers a result code. An entry that
    // fails is left out of the central directory.
    std::uint32_t AddFile(std::wstring_view entry_name, std::wstring_view source_path);
    // The same from a source the caller has opened for reading and keeps; read from its start.
    std::uint32_t AddFile(std::wstring_view entry_name, HANDLE source_file);

    // Writes the central directory and the end record: kZipOk or kZipWriteFailed.
    std::uint32_t Finish();

    // Finishes the archive when not yet done (that result is the answer, else kZipOk), closes
    // the file and frees the writer and the handle.
    static std::uint32_t Close(std::unique_ptr<ZipHandle> handle);

    // Frees the compressor state, the kept entries and the writer.
    static void Destroy(std::unique_ptr<ZipWriter> writer);
};

struct ZipHandle {
    std::uint32_t kind = 0;
    std::unique_ptr<ZipWriter> writer;
};
