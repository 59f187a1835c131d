#include "internal_libraries/cpr-helper/src/proxies.h"

#include <windows.h>
#include <winhttp.h>
#include <wtsapi32.h>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/lexical_cast.hpp>

#include <atomic>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/log_call.h"
#include "common/scoped_handle.h"
#include "common/text_conversion.h"
#include "internal_libraries/cpr-helper/src/proxies_testing.h"
#include "internal_libraries/impersonation_helper/src/impersonate.h"

namespace CprHelper {
namespace {

constexpr char kLogTag[] = "cpr-helper-lib-mt";
constexpr DWORD kUnknownSession = 0xFFFFFFFF;
constexpr int kNoPort = -1;
// The port WinHTTP itself takes for a proxy named without one.
constexpr int kDefaultProxyPort = 80;

std::atomic<DWORD> g_session_id{kUnknownSession};

struct ProxyEntry {
    std::wstring host;
    int port = kNoPort;
};

// Strings that WinHTTP hands to the caller.
struct GlobalFreeDeleter {
    void operator()(wchar_t* text) const { GlobalFree(text); }
};
using WinHttpString = std::unique_ptr<wchar_t, GlobalFreeDeleter>;

struct SessionListDeleter {
    void operator()(WTS_SESSION_INFOW* list) const { WTSFreeMemory(list); }
};

DWORD GetCurrentSessionId() {
    if (g_session_id.load() == kUnknownSession) {
        DWORD session_id = kUnknownSession;
        ProcessIdToSessionId(GetCurrentProcessId(), &session_id);
        g_session_id.exchange(session_id);
    }
    return g_session_id.load();
}

// The first active session of the local server, or 0 when there is none.
DWORD GetActiveSessionId() {
    WTS_SESSION_INFOW* raw_list = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &raw_list, &count)) {
        count = 0;
    }
    const std::unique_ptr<WTS_SESSION_INFOW, SessionListDeleter> list(raw_list);
    for (DWORD i = 0; i < count; ++i) {
        if (list.get()[i].State == WTSActive) {
            return list.get()[i].SessionId;
        }
    }
    return 0;
}

std::wstring GetUrlScheme(const std::wstring& url) {
    const auto separator = url.find(L"://");
    return separator == std::wstring::npos ? L"http" : url.substr(0, separator);
}

void ParseProxyEntry(std::vector<ProxyEntry>& entries, const std::wstring& proxy) {
    std::wstring rest = proxy;
    if (const auto separator = rest.find(L"://"); separator != std::wstring::npos) {
        rest.erase(0, separator + 3);
    }
    // An IPv6 literal is written in brackets ("[::1]:8080", "[2001:db8::1]"): the host is the
    // bracketed literal, whose colons are its own, and the port follows the closing bracket.
    const auto closing = rest.starts_with(L'[') ? rest.find(L']') : std::wstring::npos;
    const auto colon = rest.find(L':', closing == std::wstring::npos ? 0 : closing + 1);
    ProxyEntry entry;
    if (closing != std::wstring::npos && colon != closing + 1) {
        entry.host = rest.substr(0, closing + 1);  // anything after it is no port
    } else if (colon != std::wstring::npos) {
        entry.host = rest.substr(0, colon);
        try {
            entry.port = boost::lexical_cast<int>(rest.substr(colon + 1));
        } catch (const boost::bad_lexical_cast&) {
            entry.port = kNoPort;
        }
    } else {
        entry.host = rest;
    }
    // An empty token or a bare "scheme=" names no proxy; given to the HTTP library as the
    // first entry it would switch the real proxies behind it off.
    if (entry.host.empty()) {
        return;
    }
    entries.push_back(std::move(entry));
}

void ParseProxyList(std::vector<ProxyEntry>& entries, const std::wstring& scheme,
                    const std::wstring& list) {
    std::vector<std::wstring> tokens;
    boost::split(tokens, list, boost::is_any_of(L"; \t\r\n"), boost::token_compress_on);
    for (const auto& token : tokens) {
        const auto equals = token.find(L'=');
        if (equals == std::wstring::npos) {
            ParseProxyEntry(entries, token);
        } else if (token.compare(0, equals, scheme) == 0) {
            ParseProxyEntry(entries, token.substr(equals + 1));
        }
    }
}

// WinHTTP's handles close by a call of their own; a failed open answers null.
struct WinHttpHandleTraits {
    using Handle = HINTERNET;
    static HINTERNET NullHandle() noexcept { return nullptr; }
    static bool IsValid(HINTERNET handle) noexcept { return handle != nullptr; }
    static void Close(HINTERNET handle) noexcept { WinHttpCloseHandle(handle); }
};
using WinHttpSession = ScopedGenericHandle<WinHttpHandleTraits>;

class ProxyResolver {
public:
    std::vector<ProxyEntry> GetSystemProxies(const std::wstring& url) {
        std::vector<ProxyEntry> entries;
        WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
        if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) {
            throw std::runtime_error("failed to WinHttpGetIEProxyConfigForCurrentUser");
        }
        const WinHttpString auto_config_url(config.lpszAutoConfigUrl);
        const WinHttpString proxy(config.lpszProxy);
        const WinHttpString proxy_bypass(config.lpszProxyBypass);  // never consulted

        if (config.fAutoDetect) {
            try {
                GetProxyForUrl(url.c_str(), true, nullptr, entries);
            } catch (const std::exception&) {
                // This source adds nothing; the others are still asked.
            }
        }
        if (auto_config_url) {
            try {
                GetProxyForUrl(url.c_str(), false, auto_config_url.get(), entries);
            } catch (const std::exception&) {
                // As above.
            }
        }
        if (proxy) {
            ParseProxyList(entries, GetUrlScheme(url), proxy.get());
        }
        return entries;
    }

    void GetProxyForUrl(const wchar_t* url, bool auto_detect, const wchar_t* script_url,
                        std::vector<ProxyEntry>& entries) {
        if (!session_) {
            session_.Reset(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
            if (!session_) {
                throw std::runtime_error("failed to open http session");
            }
            WinHttpSetTimeouts(session_.get(), 10000, 10000, 5000, 5000);
        }

        WINHTTP_AUTOPROXY_OPTIONS options{};
        if (auto_detect) {
            options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
            options.dwAutoDetectFlags =
                WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        }
        if (script_url != nullptr) {
            options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
            options.lpszAutoConfigUrl = script_url;
        }
        options.fAutoLogonIfChallenged = FALSE;
        WINHTTP_PROXY_INFO info{};

        BOOL resolved = WinHttpGetProxyForUrl(session_.get(), url, &options, &info);
        if (!resolved && GetLastError() == ERROR_WINHTTP_LOGIN_FAILURE) {
            options.fAutoLogonIfChallenged = TRUE;
            resolved = WinHttpGetProxyForUrl(session_.get(), url, &options, &info);
        }
        if (!resolved) {
            const DWORD error = GetLastError();
            if (error == ERROR_WINHTTP_TIMEOUT || error == ERROR_WINHTTP_AUTODETECTION_FAILED) {
                session_.Reset();  // not reused after a timeout or failed detection
            }
            throw std::runtime_error("failed to WinHttpGetProxyForUrl. error=" +
                                     std::to_string(error));
        }

        const WinHttpString proxy(info.lpszProxy);
        const WinHttpString proxy_bypass(info.lpszProxyBypass);
        if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && proxy) {
            ParseProxyList(entries, GetUrlScheme(url), proxy.get());
        }
    }

private:
    WinHttpSession session_;
};

cpr::Proxies ConvertProxies(const std::string& url, const std::vector<ProxyEntry>& entries) {
    LOG_AT(kLogTag, spdlog::level::debug, "convert proxies");
    if (entries.empty()) {
        return {};
    }
    const std::string scheme = url.substr(0, url.find(':'));
    std::map<std::string, std::string> table;
    for (const auto& entry : entries) {
        // A proxy named without a usable port goes to the port WinHTTP would use for it.
        const int port = entry.port == kNoPort ? kDefaultProxyPort : entry.port;
        table.emplace(scheme, Utf16ToUtf8(entry.host) + ":" + std::to_string(port));
    }
    return cpr::Proxies(table);
}

}  // namespace

cpr::Proxies GetProxies(const cpr::Url& url) {
    std::vector<ProxyEntry> entries;
    try {
        const DWORD session_id = GetCurrentSessionId();
        LOG_AT(kLogTag, spdlog::level::debug, "session_id={}", static_cast<int>(session_id));

        std::unique_ptr<ImpersonationHelper::ImpersonationScope> impersonation;
        if (session_id == 0) {
            const DWORD active_session_id = GetActiveSessionId();
            LOG_AT(kLogTag, spdlog::level::debug, "active_session_id={}", active_session_id);
            impersonation =
                std::make_unique<ImpersonationHelper::ImpersonationScope>(active_session_id);
        }

        const std::wstring wide_url = Utf8ToUtf16(url.str());
        // Declared after the scope: its WinHTTP session closes while still impersonating.
        ProxyResolver resolver;
        entries = resolver.GetSystemProxies(wide_url);
    } catch (const std::exception& e) {
        LOG_AT(kLogTag, spdlog::level::err, "failed to get proxies. error={}", e.what());
    }

    if (entries.empty()) {
        LOG_AT(kLogTag, spdlog::level::debug, "no proxies");
    }
    for (const auto& entry : entries) {
        LOG_AT(kLogTag, spdlog::level::debug, "proxy={}. port={}", Utf16ToUtf8(entry.host),
               entry.port);
    }
    return ConvertProxies(url.str(), entries);
}

namespace testing {

void ResetSessionIdCache() { g_session_id.exchange(kUnknownSession); }

}  // namespace testing

}  // namespace CprHelper
