// What an entry will be before its data is read: the fields of its headers that come from its
// name and from its source's facts. The writer and the threads that pack entries ahead both
// start from it, so that both give an entry the same headers.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "zip/zip_records.h"

inline constexpr std::uint16_t kFlagSizesFollow = 8;

struct EntryPlan {
    ZipEntry entry;  // offset, CRC and final sizes still to come
    LocalTimes times;
    std::uint64_t size = 0;  // the source's, as the file system reports it
    bool stored = false;     // copied as it is, not deflated
};

// The entry's name with slashes; none when it is empty or longer than an entry holds.
std::optional<std::wstring> EntryName(std::wstring_view name);

// Fills the plan from an entry name (as EntryName gives it) and an open source, and leaves the
// source at its start: kZipOk, kZipNoFile when the source's facts cannot be read, or
// kZipBadArgument when the name does not fit in UTF-8.
std::uint32_t PlanEntry(const std::wstring& name, HANDLE source, EntryPlan& plan);
