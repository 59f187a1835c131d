// Access tokens, terminal-services session ids of processes and impersonation. A token belongs
// to one user; impersonation belongs to the calling thread only.
#pragma once

#include "win/types.h"

#define READ_CONTROL 0x00020000L

#define TOKEN_ASSIGN_PRIMARY 0x0001
#define TOKEN_DUPLICATE 0x0002
#define TOKEN_IMPERSONATE 0x0004
#define TOKEN_QUERY 0x0008

#define ERROR_NO_SUCH_LOGON_SESSION 1312L

enum TOKEN_INFORMATION_CLASS {
    TokenUser = 1,
    TokenElevationType = 18,
    TokenLinkedToken = 19,
};

enum TOKEN_ELEVATION_TYPE {
    TokenElevationTypeDefault = 1,
    TokenElevationTypeFull = 2,
    TokenElevationTypeLimited = 3,
};

struct TOKEN_LINKED_TOKEN {
    HANDLE LinkedToken;
};

extern "C" {

// The session of a process of this machine; only this process is known here.
BOOL WINAPI ProcessIdToSessionId(DWORD process_id, DWORD* session_id);

// The pseudo handle (-1) that stands for the calling process; it needs no closing.
HANDLE WINAPI GetCurrentProcess();
BOOL WINAPI OpenProcessToken(HANDLE process, DWORD desired_access, PHANDLE token);

// Classes TokenElevationType and TokenLinkedToken. The linked token is a new handle that the
// caller closes; a token without one (elevation type default) fails with
// ERROR_NO_SUCH_LOGON_SESSION.
BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information_class,
                                LPVOID information, DWORD information_length, PDWORD return_length);

// The calling thread acts as the token's user until RevertToSelf.
BOOL WINAPI ImpersonateLoggedOnUser(HANDLE token);
BOOL WINAPI RevertToSelf();
}
