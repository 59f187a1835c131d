#include <windows.h>

#include <platform/testing.h>

#include <pwd.h>
#include <unistd.h>

#include <mutex>
#include <optional>
#include <string>

#include "platform/src/call_journal.h"
#include "platform/src/fault_injection.h"
#include "platform/src/tokens.h"
#include "platform/src/utf.h"

namespace {

using platform::detail::RecordCall;
using platform::detail::TakeInjectedFailure;
using platform::detail::TokenObject;
using platform::testing::TokenSpec;

const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

struct ProcessToken {
    std::mutex mutex;
    TokenSpec spec = platform::detail::DefaultAccountToken();
};

ProcessToken& TheProcessToken() {
    static ProcessToken token;
    return token;
}

TokenSpec ProcessTokenSpec() {
    auto& token = TheProcessToken();
    const std::lock_guard lock(token.mutex);
    return token.spec;
}

// Impersonation belongs to the thread, as on Windows.
thread_local std::optional<TokenSpec> t_impersonated;

const platform::detail::ResetRegistration kResetTokens([] {
    auto& token = TheProcessToken();
    const std::lock_guard lock(token.mutex);
    token.spec = platform::detail::DefaultAccountToken();
    t_impersonated.reset();
});

std::wstring Describe(const TokenSpec& spec) {
    return L"user=" + spec.user + L" elevation=" + std::to_wstring(spec.elevation);
}

// Copies a fixed-size answer out, as GetTokenInformation does.
template <typename T>
bool CopyOut(const T& value, LPVOID information, DWORD length, PDWORD return_length) {
    *return_length = sizeof(T);
    if (information == nullptr || length < sizeof(T)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    *static_cast<T*>(information) = value;
    return true;
}

BOOL LinkedToken(const TokenSpec& spec, LPVOID information, DWORD length, PDWORD return_length) {
    if (spec.elevation == TokenElevationTypeDefault || !spec.has_linked_token) {
        *return_length = 0;
        SetLastError(ERROR_NO_SUCH_LOGON_SESSION);
        return FALSE;
    }
    if (information == nullptr || length < sizeof(TOKEN_LINKED_TOKEN)) {
        *return_length = sizeof(TOKEN_LINKED_TOKEN);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    TokenSpec linked = spec;
    linked.elevation = spec.elevation == TokenElevationTypeLimited ? TokenElevationTypeFull
                                                                   : TokenElevationTypeLimited;
    const TOKEN_LINKED_TOKEN answer{
        platform::detail::InsertHandle(std::make_shared<TokenObject>(std::move(linked)))};
    return CopyOut(answer, information, length, return_length) ? TRUE : FALSE;
}

}  // namespace

namespace platform::detail {

testing::TokenSpec DefaultAccountToken() {
    const passwd* account = ::getpwuid(::geteuid());
    const std::string name =
        account != nullptr && account->pw_name != nullptr ? account->pw_name : "user";
    return {Utf8ToWide(name), TokenElevationTypeDefault, true};
}

std::wstring ActingUserName() {
    return t_impersonated ? t_impersonated->user : ProcessTokenSpec().user;
}

}  // namespace platform::detail

namespace platform::testing {

void SetProcessToken(TokenSpec token) {
    auto& process_token = TheProcessToken();
    const std::lock_guard lock(process_token.mutex);
    process_token.spec = std::move(token);
}

std::optional<TokenSpec> ImpersonatedToken() { return t_impersonated; }

std::wstring ActingUser() { return detail::ActingUserName(); }

}  // namespace platform::testing

extern "C" {

HANDLE WINAPI GetCurrentProcess() { return kCurrentProcess; }

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD desired_access, PHANDLE token) {
    RecordCall("OpenProcessToken", L"access=" + std::to_wstring(desired_access));
    if (TakeInjectedFailure("OpenProcessToken")) {
        return FALSE;
    }
    if (token == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (process != kCurrentProcess) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *token = platform::detail::InsertHandle(std::make_shared<TokenObject>(ProcessTokenSpec()));
    return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information_class,
                                LPVOID information, DWORD information_length,
                                PDWORD return_length) {
    RecordCall("GetTokenInformation", L"class=" + std::to_wstring(information_class));
    if (TakeInjectedFailure("GetTokenInformation")) {
        return FALSE;
    }
    const auto object = platform::detail::LookupHandleAs<TokenObject>(token);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (return_length == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    switch (information_class) {
        case TokenElevationType:
            return CopyOut(object->spec().elevation, information, information_length, return_length)
                       ? TRUE
                       : FALSE;
        case TokenLinkedToken:
            return LinkedToken(object->spec(), information, information_length, return_length);
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
    }
}

BOOL WINAPI ImpersonateLoggedOnUser(HANDLE token) {
    const auto object = platform::detail::LookupHandleAs<TokenObject>(token);
    RecordCall("ImpersonateLoggedOnUser", object ? Describe(object->spec()) : L"invalid");
    if (TakeInjectedFailure("ImpersonateLoggedOnUser")) {
        return FALSE;
    }
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    t_impersonated = object->spec();
    return TRUE;
}

BOOL WINAPI RevertToSelf() {
    RecordCall("RevertToSelf");
    if (TakeInjectedFailure("RevertToSelf")) {
        return FALSE;
    }
    t_impersonated.reset();
    return TRUE;
}
}
