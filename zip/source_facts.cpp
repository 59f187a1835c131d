#include "zip/source_facts.h"

#include <array>
#include <chrono>

namespace {

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

bool Rewind(HANDLE source) {
    return SetFilePointer(source, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}

// A DOS header ("MZ") whose new-header offset leads to a PE, NE or LE signature. Reads from
// the source's start.
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
    std::uint32_t result =
        attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE);
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

}  // namespace

std::optional<SourceFacts> ReadSourceFacts(HANDLE source) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(source, &info)) {
        return std::nullopt;
    }
    SourceFacts facts;
    facts.access_time = SecondsSince1970(info.ftLastAccessTime);
    facts.write_time = SecondsSince1970(info.ftLastWriteTime);
    facts.creation_time = SecondsSince1970(info.ftCreationTime);
    facts.dos_date_time = DosDateTime(facts.write_time);
    facts.size = static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    // A source handed over by the caller may stand anywhere.
    if (!Rewind(source)) {
        return std::nullopt;
    }
    const bool executable =
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && IsExecutable(source);
    facts.external_attributes = ExternalAttributes(info.dwFileAttributes, executable);
    if (!Rewind(source)) {
        return std::nullopt;
    }
    return facts;
}
