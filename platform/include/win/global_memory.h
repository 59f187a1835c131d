// Global memory blocks, as some calls (WinHTTP's strings) hand them out.
#pragma once

#include "win/types.h"

extern "C" {

// Null on success; the block itself, with ERROR_INVALID_HANDLE, for a pointer that this layer
// did not hand out or that was freed already.
HGLOBAL WINAPI GlobalFree(HGLOBAL memory);
}
