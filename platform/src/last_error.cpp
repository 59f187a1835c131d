#include <windows.h>

namespace {
thread_local DWORD g_last_error = ERROR_SUCCESS;
}

extern "C" {

DWORD WINAPI GetLastError() { return g_last_error; }

void WINAPI SetLastError(DWORD error) { g_last_error = error; }
}
