#include "zip/pack_ahead.h"

#include <algorithm>
#include <system_error>

#include "zip/entry_data.h"

namespace {

// Enough entries ahead to keep every worker busy while the writer waits on a large one.
constexpr std::size_t kEntriesAheadPerWorker = 4;
// Each worker holds a compressor state of about 824 KiB and its entries ahead up to 1 MiB
// each: with at most 8, the whole stays near 40 MiB however many cores the machine has, well
// within what a 32-bit process can map.
constexpr unsigned kMaxWorkers = 8;

}  // namespace

PackedEntry PackEntry(const ZipSource& source, zip_deflate::StatePointer& state,
                      std::vector<std::uint8_t>& buffer, std::uint64_t read_left) {
    PackedEntry packed;
    packed.packed = true;
    if (read_left == 0) {
        return packed;  // left out by the writer, never opened
    }
    ScopedHandle file = source.open ? source.open() : ScopedHandle();
    if (!file) {
        return packed;
    }
    packed.opened = true;
    const auto name = EntryName(source.entry_name);
    if (!name) {
        packed.argument_result = kZipBadArgument;
        return packed;
    }
    EntryPlan& plan = packed.plan;
    packed.source_result = PlanEntry(*name, file.get(), plan);
    if (packed.source_result != kZipOk) {
        return packed;
    }
    if (plan.size > kZipPackAheadBytes) {
        packed.in_turn = std::move(file);
        return packed;
    }
    EntryStream stream{
        .source = file.get(), .memory = &packed.data, .read_limit = kZipPackAheadBytes};
    packed.data.reserve(static_cast<std::size_t>(plan.stored ? plan.size : plan.size / 4));
    if (plan.stored) {
        packed.data_ok =
            CopyStored(stream, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    } else {
        if (!state) {
            state = zip_deflate::NewState();
        }
        packed.data_ok = DeflateStream(stream, *state, buffer.data(), plan.entry.flags);
    }
    packed.bytes_read = stream.bytes_read;
    if (stream.over_read_limit) {
        // Grew while being read: read in its turn, from the start again.
        packed.data.clear();
        packed.plan.entry.flags = kFlagSizesFollow;
        if (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
            packed.data_ok = false;
            return packed;
        }
        packed.in_turn = std::move(file);
        return packed;
    }
    packed.crc = stream.crc;
    return packed;
}

PackAhead::PackAhead(const std::vector<ZipSource>& sources, unsigned threads,
                     std::uint64_t read_left)
    : sources_(sources),
      window_(std::size_t{std::min(threads, kMaxWorkers)} * kEntriesAheadPerWorker),
      read_left_(read_left) {
    threads = std::min(threads, kMaxWorkers);
    if (threads == 0 || sources.size() < 2) {
        return;
    }
    try {
        for (unsigned index = 0; index < threads; ++index) {
            workers_.emplace_back([this] { Work(); });
        }
    } catch (const std::system_error&) {
        // Fewer workers, or none: the writer reads in turn what none packs.
    }
}

PackAhead::~PackAhead() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    workers_.clear();  // joins
}

std::optional<PackedEntry> PackAhead::Take() {
    if (workers_.empty()) {
        return std::nullopt;
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !ready_.empty() && ready_.front().has_value(); });
    // Its slot goes in Done: the workers find theirs from `taken_`.
    return std::move(*ready_.front());
}

void PackAhead::Done(std::uint64_t read_left) {
    {
        const std::lock_guard lock(mutex_);
        if (!ready_.empty()) {
            ready_.pop_front();
        }
        ++taken_;
        read_left_ = read_left;
    }
    changed_.notify_all();
}

void PackAhead::Work() {
    zip_deflate::StatePointer state;
    std::vector<std::uint8_t> buffer(zip_deflate::kOutputSize);
    for (;;) {
        std::size_t index = 0;
        std::uint64_t read_left = 0;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] {
                return stopping_ || next_ >= sources_.size() || next_ < taken_ + window_;
            });
            if (stopping_ || next_ >= sources_.size()) {
                return;
            }
            index = next_++;
            read_left = read_left_;
            ready_.emplace_back();
        }
        std::optional<PackedEntry> packed;
        try {
            packed = PackEntry(sources_[index], state, buffer, read_left);
        } catch (...) {
            // Out of memory, or thrown by the caller's open: the writer adds this one in its
            // turn, on its own thread, where whatever is thrown reaches the caller.
            packed = PackedEntry{};
        }
        {
            const std::lock_guard lock(mutex_);
            ready_[index - taken_] = std::move(packed);
        }
        changed_.notify_all();
    }
}
