// Error numbers, HRESULTs, the calling thread's last error and the system's text for them.
#pragma once

#include <cstdarg>

#include "win/types.h"

#define ERROR_SUCCESS 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_TOO_MANY_OPEN_FILES 4L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_ENVVAR_NOT_FOUND 203L
#define ERROR_MR_MID_NOT_FOUND 317L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_NO_TOKEN 1008L
#define ERROR_NOT_FOUND 1168L
#define ERROR_PRIVILEGE_NOT_HELD 1314L
#define ERROR_INVALID_WINDOW_HANDLE 1400L

#define S_OK static_cast<HRESULT>(0L)
#define S_FALSE static_cast<HRESULT>(1L)
#define E_FAIL static_cast<HRESULT>(0x80004005L)
#define E_INVALIDARG static_cast<HRESULT>(0x80070057L)
#define E_OUTOFMEMORY static_cast<HRESULT>(0x8007000EL)
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define FACILITY_WIN32 7
#define HRESULT_FROM_WIN32(x)                                                                   \
    (static_cast<HRESULT>(x) <= 0 ? static_cast<HRESULT>(x)                                     \
                                  : static_cast<HRESULT>((static_cast<DWORD>(x) & 0x0000FFFF) | \
                                                         (FACILITY_WIN32 << 16) | 0x80000000))

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200U
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000U

extern "C" {

DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD error);

// The system's text for an error number or HRESULT (FORMAT_MESSAGE_FROM_SYSTEM, with
// FORMAT_MESSAGE_IGNORE_INSERTS), in English whatever the language asked, ending in "\r\n" as
// Windows' texts do. The number of characters written without the terminator; 0 with
// ERROR_MR_MID_NOT_FOUND for a number the system has no text for, ERROR_INSUFFICIENT_BUFFER
// when the text does not fit, ERROR_INVALID_PARAMETER for other flags (no allocated buffer).
DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id,
                            LPWSTR buffer, DWORD size, va_list* arguments);
}
