// Run-time loading of libraries. A bare file name is looked for in the executable's folder
// first, as Windows' search order does; the system DLL names resolve to this layer's exports.
#pragma once

#include "win/types.h"

extern "C" {

HMODULE WINAPI LoadLibraryW(LPCWSTR file_name);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR proc_name);
BOOL WINAPI FreeLibrary(HMODULE module);
}
