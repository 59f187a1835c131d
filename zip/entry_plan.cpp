#include "zip/entry_plan.h"

#include <algorithm>
#include <array>
#include <cwctype>
#include <iterator>

#include "zip/source_facts.h"
#include "zip/zip_writer.h"

namespace {

constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;
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

}  // namespace

std::optional<std::wstring> EntryName(std::wstring_view name) {
    if (name.empty() || Utf16Units(name) > kMaxNameUnits) {
        return std::nullopt;
    }
    std::wstring slashed(name);
    std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
    return slashed;
}

std::uint32_t PlanEntry(const std::wstring& name, HANDLE source, EntryPlan& plan) {
    const auto facts = ReadSourceFacts(source);
    if (!facts) {
        return kZipNoFile;
    }
    auto utf8_name = Utf8Name(name);
    if (!utf8_name) {
        return kZipBadArgument;
    }
    plan.stored = StoredByName(name);
    plan.size = facts->size;
    plan.times = {static_cast<std::uint32_t>(facts->access_time),
                  static_cast<std::uint32_t>(facts->creation_time)};
    ZipEntry& entry = plan.entry;
    entry.name = std::move(*utf8_name);
    entry.flags = kFlagSizesFollow;
    entry.method = plan.stored ? kMethodStored : kMethodDeflated;
    entry.dos_date_time = facts->dos_date_time;
    entry.external_attributes = facts->external_attributes;
    entry.write_time = static_cast<std::uint32_t>(facts->write_time);
    return kZipOk;
}
