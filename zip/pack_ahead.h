// Entries read and deflated ahead of their turn on worker threads, while the writer writes the
// ones before them. Each worker has its own compressor state; as every entry is deflated from
// a fresh window, an entry comes out the same on any thread. Memory stays bounded: only small
// sources are packed ahead, and only a few entries per worker beyond the one being written.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "zip/entry_plan.h"
#include "zip/zip_writer.h"

// Sources larger than this are read in their turn, straight into the archive.
inline constexpr std::uint64_t kZipPackAheadBytes = std::uint64_t{1} << 20;

struct PackedEntry {
    bool opened = false;
    // What AddFile would answer before it looks at the writer (a bad name) and after (a
    // source without facts, a name too long in UTF-8).
    std::uint32_t argument_result = kZipOk;
    std::uint32_t source_result = kZipOk;
    // False when the worker could not go through (out of memory, or the open threw): the
    // writer opens and adds the source in its turn.
    bool packed = false;
    EntryPlan plan;
    // The open source of an entry too large to pack ahead: the writer reads it in its turn,
    // with the plan made here, so that its facts are read once, before its data.
    ScopedHandle in_turn;
    bool data_ok = false;  // no read limit passed and the compressor raised nothing
    std::uint32_t crc = 0;
    std::uint64_t bytes_read = 0;  // for the read budget, whatever came of them
    std::vector<std::uint8_t> data;
};

class PackAhead {
public:
    // Starts `threads` workers over `sources`; none for a single source. `read_left` is the
    // writer's read budget left.
    PackAhead(const std::vector<ZipSource>& sources, unsigned threads, std::uint64_t read_left);
    PackAhead(const PackAhead&) = delete;
    PackAhead& operator=(const PackAhead&) = delete;
    ~PackAhead();  // stops and joins the workers

    // The next source's entry in order, once it is packed; none when no worker runs.
    std::optional<PackedEntry> Take();
    // The writer is done with the entry taken, and has `read_left` of its read budget left;
    // only then may a worker claim a source beyond the window, so that none is opened once
    // the budget is spent.
    void Done(std::uint64_t read_left);

private:
    void Work();

    const std::vector<ZipSource>& sources_;
    const std::size_t window_;  // entries claimed beyond the one being written
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;                          // the next source to claim
    std::size_t taken_ = 0;                         // sources already handed to the writer
    std::uint64_t read_left_;                       // none left: no source is opened
    std::deque<std::optional<PackedEntry>> ready_;  // from `taken_` on, by index
    bool stopping_ = false;
    std::vector<std::jthread> workers_;
};

// Reads and deflates one source into memory, as AddFile would write it.
PackedEntry PackEntry(const ZipSource& source, zip_deflate::StatePointer& state,
                      std::vector<std::uint8_t>& buffer, std::uint64_t read_left);
