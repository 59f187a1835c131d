// Failures that tests ask for (platform::testing::FailCall), checked by each emulated call.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>

namespace platform::detail {

// When a failure of `function` is pending: consumes it, sets the thread's last error and
// returns the error number.
std::optional<DWORD> TakeInjectedFailure(const char* function);

// Areas with emulated state register how to put it back to its defaults.
struct ResetRegistration {
    explicit ResetRegistration(std::function<void()> reset);
};

void ResetAll();

}  // namespace platform::detail
