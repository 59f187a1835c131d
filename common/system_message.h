// The system's text for a Windows error number or HRESULT, as Windows' system error category
// gives it: FormatMessageW's text without its line end, "unknown error" when the system has
// none. Never throws for a number.
#pragma once

#include <windows.h>

#include <string>

std::string SystemMessage(DWORD number);
