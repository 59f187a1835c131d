// The record of calls into the sessions, tokens and WinHTTP areas that tests read back.
#pragma once

#include <string>

namespace platform::detail {

// Records `function` with the user the calling thread acts as and its arguments as text.
void RecordCall(const char* function, std::wstring arguments = {});

// "null" for a null string, otherwise the string itself.
std::wstring TextOrNull(const wchar_t* text);

}  // namespace platform::detail
