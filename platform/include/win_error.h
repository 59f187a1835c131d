// Windows' system error category. Built for Windows, std::system_category() gives the system's
// text for a Windows error number; here it would give the C library's text for an errno of
// the same value ("Input/output error" for ERROR_ACCESS_DENIED). The program takes this one
// wherever it turns a Windows error number into a std::error_code or a text.
#pragma once

#include <system_error>

namespace win_error {

// Named "system"; the message of a Windows error number or HRESULT is FormatMessageW's text
// without its line end, or "unknown error" when the system has none.
const std::error_category& system_category() noexcept;

}  // namespace win_error
