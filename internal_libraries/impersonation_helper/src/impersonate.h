// Acting as the user of a terminal-services session on the calling thread.
#pragma once

#include <windows.h>

namespace ImpersonationHelper {

// Owns one token handle; INVALID_HANDLE_VALUE means none (a null handle is a handle).
// Destroying it, or giving it another handle, closes the one it holds.
class TokenHandle {
public:
    TokenHandle() = default;
    explicit TokenHandle(HANDLE handle) noexcept : handle_(handle) {}
    TokenHandle(TokenHandle&& other) noexcept;
    TokenHandle& operator=(TokenHandle&& other) noexcept;
    TokenHandle(const TokenHandle&) = delete;
    TokenHandle& operator=(const TokenHandle&) = delete;
    ~TokenHandle();

    HANDLE get() const noexcept { return handle_; }
    bool valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle = INVALID_HANDLE_VALUE) noexcept;

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// A token of the session's user, or the process's own token when the session is the
// process's own (then *is_own_session is set, when given). Throws std::system_error
// ("failed to impersonate user", the Windows error number) when the session's token cannot be
// had; a failure to open the process's own token is only logged and gives no token.
TokenHandle GetUserTokenFromSession(DWORD session_id, bool* is_own_session = nullptr);

// For its lifetime the calling thread acts as the session's user; 0xFFFFFFFF (unknown
// session) does nothing and the process's own session needs no impersonation. Create and
// destroy it on the same thread. Throws std::system_error as GetUserTokenFromSession does.
class ImpersonationScope {
public:
    explicit ImpersonationScope(DWORD session_id);
    ImpersonationScope(const ImpersonationScope&) = delete;
    ImpersonationScope& operator=(const ImpersonationScope&) = delete;
    ~ImpersonationScope();

private:
    TokenHandle token_;
};

}  // namespace ImpersonationHelper
