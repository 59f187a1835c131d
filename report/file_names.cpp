#include "report/file_names.h"

#include <algorithm>

namespace {

template <typename Char>
bool IsBare(std::basic_string_view<Char> name) {
    constexpr Char kDot[] = {'.', '\0'};
    constexpr Char kDotDot[] = {'.', '.', '\0'};
    if (name.empty() || name == kDot || name == kDotDot) {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [](Char c) {
        const auto code = static_cast<std::make_unsigned_t<Char>>(c);
        return c == '/' || c == '\\' || c == ':' || code < 0x20 || code == 0x7F;
    });
}

}  // namespace

bool IsBareFileName(std::wstring_view name) { return IsBare(name); }

bool IsBareFileName(std::string_view name) { return IsBare(name); }
