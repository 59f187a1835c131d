// The zip-archive writer: one archive on disk, entries added one source file at a time, each
// deflated or stored, the local header rewritten with the final CRC and sizes, then the central
// directory. 32-bit zip only: no ZIP64, data descriptors, encryption or comments; an entry that
// would take the archive past the format's limits (zip_limits.h) is refused.
// Results are integer codes (below); nothing throws and nothing is logged. One thread calls a
// writer; AddFiles packs small entries ahead on threads of its own.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/scoped_handle.h"
#include "zip/deflate.h"
#include "zip/zip_limits.h"
#include "zip/zip_records.h"

inline constexpr std::uint32_t kZipOk = 0x00000000;
inline constexpr std::uint32_t kZipNoFile = 0x00000200;       // cannot create, open or read facts
inline constexpr std::uint32_t kZipWriteFailed = 0x00000400;  // not written, or past the limits
inline constexpr std::uint32_t kZipBadArgument = 0x00010000;  // empty name or source
inline constexpr std::uint32_t kZipEnded = 0x00050000;        // central directory already written
inline constexpr std::uint32_t kZipShortData = 0x00060000;    // stored data written short
inline constexpr std::uint32_t kZipWrongHandle = 0x00080000;  // the handle is not an archive

inline constexpr std::uint32_t kZipHandleArchive = 2;

// The process-wide result of the writer's last call; ZipFilesToArchive writes it too.
std::uint32_t ZipLastResult();
void SetZipLastResult(std::uint32_t result);

struct ZipHandle;
struct EntryPlan;
struct PackedEntry;

// A source for AddFiles, opened when its turn to be read comes, on whichever thread reads it.
struct ZipSource {
    std::wstring entry_name;
    std::function<ScopedHandle()> open;  // an empty handle: the file cannot be opened
};

// Whatever fails, the file holds a readable archive of the entries that answered kZipOk, or
// finishing it answers failure. An entry that fails after some of its bytes reached the file
// (a read error, a short write, the limits) is cut off the file, and the next one starts where
// it began: every byte before the central directory belongs to a listed entry. When the cut
// itself fails, every later AddFile and Finish fails.
class ZipWriter {
    class Key {  // only the writer itself creates writers
        friend class ZipWriter;
        Key() = default;
    };

public:
    // `owned` is empty when the caller keeps the archive's handle, else it holds `archive`.
    ZipWriter(Key, HANDLE archive, ScopedHandle owned, const ZipLimits& limits);
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;
    ~ZipWriter();

    // Creates the archive anew (an existing file is emptied). Null when it cannot be created;
    // the last result is then kZipNoFile, else kZipOk.
    static std::unique_ptr<ZipHandle> Open(std::wstring_view path);
    static std::unique_ptr<ZipHandle> Open(const wchar_t* path) {
        return Open(std::wstring_view(path != nullptr ? path : L""));
    }
    // Writes the archive from the start of a file that the caller created, empty, for reading
    // and writing, and keeps: the writer never closes it, and Close leaves it open wherever it
    // stands. Null for a handle that is not an empty file; the last result is then kZipNoFile,
    // else kZipOk.
    static std::unique_ptr<ZipHandle> Open(HANDLE archive);

    // Adds the source file as a flat entry of that name; answers a result code. An entry that
    // fails is left out of the central directory. The file is opened for reading with read
    // sharing only, so a file that another handle writes is not added. Once the bytes read from
    // all sources reach the limits' read budget, a source is not opened: kZipWriteFailed; one
    // that passes it is read as far as the budget and left out the same way.
    std::uint32_t AddFile(std::wstring_view entry_name, std::wstring_view source_path);
    // A string literal would otherwise convert to HANDLE, not to a view.
    std::uint32_t AddFile(std::wstring_view entry_name, const wchar_t* source_path) {
        return AddFile(entry_name, std::wstring_view(source_path != nullptr ? source_path : L""));
    }
    // The same from a source that the caller opened for reading and keeps: read from its
    // start, left open.
    std::uint32_t AddFile(std::wstring_view entry_name, HANDLE source);

    // Adds the sources in their order and answers each one's result, as AddFile(name, open())
    // one after another would (kZipNoFile for a source that does not open), to the same
    // archive bytes while every entry fits. Sources of up to 1 MiB are read and deflated ahead
    // on up to `threads` threads (at most 8), a few entries per thread beyond the one being
    // written; larger ones are opened ahead and read in their turn. An entry packed ahead that
    // fails is not written. The read budget holds as for AddFile: once it is spent no worker
    // opens another source, and those already ahead are read up to 1 MiB each at most.
    std::vector<std::uint32_t> AddFiles(const std::vector<ZipSource>& sources, unsigned threads);

    // Writes the central directory and the end record: kZipOk or kZipWriteFailed. Later calls
    // write nothing and give the same answer.
    std::uint32_t Finish();

    // Finishes the archive (that result is the answer), closes the file unless the caller keeps
    // it, and frees the writer and the handle.
    static std::uint32_t Close(std::unique_ptr<ZipHandle> handle);

private:
    friend std::unique_ptr<ZipHandle> OpenZipWithLimits(std::wstring_view path,
                                                        const ZipLimits& limits);
    friend std::unique_ptr<ZipHandle> OpenZipWithLimits(HANDLE archive, const ZipLimits& limits);
    static std::unique_ptr<ZipHandle> OpenWith(std::wstring_view path, const ZipLimits& limits);
    static std::unique_ptr<ZipHandle> OpenWith(HANDLE archive, const ZipLimits& limits);
    static std::unique_ptr<ZipHandle> Made(HANDLE archive, ScopedHandle owned,
                                           const ZipLimits& limits);

    std::uint32_t WritePlanned(EntryPlan& plan, HANDLE source);
    std::uint32_t AddPacked(PackedEntry& packed);
    // The data bytes the planned entry may take, or none when the entry cannot fit.
    std::optional<std::uint64_t> DataBudget(const EntryPlan& plan) const;
    std::uint64_t ReadLeft() const;
    bool ReadSpent() const { return ReadLeft() == 0; }
    std::uint32_t Keep(ZipEntry entry);
    bool Append(const std::vector<std::uint8_t>& bytes);
    std::uint32_t CutBack(std::uint64_t offset);
    std::uint32_t WriteDirectory();

    HANDLE archive_;
    ScopedHandle owned_;  // empty when the caller keeps the archive's handle
    ZipLimits limits_;
    // Bytes in the file, where the next write goes. Never past the limits less the room that
    // the kept entries' central headers and the end record need.
    std::uint64_t written_ = 0;
    std::uint64_t directory_bytes_ = 0;  // the kept entries' central headers
    // Data bytes read from the sources in the order of adding, as AddFile would read them.
    std::uint64_t read_ = 0;
    // A failed entry could not be cut off, or the position of the file is no longer known:
    // nothing more can be written soundly.
    bool broken_ = false;
    bool finished_ = false;
    std::uint32_t finish_result_ = kZipOk;

    std::vector<ZipEntry> entries_;  // in the order of adding
    // Made at the first deflated entry, reused by every later one (about 824 KiB).
    zip_deflate::StatePointer compressor_;
    // Copies stored data; the compressor's output buffer.
    std::array<std::uint8_t, 16384> transfer_{};
};

struct ZipHandle {
    std::uint32_t kind = 0;
    std::unique_ptr<ZipWriter> writer;
};
