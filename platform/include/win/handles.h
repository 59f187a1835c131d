// Kernel object handles shared by files, tokens and the other objects of the layer.
#pragma once

#include "win/types.h"

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))

#define DUPLICATE_CLOSE_SOURCE 0x00000001U
#define DUPLICATE_SAME_ACCESS 0x00000002U

using LPHANDLE = HANDLE*;

extern "C" {

BOOL WINAPI CloseHandle(HANDLE object);
// A second handle of the same kernel object, which lives until its last handle is closed. Only
// the calling process (GetCurrentProcess()) on both sides, with DUPLICATE_SAME_ACCESS.
BOOL WINAPI DuplicateHandle(HANDLE source_process, HANDLE source, HANDLE target_process,
                            LPHANDLE target, DWORD desired_access, BOOL inherit_handle,
                            DWORD options);
}
