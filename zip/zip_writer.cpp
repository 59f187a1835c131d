#include "zip/zip_writer.h"

#include <algorithm>
#include <optional>
#include <string>

#include "zip/deflate.h"
#include "zip/entry_data.h"
#include "zip/entry_plan.h"
#include "zip/pack_ahead.h"

namespace {

std::uint32_t g_last_result = kZipOk;

// A path is handed to the file calls as a terminated string: an embedded zero would name
// another file.
std::optional<std::wstring> TerminatedPath(std::wstring_view path) {
    if (path.empty() || path.find(L'\0') != std::wstring_view::npos) {
        return std::nullopt;
    }
    return std::wstring(path);
}

// With the high part: a 32-bit distance alone is signed and cannot reach past 2 GiB.
bool MoveTo(HANDLE file, std::uint64_t offset) {
    LONG high = static_cast<LONG>(offset >> 32);
    const DWORD low =
        SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) {
        return false;
    }
    return (static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32 | low) == offset;
}

bool WriteAll(HANDLE file, const std::uint8_t* bytes, std::uint64_t count, DWORD& put) {
    put = 0;
    return WriteFile(file, bytes, static_cast<DWORD>(count), &put, nullptr) != FALSE &&
           put == count;
}

}  // namespace

std::uint32_t ZipLastResult() { return g_last_result; }

void SetZipLastResult(std::uint32_t result) { g_last_result = result; }

ZipWriter::ZipWriter(Key, HANDLE archive, ScopedHandle owned, const ZipLimits& limits)
    : archive_(archive), owned_(std::move(owned)), limits_(limits) {}

ZipWriter::~ZipWriter() = default;

std::unique_ptr<ZipHandle> ZipWriter::Open(std::wstring_view path) {
    return OpenWith(path, ZipLimits{});
}

std::unique_ptr<ZipHandle> ZipWriter::Open(HANDLE archive) {
    return OpenWith(archive, ZipLimits{});
}

std::unique_ptr<ZipHandle> OpenZipWithLimits(std::wstring_view path, const ZipLimits& limits) {
    return ZipWriter::OpenWith(path, limits);
}

std::unique_ptr<ZipHandle> OpenZipWithLimits(HANDLE archive, const ZipLimits& limits) {
    return ZipWriter::OpenWith(archive, limits);
}

std::unique_ptr<ZipHandle> ZipWriter::OpenWith(std::wstring_view path, const ZipLimits& limits) {
    const auto terminated = TerminatedPath(path);
    ScopedHandle archive;
    if (terminated) {
        // Never written through a link planted at the name.
        archive = ScopedHandle(
            CreateFileW(terminated->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    }
    if (!archive) {
        SetZipLastResult(kZipNoFile);
        return nullptr;
    }
    const HANDLE file = archive.get();
    return Made(file, std::move(archive), limits);
}

// Only an empty file: the offsets start at 0, and no byte that the caller's file held before
// may end up before the central directory or after the end record.
std::unique_ptr<ZipHandle> ZipWriter::OpenWith(HANDLE archive, const ZipLimits& limits) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(archive, &info) || info.nFileSizeLow != 0 ||
        info.nFileSizeHigh != 0 || !MoveTo(archive, 0)) {
        SetZipLastResult(kZipNoFile);
        return nullptr;
    }
    return Made(archive, ScopedHandle(), limits);
}

std::unique_ptr<ZipHandle> ZipWriter::Made(HANDLE archive, ScopedHandle owned,
                                           const ZipLimits& limits) {
    SetZipLastResult(kZipOk);
    auto handle = std::make_unique<ZipHandle>();
    handle->kind = kZipHandleArchive;
    handle->writer = std::make_unique<ZipWriter>(Key{}, archive, std::move(owned), limits);
    return handle;
}

std::uint32_t ZipWriter::AddFile(std::wstring_view entry_name, std::wstring_view source_path) {
    if (finished_) {
        return kZipEnded;
    }
    const auto path = TerminatedPath(source_path);
    if (!EntryName(entry_name) || !path) {
        return kZipBadArgument;
    }
    if (ReadSpent()) {
        return kZipWriteFailed;  // never opened
    }
    const ScopedHandle source(CreateFileW(path->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source) {
        return kZipNoFile;
    }
    return AddFile(entry_name, source.get());
}

std::uint32_t ZipWriter::AddFile(std::wstring_view entry_name, HANDLE source) {
    if (finished_) {
        return kZipEnded;
    }
    const auto name = EntryName(entry_name);
    if (!name || source == nullptr || source == INVALID_HANDLE_VALUE) {
        return kZipBadArgument;
    }
    if (broken_ || ReadSpent()) {
        return kZipWriteFailed;
    }
    EntryPlan plan;
    if (const std::uint32_t planned = PlanEntry(*name, source, plan); planned != kZipOk) {
        return planned;
    }
    return WritePlanned(plan, source);
}

// The headers and the data read from the source now, the local header rewritten once the
// data's CRC and sizes are known.
std::uint32_t ZipWriter::WritePlanned(EntryPlan& plan, HANDLE source) {
    const auto budget = DataBudget(plan);
    if (!budget) {
        return kZipWriteFailed;
    }
    ZipEntry& entry = plan.entry;
    entry.offset = static_cast<std::uint32_t>(written_);
    entry.compressed_size = plan.stored ? static_cast<std::uint32_t>(plan.size) : 0;
    entry.uncompressed_size = static_cast<std::uint32_t>(plan.size);

    if (!Append(LocalHeader(entry, plan.times))) {
        return CutBack(entry.offset);
    }
    EntryStream stream{.source = source,
                       .archive = archive_,
                       .budget = *budget,
                       .read_limit = std::min(kZipMaxEntryBytes, ReadLeft())};
    bool data_ok = false;
    if (plan.stored) {
        data_ok =
            CopyStored(stream, transfer_.data(), static_cast<std::uint32_t>(transfer_.size()));
    } else {
        if (!compressor_) {
            compressor_ = zip_deflate::NewState();
        }
        data_ok = DeflateStream(stream, *compressor_, transfer_.data(), entry.flags);
    }
    written_ += stream.data_written;
    read_ += stream.bytes_read;
    if (!data_ok) {
        return CutBack(entry.offset);
    }

    entry.crc = stream.crc;
    entry.compressed_size = static_cast<std::uint32_t>(stream.data_written);
    entry.uncompressed_size = static_cast<std::uint32_t>(stream.bytes_read);
    entry.flags = static_cast<std::uint16_t>(entry.flags & ~kFlagSizesFollow);

    // The rewrite lands on bytes already counted; the position then returns to the end.
    const auto header = LocalHeader(entry, plan.times);
    DWORD put = 0;
    if (!MoveTo(archive_, entry.offset) || !WriteAll(archive_, header.data(), header.size(), put) ||
        !MoveTo(archive_, written_)) {
        return CutBack(entry.offset);  // a header that is neither first nor final
    }
    return Keep(std::move(entry));
}

std::vector<std::uint32_t> ZipWriter::AddFiles(const std::vector<ZipSource>& sources,
                                               unsigned threads) {
    std::vector<std::uint32_t> results;
    results.reserve(sources.size());
    PackAhead ahead(sources, finished_ || broken_ ? 0 : threads, ReadLeft());
    for (const ZipSource& source : sources) {
        auto packed = ahead.Take();
        if (!finished_ && ReadSpent()) {
            results.push_back(kZipWriteFailed);  // left out unread, never opened in its turn
        } else if (packed && packed->packed) {
            results.push_back(AddPacked(*packed));
        } else {
            const ScopedHandle file = source.open ? source.open() : ScopedHandle();
            results.push_back(file ? AddFile(source.entry_name, file.get()) : kZipNoFile);
        }
        ahead.Done(ReadLeft());
    }
    return results;
}

// The same checks in the same order as AddFile; the entry is then written whole, with its
// final header, or not at all.
std::uint32_t ZipWriter::AddPacked(PackedEntry& packed) {
    if (!packed.opened) {
        return kZipNoFile;
    }
    if (finished_) {
        return kZipEnded;
    }
    if (packed.argument_result != kZipOk) {
        return packed.argument_result;
    }
    if (broken_) {
        return kZipWriteFailed;
    }
    if (packed.source_result != kZipOk) {
        return packed.source_result;
    }
    if (packed.in_turn) {
        return WritePlanned(packed.plan, packed.in_turn.get());
    }
    const auto budget = DataBudget(packed.plan);
    if (!budget) {
        return kZipWriteFailed;  // refused before AddFile reads a byte
    }
    // Past what AddFile would read in this turn: it would stop there and spend the budget.
    if (packed.bytes_read > ReadLeft()) {
        read_ = limits_.read_bytes;
        return kZipWriteFailed;
    }
    read_ += packed.bytes_read;
    if (!packed.data_ok || packed.data.size() > *budget) {
        return kZipWriteFailed;
    }
    ZipEntry& entry = packed.plan.entry;
    entry.offset = static_cast<std::uint32_t>(written_);
    entry.crc = packed.crc;
    entry.compressed_size = static_cast<std::uint32_t>(packed.data.size());
    entry.uncompressed_size = static_cast<std::uint32_t>(packed.bytes_read);
    entry.flags = static_cast<std::uint16_t>(entry.flags & ~kFlagSizesFollow);
    if (!Append(LocalHeader(entry, packed.plan.times)) || !Append(packed.data)) {
        return CutBack(entry.offset);
    }
    return Keep(std::move(entry));
}

// Refused before a byte is written when it cannot fit: the headers, the kept entries' central
// headers and the end record must stay within the limits, and a stored entry's data is its
// size.
std::optional<std::uint64_t> ZipWriter::DataBudget(const EntryPlan& plan) const {
    const ZipEntry& entry = plan.entry;
    const std::uint64_t room = written_ + LocalHeaderBytes(entry) + directory_bytes_ +
                               CentralHeaderBytes(entry) + kEndRecordSize;
    if (entries_.size() >= limits_.entries || plan.size > kZipMaxEntryBytes ||
        room > limits_.archive_bytes || (plan.stored && plan.size > limits_.archive_bytes - room)) {
        return std::nullopt;
    }
    return limits_.archive_bytes - room;
}

std::uint64_t ZipWriter::ReadLeft() const {
    return limits_.read_bytes - std::min(read_, limits_.read_bytes);
}

std::uint32_t ZipWriter::Keep(ZipEntry entry) {
    directory_bytes_ += CentralHeaderBytes(entry);
    entries_.push_back(std::move(entry));
    return kZipOk;
}

// Every byte that reaches the file is counted, so that the count stays where the position is.
bool ZipWriter::Append(const std::vector<std::uint8_t>& bytes) {
    DWORD put = 0;
    const bool whole = WriteAll(archive_, bytes.data(), bytes.size(), put);
    written_ += put;
    return whole;
}

// A failed entry leaves no bytes: the file is cut back to where the entry began and the next
// one starts there, so every byte before the central directory belongs to a listed entry.
std::uint32_t ZipWriter::CutBack(std::uint64_t offset) {
    if (MoveTo(archive_, offset) && SetEndOfFile(archive_)) {
        written_ = offset;
    } else {
        broken_ = true;  // bytes that nothing lists, or a position unknown
    }
    return kZipWriteFailed;
}

std::uint32_t ZipWriter::Finish() {
    if (!finished_) {
        finished_ = true;
        finish_result_ = WriteDirectory();
        entries_.clear();
    }
    return finish_result_;
}

std::uint32_t ZipWriter::WriteDirectory() {
    if (broken_) {
        return kZipWriteFailed;
    }
    const std::uint64_t directory_offset = written_;
    for (const ZipEntry& entry : entries_) {
        if (!Append(CentralHeader(entry))) {
            return kZipWriteFailed;  // and no end record
        }
    }
    const auto count = static_cast<std::uint16_t>(entries_.size());
    const auto size = static_cast<std::uint32_t>(written_ - directory_offset);
    return Append(EndRecord(count, size, static_cast<std::uint32_t>(directory_offset)))
               ? kZipOk
               : kZipWriteFailed;
}

std::uint32_t ZipWriter::Close(std::unique_ptr<ZipHandle> handle) {
    if (!handle || handle->kind != kZipHandleArchive || !handle->writer) {
        return kZipWrongHandle;
    }
    return handle->writer->Finish();  // the file closes as the handle goes
}
