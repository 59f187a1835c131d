// Text for the debugger. There is no debugger here: the text goes to the standard error stream
// as it is (no line end added) and is recorded for tests (platform/testing/windows.h).
#pragma once

#include "win/types.h"

extern "C" {

void WINAPI OutputDebugStringA(LPCSTR text);
void WINAPI OutputDebugStringW(LPCWSTR text);
}
