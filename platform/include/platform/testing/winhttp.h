// WinHTTP proxy discovery as tests set it.
// Defaults, as a real run on this machine: every user's settings come from the environment at
// the time of the call: https_proxy and http_proxy (or HTTPS_PROXY, HTTP_PROXY) become the
// static list "http=host:port;https=host:port" (scheme, credentials and path dropped), no_proxy
// the bypass list (commas become semicolons); no automatic detection, no configuration script.
#pragma once

#include <winhttp.h>

#include <optional>
#include <string>

namespace platform::testing {

struct UserProxyConfig {
    bool auto_detect = false;
    std::optional<std::wstring> auto_config_url;
    std::optional<std::wstring> proxy;
    std::optional<std::wstring> proxy_bypass;
};
// The settings that WinHttpGetIEProxyConfigForCurrentUser gives while acting as `user`.
void SetUserProxyConfig(const std::wstring& user, UserProxyConfig config);

struct ProxyResolution {
    DWORD error = ERROR_SUCCESS;    // not 0: WinHttpGetProxyForUrl fails with it
    bool needs_auto_logon = false;  // fails with 12015 unless fAutoLogonIfChallenged is set
    DWORD access_type = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    std::optional<std::wstring> proxy;
    std::optional<std::wstring> proxy_bypass;
};
// What automatic detection finds; by default it fails with ERROR_WINHTTP_AUTODETECTION_FAILED.
void SetAutoDetectResolution(ProxyResolution resolution);
// What the script at `script_url` answers; an unknown script fails with
// ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT.
void SetScriptResolution(const std::wstring& script_url, ProxyResolution resolution);

// WinHTTP handles open, and GlobalFree-able blocks handed out and not yet freed.
std::size_t OpenInternetHandleCount();
std::size_t OutstandingGlobalBlockCount();

}  // namespace platform::testing
