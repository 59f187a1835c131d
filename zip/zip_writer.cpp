#include "zip_writer.h"

#include <algorithm>
#include <cwctype>
#include <optional>
#include <string>

#include "crc32.h"
#include "deflate.h"
#include "source_facts.h"

namespace {

std::uint32_t g_last_result = kZipOk;

constexpr std::uint16_t kFlagSizesFollow = 8;
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;
constexpr int kPackLevel = 8;
constexpr std::size_t kMaxNameUnits = 259;
constexpr std::size_t kMaxNameBytes = 259;

// Archives already packed gain nothing from deflating.
constexpr std::wstring_view kStoredSuffixes[] = {L".Z",   L".zip", L".zoo", L".arc",
                                                 L".lzh", L".arj", L".gz",  L".tgz"};

bool StoredByName(std::wstring_view name) {
    const auto dot = name.rfind(L'.');
    if (dot == std::wstring_view::npos) {
        return false;
    }
    const std::wstring_view suffix = name.substr(dot);
    return std::any_of(std::begin(kStoredSuffixes), std::end(kStoredSuffixes),
                       [suffix](std::wstring_view candidate) {
                           return std::equal(suffix.begin(), suffix.end(), candidate.begin(),
                                             candidate.end(), [](wchar_t a, wchar_t b) {
                                                 return std::towlower(a) == std::towlower(b);
                                             });
                       });
}

std::size_t Utf16Units(std::wstring_view text) {
    std::size_t units = 0;
    for (const wchar_t c : text) {
        units += static_cast<std::uint32_t>(c) > 0xFFFF ? 2 : 1;
    }
    return units;
}

// The entry's name with slashes; none when it is empty or longer than an entry holds.
std::optional<std::wstring> EntryName(std::wstring_view name) {
    if (name.empty() || Utf16Units(name) > kMaxNameUnits) {
        return std::nullopt;
    }
    std::wstring slashed(name);
    std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
    return slashed;
}

std::optional<std::string> Utf8Name(const std::wstring& name) {
    std::array<char, kMaxNameBytes> bytes{};
    const int count =
        WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), bytes.data(),
                            static_cast<int>(bytes.size()), nullptr, nullptr);
    if (count <= 0) {
        return std::nullopt;  // does not fit
    }
    return std::string(bytes.data(), static_cast<std::size_t>(count));
}

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

// ------------------------------------------------------------ one entry's data

// The data of the entry being added, on its way from the source to the archive.
struct EntryStream {
    HANDLE source;
    HANDLE archive;
    std::uint64_t budget;  // data bytes the archive can take and still fit its limits
    std::uint64_t bytes_read = 0;
    std::uint32_t crc = 0;
    std::uint64_t data_written = 0;  // every byte that reached the file
    bool failed = false;             // written short, or the data outgrew a limit
};

// The compressor's read function, and the copy loop's.
std::uint32_t ReadSource(void* context, std::uint8_t* buffer, std::uint32_t size) {
    auto& stream = *static_cast<EntryStream*>(context);
    if (stream.failed) {
        return 0;  // the entry is lost: end its data at once
    }
    DWORD got = 0;
    if (ReadFile(stream.source, buffer, size, &got, nullptr) == FALSE) {
        return 0;  // a read failure ends the data as if the file had ended
    }
    if (stream.bytes_read + got > kZipMaxEntryBytes) {
        stream.failed = true;  // grew past its size field while being read
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
    DWORD put = 0;
    const bool whole = WriteAll(stream.archive, bytes, count, put);
    stream.data_written += put;
    stream.failed = !whole;
    return whole;
}

// The compressor's flush function: the pending count drops to 0 when any byte was written.
void FlushToArchive(void* context, const std::uint8_t* buffer, std::uint32_t& count) {
    auto& stream = *static_cast<EntryStream*>(context);
    const std::uint64_t before = stream.data_written;
    WriteData(stream, buffer, count);
    if (stream.data_written != before) {
        count = 0;
    }
}

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

bool Deflate(EntryStream& stream, zip_deflate::State& state, std::uint8_t* output,
             std::uint16_t& flags) {
    const zip_deflate::Io io{&stream, ReadSource, FlushToArchive, output};
    std::uint16_t internal_attributes = 0;
    std::uint32_t size = 0;
    const std::uint32_t result =
        zip_deflate::Compress(state, io, kPackLevel, flags, internal_attributes, size);
    return result == 0 && !stream.failed && size == stream.data_written;
}

}  // namespace

std::uint32_t ZipLastResult() { return g_last_result; }

void SetZipLastResult(std::uint32_t result) { g_last_result = result; }

ZipWriter::ZipWriter(Key, ScopedHandle archive, const ZipLimits& limits)
    : archive_(std::move(archive)), limits_(limits) {}

ZipWriter::~ZipWriter() = default;

std::unique_ptr<ZipHandle> ZipWriter::Open(std::wstring_view path) {
    return OpenWith(path, ZipLimits{});
}

std::unique_ptr<ZipHandle> OpenZipWithLimits(std::wstring_view path, const ZipLimits& limits) {
    return ZipWriter::OpenWith(path, limits);
}

std::unique_ptr<ZipHandle> ZipWriter::OpenWith(std::wstring_view path, const ZipLimits& limits) {
    const auto terminated = TerminatedPath(path);
    ScopedHandle archive;
    if (terminated) {
        // Never written through a link planted at the name.
        archive = ScopedHandle(CreateFileW(terminated->c_str(), GENERIC_WRITE, 0, nullptr,
                                           CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                           nullptr));
    }
    if (!archive) {
        SetZipLastResult(kZipNoFile);
        return nullptr;
    }
    SetZipLastResult(kZipOk);
    auto handle = std::make_unique<ZipHandle>();
    handle->kind = kZipHandleArchive;
    handle->writer = std::make_unique<ZipWriter>(Key{}, std::move(archive), limits);
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
    if (broken_) {
        return kZipWriteFailed;
    }
    const auto facts = ReadSourceFacts(source);
    if (!facts) {
        return kZipNoFile;
    }
    auto utf8_name = Utf8Name(*name);
    if (!utf8_name) {
        return kZipBadArgument;
    }
    const bool stored = StoredByName(*name);

    ZipEntry entry;
    entry.name = std::move(*utf8_name);
    entry.flags = kFlagSizesFollow;
    entry.method = stored ? kMethodStored : kMethodDeflated;
    entry.dos_date_time = facts->dos_date_time;
    entry.external_attributes = facts->external_attributes;
    entry.write_time = static_cast<std::uint32_t>(facts->write_time);
    const LocalTimes times{static_cast<std::uint32_t>(facts->access_time),
                           static_cast<std::uint32_t>(facts->creation_time)};

    // Refused before a byte is written when it cannot fit: the headers, the kept entries'
    // central headers and the end record must stay within the limits, and a stored entry's
    // data is its size.
    const std::uint64_t room = written_ + LocalHeaderBytes(entry) + directory_bytes_ +
                               CentralHeaderBytes(entry) + kEndRecordSize;
    if (entries_.size() >= limits_.entries || facts->size > kZipMaxEntryBytes ||
        room > limits_.archive_bytes || (stored && facts->size > limits_.archive_bytes - room)) {
        return kZipWriteFailed;
    }
    entry.offset = static_cast<std::uint32_t>(written_);
    entry.compressed_size = stored ? static_cast<std::uint32_t>(facts->size) : 0;
    entry.uncompressed_size = static_cast<std::uint32_t>(facts->size);

    if (!Append(LocalHeader(entry, times))) {
        return AbandonEntry();
    }
    EntryStream stream{source, archive_.get(), limits_.archive_bytes - room};
    bool data_ok = false;
    if (stored) {
        data_ok =
            CopyStored(stream, transfer_.data(), static_cast<std::uint32_t>(transfer_.size()));
    } else {
        if (!compressor_) {
            compressor_ = zip_deflate::NewState();
        }
        data_ok = Deflate(stream, *compressor_, transfer_.data(), entry.flags);
    }
    written_ += stream.data_written;
    if (!data_ok) {
        return AbandonEntry();
    }

    entry.crc = stream.crc;
    entry.compressed_size = static_cast<std::uint32_t>(stream.data_written);
    entry.uncompressed_size = static_cast<std::uint32_t>(stream.bytes_read);
    entry.flags = static_cast<std::uint16_t>(entry.flags & ~kFlagSizesFollow);

    // The rewrite lands on bytes already counted; the position always returns to the end.
    const auto header = LocalHeader(entry, times);
    DWORD put = 0;
    const bool rewritten = MoveTo(archive_.get(), entry.offset) &&
                           WriteAll(archive_.get(), header.data(), header.size(), put);
    if (!MoveTo(archive_.get(), written_)) {
        broken_ = true;
        return kZipWriteFailed;
    }
    if (!rewritten) {
        return kZipWriteFailed;  // a header that is neither first nor final: not kept
    }
    directory_bytes_ += CentralHeaderBytes(entry);
    entries_.push_back(std::move(entry));
    return kZipOk;
}

// Every byte that reaches the file is counted, so that whatever follows a failed write still
// sits where the headers say.
bool ZipWriter::Append(const std::vector<std::uint8_t>& bytes) {
    DWORD put = 0;
    const bool whole = WriteAll(archive_.get(), bytes.data(), bytes.size(), put);
    written_ += put;
    return whole;
}

// What the failed entry wrote stays in the file, counted, unknown to the central directory;
// the next entry follows it. (Cutting the file back would need SetEndOfFile.)
std::uint32_t ZipWriter::AbandonEntry() {
    if (!MoveTo(archive_.get(), written_)) {
        broken_ = true;
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
