// Terminal-services sessions, access tokens and impersonation as tests set them.
// Defaults, as a real run on this machine: the process is in session 1, the one session, which
// is active; the process's account and the session's user are the login name of this process,
// with tokens of elevation type default.
#pragma once

#include <wtsapi32.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::testing {

// What ProcessIdToSessionId answers for this process (0 and 0xFFFFFFFF included).
void SetProcessSessionId(DWORD session_id);

struct SessionSpec {
    DWORD id = 0;
    WTS_CONNECTSTATE_CLASS state = WTSActive;
    std::wstring station_name;
};
// The sessions that WTSEnumerateSessionsW lists, in this order.
void SetSessions(std::vector<SessionSpec> sessions);

struct TokenSpec {
    std::wstring user;
    TOKEN_ELEVATION_TYPE elevation = TokenElevationTypeDefault;
    // A limited or full token has a linked one of the same user with the other type, unless
    // its logon session is gone (GetTokenInformation then fails as for a default token).
    bool has_linked_token = true;
};
// The token that OpenProcessToken gives for this process.
void SetProcessToken(TokenSpec token);
// The token that WTSQueryUserToken gives for a session; nullopt: nobody is logged on there.
void SetSessionToken(DWORD session_id, std::optional<TokenSpec> token);

// The token that the calling thread impersonates, if any (impersonation is per thread).
std::optional<TokenSpec> ImpersonatedToken();
// The user the calling thread acts as: the impersonated one, or the process's account.
std::wstring ActingUser();

// Session lists handed out by WTSEnumerateSessionsW and not yet released.
std::size_t OutstandingSessionListCount();

// One call into the sessions, tokens and WinHTTP areas, recorded on entry (before any
// injected failure): its Windows name, whom the calling thread acted as, and its arguments as
// the area writes them ("url=... flags=1 detect=3 script=null logon=0").
struct RecordedCall {
    std::string function;
    std::wstring acting_user;
    std::wstring arguments;
};
std::vector<RecordedCall> RecordedCalls();
// The recorded calls of one function.
std::vector<RecordedCall> RecordedCalls(std::string_view function);

}  // namespace platform::testing
