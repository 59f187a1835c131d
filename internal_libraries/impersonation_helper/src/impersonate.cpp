#include "internal_libraries/impersonation_helper/src/impersonate.h"

#include <win_error.h>
#include <wtsapi32.h>

#include <system_error>
#include <utility>

#include "common/log_call.h"

namespace ImpersonationHelper {
namespace {

constexpr char kLogTag[] = "impersonation_helper_lib_mt";
constexpr DWORD kUnknownSession = 0xFFFFFFFF;
constexpr DWORD kTokenAccess = TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY | READ_CONTROL;

[[noreturn]] void ThrowImpersonationError(DWORD error) {
    throw std::system_error(static_cast<int>(error), win_error::system_category(),
                            "failed to impersonate user");
}

[[noreturn]] void ThrowTokenInformationError(DWORD session_id, DWORD error) {
    LOG_AT(kLogTag, spdlog::level::err,
           "failed to get token information of session={:08x}. system says {}.", session_id, error);
    ThrowImpersonationError(error);
}

}  // namespace

TokenHandle GetUserTokenFromSession(DWORD session_id, bool* is_own_session) {
    DWORD own_session = kUnknownSession;
    ProcessIdToSessionId(GetCurrentProcessId(), &own_session);
    const bool own = session_id == own_session;

    HANDLE token = nullptr;
    if (own) {
        LOG_AT(kLogTag, spdlog::level::trace, "no impersonation needed, already the same user.");
        if (!OpenProcessToken(GetCurrentProcess(), kTokenAccess, &token)) {
            LOG_AT(kLogTag, spdlog::level::err, "failed to get current user user token. error={}",
                   GetLastError());
            token = nullptr;
        }
    } else if (!WTSQueryUserToken(session_id, &token)) {
        const DWORD error = GetLastError();
        LOG_AT(kLogTag, spdlog::level::err,
               "failed to get user token of session={:08x}. system says {}.", session_id, error);
        ThrowImpersonationError(error);
    }

    if (is_own_session != nullptr) {
        *is_own_session = own;
    }
    return TokenHandle(token);
}

ImpersonationScope::ImpersonationScope(DWORD session_id) {
    if (session_id == kUnknownSession) {
        return;
    }
    LOG_AT(kLogTag, spdlog::level::trace, "impersonating user of session={:08x}...", session_id);

    bool own_session = false;
    TokenHandle token = GetUserTokenFromSession(session_id, &own_session);
    if (own_session) {
        token_ = std::move(token);
        return;
    }

    TOKEN_ELEVATION_TYPE elevation = TokenElevationTypeDefault;
    DWORD length = 0;
    if (!GetTokenInformation(token.get(), TokenElevationType, &elevation, sizeof(elevation),
                             &length)) {
        ThrowTokenInformationError(session_id, GetLastError());
    }
    if (elevation == TokenElevationTypeLimited) {
        LOG_AT(kLogTag, spdlog::level::trace, "token is not elevated, getting the right one");
        TOKEN_LINKED_TOKEN linked{nullptr};
        if (!GetTokenInformation(token.get(), TokenLinkedToken, &linked, sizeof(linked), &length)) {
            ThrowTokenInformationError(session_id, GetLastError());
        }
        token.Reset(linked.LinkedToken);
    }

    if (!ImpersonateLoggedOnUser(token.get())) {
        const DWORD error = GetLastError();
        LOG_AT(kLogTag, spdlog::level::err, "failed to impersonate logged on user. system says {}.",
               error);
        ThrowImpersonationError(error);
    }
    token_ = std::move(token);
}

ImpersonationScope::~ImpersonationScope() {
    if (!token_) {
        return;
    }
    LOG_AT(kLogTag, spdlog::level::trace, "impersonating back to self.");
    RevertToSelf();
    token_.Reset();
}

}  // namespace ImpersonationHelper
