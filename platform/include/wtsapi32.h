// Terminal-services sessions of the local machine and the tokens of their users.
#pragma once

#include "windows.h"

#define WTS_CURRENT_SERVER_HANDLE (static_cast<HANDLE>(nullptr))

enum WTS_CONNECTSTATE_CLASS {
    WTSActive,
    WTSConnected,
    WTSConnectQuery,
    WTSShadow,
    WTSDisconnected,
    WTSIdle,
    WTSListen,
    WTSReset,
    WTSDown,
    WTSInit,
};

struct WTS_SESSION_INFOW {
    DWORD SessionId;
    LPWSTR pWinStationName;
    WTS_CONNECTSTATE_CLASS State;
};
using PWTS_SESSION_INFOW = WTS_SESSION_INFOW*;

extern "C" {

// Only the local server (WTS_CURRENT_SERVER_HANDLE), reserved 0 and version 1. The list is
// released with WTSFreeMemory.
BOOL WINAPI WTSEnumerateSessionsW(HANDLE server, DWORD reserved, DWORD version,
                                  PWTS_SESSION_INFOW* session_info, DWORD* count);
void WINAPI WTSFreeMemory(PVOID memory);

// A primary token of the user logged on to the session, closed with CloseHandle. A session
// without a user fails with ERROR_NO_TOKEN.
BOOL WINAPI WTSQueryUserToken(ULONG session_id, PHANDLE token);
}
