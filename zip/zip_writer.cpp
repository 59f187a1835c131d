#include "zip_writer.h"

#include <algorithm>
#include <chrono>
#include <cwctype>

#include "crc32.h"
#include "deflate_state.h"

namespace {

std::uint32_t g_last_result = kZipOk;

constexpr std::uint16_t kVersionMadeBy = 0x0B17;
constexpr std::uint16_t kVersionNeeded = 20;
constexpr std::uint16_t kFlagSizesFollow = 8;
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;
constexpr int kPackLevel = 8;
constexpr std::size_t kMaxNameUnits = 259;
constexpr std::uint32_t kLocalHeaderSize = 30;
constexpr std::uint32_t kCentralHeaderSize = 46;
constexpr std::uint32_t kEndRecordSize = 22;
constexpr std::uint32_t kLocalExtraSize = 17;
constexpr std::uint32_t kCentralExtraSize = 9;

// Archives already packed gain nothing from deflating.
constexpr std::wstring_view kStoredSuffixes[] = {L".Z",   L".zip", L".zoo", L".arc",
                                                  L".lzh", L".arj", L".gz",  L".tgz"};

class ByteWriter {
public:
    explicit ByteWriter(std::uint8_t* out) : out_(out) {}
    void U16(std::uint32_t value) {
        *out_++ = static_cast<std::uint8_t>(value);
        *out_++ = static_cast<std::uint8_t>(value >> 8);
    }
    void U32(std::uint32_t value) {
        U16(value & 0xFFFF);
        U16(value >> 16);
    }
    void Bytes(const std::uint8_t* bytes, std::size_t count) {
        out_ = std::copy_n(bytes, count, out_);
    }

private:
    std::uint8_t* out_;
};

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

std::int64_t SecondsSince1970(const FILETIME& time) {
    const std::uint64_t units =
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<std::int64_t>((units - 116444736000000000ULL) / 10000000ULL);
}

// The calendar fields in UTC, not local time: the archive shows the same time everywhere.
std::uint32_t DosDateTime(std::int64_t seconds) {
    using namespace std::chrono;
    const sys_seconds point{std::chrono::seconds(seconds)};
    const sys_days day = floor<days>(point);
    const year_month_day date{day};
    const hh_mm_ss clock{point - day};
    const auto dos_date = ((static_cast<int>(date.year()) - 1980) & 0x7F) << 9 |
                          (static_cast<unsigned>(date.month()) & 0x0F) << 5 |
                          (static_cast<unsigned>(date.day()) & 0x1F);
    const auto dos_time = (clock.hours().count() & 0x1F) << 11 |
                          (clock.minutes().count() & 0x3F) << 5 | clock.seconds().count() / 2;
    return static_cast<std::uint32_t>(dos_date) << 16 | static_cast<std::uint32_t>(dos_time);
}

// A DOS header ("MZ") whose new-header offset leads to a PE, NE or LE signature.
bool IsExecutable(HANDLE source) {
    std::array<std::uint8_t, 64> dos{};
    DWORD got = 0;
    if (!ReadFile(source, dos.data(), static_cast<DWORD>(dos.size()), &got, nullptr) ||
        got != dos.size() || (dos[0] | dos[1] << 8) != 0x5A4D) {
        return false;
    }
    const auto new_header = static_cast<LONG>(dos[0x3C] | dos[0x3D] << 8 | dos[0x3E] << 16 |
                                              static_cast<std::uint32_t>(dos[0x3F]) << 24);
    std::array<std::uint8_t, 4> signature{};
    if (SetFilePointer(source, new_header, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !ReadFile(source, signature.data(), 4, &got, nullptr) || got != 4) {
        return false;
    }
    const std::uint32_t value = signature[0] | signature[1] << 8 | signature[2] << 16 |
                                static_cast<std::uint32_t>(signature[3]) << 24;
    const std::uint32_t low = value & 0xFFFF;
    return value == 0x00004550 || low == 0x454E || low == 0x454C;
}

std::uint32_t ExternalAttributes(DWORD attributes, bool executable) {
    std::uint32_t result = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                         FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY |
                                         FILE_ATTRIBUTE_ARCHIVE);
    result |= (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0x40000000u : 0x80000000u;
    result |= 0x01000000u;
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        result |= 0x00800000u;
    }
    if (executable) {
        result |= 0x00400000u;
    }
    return result;
}

void CloseOwned(HANDLE& handle, bool& owned) {
    if (owned && handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
    handle = INVALID_HANDLE_VALUE;
    owned = false;
}

// Writes to the archive; every byte that reaches it is counted, so that whatever follows a
// failed write still sits at the offset the headers give.
bool WriteOut(ZipWriter& writer, const void* bytes, std::uint32_t count) {
    DWORD put = 0;
    const bool ok = WriteFile(writer.file, bytes, count, &put, nullptr) != FALSE && put == count;
    writer.written += put;
    return ok;
}

// From "version needed" to the name length, both headers carry the same fields.
void SharedFields(ByteWriter& out, const ZipEntry& entry, std::uint16_t flags) {
    out.U16(entry.version_needed);
    out.U16(flags);
    out.U16(entry.method);
    out.U32(entry.dos_date_time);
    out.U32(entry.crc);
    out.U32(entry.compressed_size);
    out.U32(entry.uncompressed_size);
    out.U16(entry.name_length);
}

std::array<std::uint8_t, kLocalHeaderSize> LocalHeader(const ZipEntry& entry) {
    std::array<std::uint8_t, kLocalHeaderSize> bytes{};
    ByteWriter out(bytes.data());
    out.U32(0x04034B50);
    SharedFields(out, entry, entry.local_flags);
    out.U16(entry.local_extra_length);
    return bytes;
}

std::array<std::uint8_t, kCentralHeaderSize> CentralHeader(const ZipEntry& entry) {
    std::array<std::uint8_t, kCentralHeaderSize> bytes{};
    ByteWriter out(bytes.data());
    out.U32(0x02014B50);
    out.U16(entry.version_made_by);
    SharedFields(out, entry, entry.flags);
    out.U16(entry.central_extra_length);
    out.U16(entry.comment_length);
    out.U16(entry.disk_number_start);
    out.U16(entry.internal_attributes);
    out.U32(entry.external_attributes);
    out.U32(entry.offset);
    return bytes;
}

bool WriteLocalHeader(ZipWriter& writer, const ZipEntry& entry) {
    const auto fixed = LocalHeader(entry);
    return WriteOut(writer, fixed.data(), kLocalHeaderSize) &&
           WriteOut(writer, entry.name.data(), entry.name_length) &&
           WriteOut(writer, entry.local_extra.data(), entry.local_extra_length);
}

void FillExtraFields(ZipWriter& writer, ZipEntry& entry) {
    const auto low = [](std::int64_t seconds) { return static_cast<std::uint32_t>(seconds); };
    ByteWriter local(entry.local_extra.data());
    local.U16(0x5455);  // "UT"
    local.U16(13);
    const std::uint8_t all_times = 7;
    local.Bytes(&all_times, 1);
    local.U32(low(writer.write_time));
    local.U32(low(writer.access_time));
    local.U32(low(writer.creation_time));
    ByteWriter central(entry.central_extra.data());
    central.U16(0x5455);
    central.U16(5);
    central.Bytes(&all_times, 1);
    central.U32(low(writer.write_time));
}

// ------------------------------------------------------------ the compressor's two functions

std::uint32_t ReadSource(void* context, std::uint8_t* buffer, std::uint32_t size) {
    auto& writer = *static_cast<ZipWriter*>(context);
    DWORD got = 0;
    if (ReadFile(writer.source, buffer, size, &got, nullptr) == FALSE) {
        return 0;  // a read failure ends the data as if the file had ended
    }
    writer.crc = UpdateCrc32(writer.crc, buffer, got);
    writer.bytes_read += got;
    return got;
}

void FlushToArchive(void* context, const std::uint8_t* buffer, std::uint32_t& count) {
    auto& writer = *static_cast<ZipWriter*>(context);
    DWORD put = 0;
    if (WriteFile(writer.file, buffer, count, &put, nullptr) == FALSE || put != count) {
        writer.data_write_failed = true;
    }
    writer.data_written += put;
    if (put != 0) {
        count = 0;
    }
}

bool WriteDeflated(ZipWriter& writer, ZipEntry& entry) {
    if (!writer.compressor) {
        writer.compressor = std::make_unique<zip_deflate::State>();
    }
    const zip_deflate::Io io{&writer, ReadSource, FlushToArchive, writer.transfer.data()};
    std::uint32_t size = 0;
    const std::uint32_t result = zip_deflate::Compress(*writer.compressor, io, kPackLevel, entry.flags,
                                                   entry.internal_attributes, size);
    return result == 0 && !writer.data_write_failed && size == writer.data_written;
}

bool WriteStored(ZipWriter& writer) {
    for (;;) {
        const std::uint32_t got = ReadSource(&writer, writer.transfer.data(),
                                             static_cast<std::uint32_t>(writer.transfer.size()));
        if (got == 0) {
            return true;
        }
        DWORD put = 0;
        WriteFile(writer.file, writer.transfer.data(), got, &put, nullptr);
        writer.data_written += put;
        if (put < got) {
            return false;  // kZipShortData, reported for the entry as a failed write
        }
    }
}

}  // namespace

std::uint32_t ZipLastResult() { return g_last_result; }

void SetZipLastResult(std::uint32_t result) { g_last_result = result; }

ZipWriter::ZipWriter() = default;

ZipWriter::~ZipWriter() {
    CloseOwned(source, owns_source);
    CloseOwned(file, owns_file);
}

std::unique_ptr<ZipHandle> ZipWriter::Open(std::wstring_view path) {
    auto writer = std::make_unique<ZipWriter>();
    const std::wstring terminated(path);
    // Never written through a link planted at the name.
    writer->file = CreateFileW(terminated.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (writer->file == INVALID_HANDLE_VALUE) {
        SetZipLastResult(kZipNoFile);
        return nullptr;
    }
    writer->owns_file = true;
    writer->can_seek = true;
    writer->archive_offset = 0;
    SetZipLastResult(kZipOk);
    auto handle = std::make_unique<ZipHandle>();
    handle->kind = kZipHandleArchive;
    handle->writer = std::move(writer);
    return handle;
}

std::uint32_t ZipWriter::AddFile(std::wstring_view entry_name, std::wstring_view source_path) {
    if (central_written) {
        return kZipEnded;
    }
    if (entry_name.empty() || source_path.empty()) {
        return kZipBadArgument;
    }
    const std::wstring path(source_path);
    const HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        return kZipNoFile;
    }
    const std::uint32_t result = AddFile(entry_name, opened);
    CloseHandle(opened);
    return result;
}

std::uint32_t ZipWriter::AddFile(std::wstring_view entry_name, HANDLE source_file) {
    if (central_written) {
        return kZipEnded;
    }
    std::wstring name(entry_name);
    // Longer names do not fit the record's name field.
    if (name.empty() || Utf16Units(name) > kMaxNameUnits) {
        return kZipBadArgument;
    }
    std::replace(name.begin(), name.end(), L'\\', L'/');
    const bool stored = StoredByName(name);
    source = source_file;
    owns_source = false;  // the caller's

    BY_HANDLE_FILE_INFORMATION info{};
    // Sizes past 32 bits would wrap every size field of the entry.
    if (!GetFileInformationByHandle(source, &info) || info.nFileSizeHigh != 0) {
        CloseOwned(source, owns_source);
        return kZipNoFile;
    }
    access_time = SecondsSince1970(info.ftLastAccessTime);
    write_time = SecondsSince1970(info.ftLastWriteTime);
    creation_time = SecondsSince1970(info.ftCreationTime);
    dos_date_time = DosDateTime(write_time);
    source_size = static_cast<std::int32_t>(info.nFileSizeLow);
    const bool executable =
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && IsExecutable(source);
    attributes = ExternalAttributes(info.dwFileAttributes, executable);
    SetFilePointer(source, 0, nullptr, FILE_BEGIN);
    bytes_read = 0;
    crc = 0;
    data_written = 0;
    data_write_failed = false;

    ZipEntry entry{};
    const int name_bytes = WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()),
                                               entry.name.data(),
                                               static_cast<int>(entry.name.size() - 1), nullptr, nullptr);
    if (name_bytes <= 0) {
        CloseOwned(source, owns_source);
        return kZipBadArgument;  // its UTF-8 form does not fit either
    }
    entry.name[static_cast<std::size_t>(name_bytes)] = '\0';

    entry.version_made_by = kVersionMadeBy;
    entry.version_needed = kVersionNeeded;
    entry.flags = kFlagSizesFollow;
    entry.method = stored ? kMethodStored : kMethodDeflated;
    entry.dos_date_time = dos_date_time;
    entry.crc = 0;
    entry.compressed_size = stored && source_size >= 0 ? static_cast<std::uint32_t>(source_size) : 0;
    entry.uncompressed_size = static_cast<std::uint32_t>(source_size);
    entry.name_length = static_cast<std::uint32_t>(name_bytes);
    entry.local_extra_length = kLocalExtraSize;
    entry.central_extra_length = kCentralExtraSize;
    entry.comment_length = 0;
    entry.disk_number_start = 0;
    entry.internal_attributes = 0;
    entry.local_flags = kFlagSizesFollow;
    entry.external_attributes = attributes;
    entry.offset = written;
    FillExtraFields(*this, entry);

    if (!WriteLocalHeader(*this, entry)) {
        CloseOwned(source, owns_source);
        return kZipWriteFailed;
    }

    const bool data_ok = stored ? WriteStored(*this) : WriteDeflated(*this, entry);
    CloseOwned(source, owns_source);
    written += data_written;
    if (!data_ok) {
        return kZipWriteFailed;
    }

    entry.crc = crc;
    entry.compressed_size = data_written;
    entry.uncompressed_size = bytes_read;
    entry.flags = static_cast<std::uint16_t>(entry.flags & ~kFlagSizesFollow);
    entry.local_flags = entry.flags;

    // The rewrite lands on bytes already counted: count them once, and always return to the end.
    const std::uint32_t end = written;
    written = entry.offset;
    SetFilePointer(file, static_cast<LONG>(entry.offset), nullptr, FILE_BEGIN);
    const bool rewritten = WriteLocalHeader(*this, entry);
    written = end;
    SetFilePointer(file, static_cast<LONG>(end), nullptr, FILE_BEGIN);
    if (!rewritten) {
        return kZipWriteFailed;
    }
    entries.push_back(entry);
    return kZipOk;
}

std::uint32_t ZipWriter::Finish() {
    const std::uint32_t directory_offset = written;
    std::uint32_t count = 0;
    bool all_well = true;
    for (const ZipEntry& entry : entries) {
        const std::uint32_t before = written;
        if (all_well) {
            const auto fixed = CentralHeader(entry);
            all_well = WriteOut(*this, fixed.data(), kCentralHeaderSize) &&
                       WriteOut(*this, entry.name.data(), entry.name_length) &&
                       WriteOut(*this, entry.central_extra.data(), entry.central_extra_length);
        }
        written = before + kCentralHeaderSize + entry.name_length + entry.central_extra_length +
                  entry.comment_length;
        ++count;
    }
    entries.clear();
    central_written = true;
    if (!all_well) {
        return kZipWriteFailed;
    }
    std::array<std::uint8_t, kEndRecordSize> end{};
    ByteWriter out(end.data());
    out.U32(0x06054B50);
    out.U16(0);
    out.U16(0);
    out.U16(count);
    out.U16(count);
    out.U32(written - directory_offset);
    out.U32(directory_offset);
    out.U16(0);
    return WriteOut(*this, end.data(), kEndRecordSize) ? kZipOk : kZipWriteFailed;
}

std::uint32_t ZipWriter::Close(std::unique_ptr<ZipHandle> handle) {
    if (!handle || handle->kind != kZipHandleArchive || !handle->writer) {
        return kZipWrongHandle;
    }
    ZipWriter& writer = *handle->writer;
    const std::uint32_t result = writer.central_written ? kZipOk : writer.Finish();
    writer.central_written = true;
    CloseOwned(writer.file, writer.owns_file);
    Destroy(std::move(handle->writer));
    return result;
}

void ZipWriter::Destroy(std::unique_ptr<ZipWriter> writer) {
    if (writer) {
        writer->compressor.reset();
        writer->entries.clear();
    }
}
