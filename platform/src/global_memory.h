// Blocks that callers release with GlobalFree.
#pragma once

#include <windows.h>

#include <string_view>

namespace platform::detail {

// A terminated copy of `text` in a block of its own.
LPWSTR AllocateGlobalString(std::wstring_view text);

}  // namespace platform::detail
