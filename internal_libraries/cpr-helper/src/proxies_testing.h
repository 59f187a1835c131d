// For tests only: the process-wide session-id cache back to unknown, so that a test sees the
// session id that it gave the platform.
#pragma once

namespace CprHelper::testing {

void ResetSessionIdCache();

}  // namespace CprHelper::testing
