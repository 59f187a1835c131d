// WinHTTP's proxy discovery: the current user's Internet proxy settings and the resolution of
// the proxy for one URL by automatic detection or a configuration script.
#pragma once

#include "windows.h"

using HINTERNET = LPVOID;

#define WINHTTP_ACCESS_TYPE_DEFAULT_PROXY 0
#define WINHTTP_ACCESS_TYPE_NO_PROXY 1
#define WINHTTP_ACCESS_TYPE_NAMED_PROXY 3
#define WINHTTP_NO_PROXY_NAME nullptr
#define WINHTTP_NO_PROXY_BYPASS nullptr

#define WINHTTP_AUTOPROXY_AUTO_DETECT 0x00000001
#define WINHTTP_AUTOPROXY_CONFIG_URL 0x00000002
#define WINHTTP_AUTO_DETECT_TYPE_DHCP 0x00000001
#define WINHTTP_AUTO_DETECT_TYPE_DNS_A 0x00000002

#define ERROR_WINHTTP_TIMEOUT 12002L
#define ERROR_WINHTTP_INVALID_URL 12005L
#define ERROR_WINHTTP_LOGIN_FAILURE 12015L
#define ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT 12167L
#define ERROR_WINHTTP_AUTODETECTION_FAILED 12178L

struct WINHTTP_CURRENT_USER_IE_PROXY_CONFIG {
    BOOL fAutoDetect;
    LPWSTR lpszAutoConfigUrl;
    LPWSTR lpszProxy;
    LPWSTR lpszProxyBypass;
};

struct WINHTTP_AUTOPROXY_OPTIONS {
    DWORD dwFlags;
    DWORD dwAutoDetectFlags;
    LPCWSTR lpszAutoConfigUrl;
    LPVOID lpvReserved;
    DWORD dwReserved;
    BOOL fAutoLogonIfChallenged;
};

struct WINHTTP_PROXY_INFO {
    DWORD dwAccessType;
    LPWSTR lpszProxy;
    LPWSTR lpszProxyBypass;
};

extern "C" {

// The settings of the user the calling thread acts as. Every string that is not null is the
// caller's, freed with GlobalFree.
BOOL WINAPI WinHttpGetIEProxyConfigForCurrentUser(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* config);

HINTERNET WINAPI WinHttpOpen(LPCWSTR agent, DWORD access_type, LPCWSTR proxy_name,
                             LPCWSTR proxy_bypass, DWORD flags);
BOOL WINAPI WinHttpSetTimeouts(HINTERNET session, int resolve_timeout, int connect_timeout,
                               int send_timeout, int receive_timeout);
// On success the strings of the result that are not null are the caller's (GlobalFree).
BOOL WINAPI WinHttpGetProxyForUrl(HINTERNET session, LPCWSTR url,
                                  WINHTTP_AUTOPROXY_OPTIONS* options,
                                  WINHTTP_PROXY_INFO* proxy_info);
BOOL WINAPI WinHttpCloseHandle(HINTERNET handle);
}
