// Shell special folders.
#pragma once

#include "windows.h"

#define CSIDL_APPDATA 0x001a
#define CSIDL_COMMON_APPDATA 0x0023
#define SHGFP_TYPE_CURRENT 0

extern "C" {

// Maps CSIDL_COMMON_APPDATA and CSIDL_APPDATA to folders of this machine (see platform/testing.h).
// A folder that does not exist fails with HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND); any other
// CSIDL with E_INVALIDARG. The path is written into a buffer of MAX_PATH characters.
HRESULT WINAPI SHGetFolderPathW(HWND owner, int csidl, HANDLE token, DWORD flags, LPWSTR path);
}
