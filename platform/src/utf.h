// UTF-8 <-> wide (UTF-32 here) conversions used throughout the layer. Invalid input becomes
// U+FFFD: each maximal invalid subpart of UTF-8, each lone surrogate or out-of-range value.
#pragma once

#include <string>
#include <string_view>

namespace platform::detail {

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

}  // namespace platform::detail
