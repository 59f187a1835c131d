#include <wtsapi32.h>

#include <platform/testing.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/src/call_journal.h"
#include "platform/src/fault_injection.h"
#include "platform/src/tokens.h"

namespace {

using platform::detail::RecordCall;
using platform::detail::TakeInjectedFailure;
using platform::testing::SessionSpec;
using platform::testing::TokenSpec;

constexpr DWORD kDefaultSession = 1;

// One list handed out by WTSEnumerateSessionsW: the records and the names they point into.
struct SessionList {
    std::vector<WTS_SESSION_INFOW> records;
    std::vector<std::wstring> names;
};

struct SessionState {
    std::mutex mutex;
    DWORD process_session = kDefaultSession;
    std::vector<SessionSpec> sessions;
    std::map<DWORD, TokenSpec> tokens;
    std::map<const void*, std::unique_ptr<SessionList>> lists;

    SessionState() { SetDefaults(); }

    void SetDefaults() {
        process_session = kDefaultSession;
        sessions = {{kDefaultSession, WTSActive, L"Console"}};
        tokens = {{kDefaultSession, platform::detail::DefaultAccountToken()}};
    }
};

SessionState& Sessions() {
    static SessionState state;
    return state;
}

const platform::detail::ResetRegistration kResetSessions([] {
    auto& state = Sessions();
    const std::lock_guard lock(state.mutex);
    state.SetDefaults();  // lists handed out stay valid until released
});

}  // namespace

namespace platform::testing {

void SetProcessSessionId(DWORD session_id) {
    auto& state = Sessions();
    const std::lock_guard lock(state.mutex);
    state.process_session = session_id;
}

void SetSessions(std::vector<SessionSpec> sessions) {
    auto& state = Sessions();
    const std::lock_guard lock(state.mutex);
    state.sessions = std::move(sessions);
}

void SetSessionToken(DWORD session_id, std::optional<TokenSpec> token) {
    auto& state = Sessions();
    const std::lock_guard lock(state.mutex);
    if (token) {
        state.tokens.insert_or_assign(session_id, std::move(*token));
    } else {
        state.tokens.erase(session_id);
    }
}

std::size_t OutstandingSessionListCount() {
    auto& state = Sessions();
    const std::lock_guard lock(state.mutex);
    return state.lists.size();
}

}  // namespace platform::testing

extern "C" {

BOOL WINAPI ProcessIdToSessionId(DWORD process_id, DWORD* session_id) {
    RecordCall("ProcessIdToSessionId", L"pid=" + std::to_wstring(process_id));
    if (TakeInjectedFailure("ProcessIdToSessionId")) {
        return FALSE;
    }
    if (session_id == nullptr || process_id != GetCurrentProcessId()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto& state = Sessions();
    const std::lock_guard lock(state.mutex);
    *session_id = state.process_session;
    return TRUE;
}

BOOL WINAPI WTSEnumerateSessionsW(HANDLE server, DWORD reserved, DWORD version,
                                  PWTS_SESSION_INFOW* session_info, DWORD* count) {
    RecordCall("WTSEnumerateSessionsW",
               L"reserved=" + std::to_wstring(reserved) + L" version=" + std::to_wstring(version));
    if (TakeInjectedFailure("WTSEnumerateSessionsW")) {
        return FALSE;
    }
    if (server != WTS_CURRENT_SERVER_HANDLE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (reserved != 0 || version != 1 || session_info == nullptr || count == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto& state = Sessions();
    const std::lock_guard lock(state.mutex);
    auto list = std::make_unique<SessionList>();
    list->names.reserve(state.sessions.size());
    list->records.reserve(state.sessions.size() + 1);  // never a null list, even when empty
    for (const auto& session : state.sessions) {
        list->names.push_back(session.station_name);
        list->records.push_back({session.id, list->names.back().data(), session.state});
    }
    *session_info = list->records.data();
    *count = static_cast<DWORD>(list->records.size());
    state.lists.emplace(list->records.data(), std::move(list));
    return TRUE;
}

void WINAPI WTSFreeMemory(PVOID memory) {
    RecordCall("WTSFreeMemory");
    auto& state = Sessions();
    const std::lock_guard lock(state.mutex);
    state.lists.erase(memory);
}

BOOL WINAPI WTSQueryUserToken(ULONG session_id, PHANDLE token) {
    RecordCall("WTSQueryUserToken", L"session=" + std::to_wstring(session_id));
    if (TakeInjectedFailure("WTSQueryUserToken")) {
        return FALSE;
    }
    if (token == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::optional<TokenSpec> spec;
    {
        auto& state = Sessions();
        const std::lock_guard lock(state.mutex);
        const auto found = state.tokens.find(session_id);
        if (found != state.tokens.end()) {
            spec = found->second;
        }
    }
    if (!spec) {
        SetLastError(ERROR_NO_TOKEN);
        return FALSE;
    }
    *token = platform::detail::InsertHandle(
        std::make_shared<platform::detail::TokenObject>(std::move(*spec)));
    return TRUE;
}
}
