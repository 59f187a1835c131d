// Acting as the user of a terminal-services session on the calling thread.
#pragma once

#include "common/scoped_handle.h"

#include <windows.h>

namespace ImpersonationHelper {

// A token is a kernel object: its calls answer null on failure.
using TokenHandle = ScopedKernelHandle;

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
