// Code-page conversions. Code pages 65001 (UTF-8), 0 (ANSI) and 3 (the thread's ANSI code page)
// all mean UTF-8 on this platform; invalid input becomes U+FFFD, as Windows does with flags 0.
#pragma once

#include "win/types.h"

#define CP_ACP 0
#define CP_THREAD_ACP 3
#define CP_UTF8 65001

extern "C" {

int WINAPI MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR source, int source_length,
                               LPWSTR target, int target_length);
int WINAPI WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR source, int source_length,
                               LPSTR target, int target_length, LPCSTR default_char,
                               LPBOOL used_default_char);
}
