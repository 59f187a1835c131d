// Windows, messages, OLE and debug output as tests see them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace platform::testing {

// The windows that exist, from the top of the Z order down.
std::vector<HWND> WindowsInZOrder();

struct OleCalls {
    int initialize = 0;    // successful OleInitialize calls
    int uninitialize = 0;  // OleUninitialize calls that undid one of them
};
OleCalls OleCallCounts();

// Every text given to OutputDebugStringA/W since the last Reset, in UTF-8, one entry per call.
std::vector<std::string> DebugOutput();

}  // namespace platform::testing
