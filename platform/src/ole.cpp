#include <windows.h>

#include <platform/testing.h>

#include <mutex>

#include "platform/src/fault_injection.h"

namespace {

// Process-wide rather than per thread: the program has one thread.
struct OleState {
    std::mutex mutex;
    int depth = 0;
    platform::testing::OleCalls calls;
};

OleState& Ole() {
    static OleState state;
    return state;
}

const platform::detail::ResetRegistration kResetOle([] {
    auto& state = Ole();
    const std::lock_guard lock(state.mutex);
    state.depth = 0;
    state.calls = {};
});

}  // namespace

namespace platform::testing {

OleCalls OleCallCounts() {
    auto& state = Ole();
    const std::lock_guard lock(state.mutex);
    return state.calls;
}

}  // namespace platform::testing

extern "C" {

HRESULT WINAPI OleInitialize(LPVOID reserved) {
    if (const auto error = platform::detail::TakeInjectedFailure("OleInitialize")) {
        return HRESULT_FROM_WIN32(*error);
    }
    if (reserved != nullptr) {
        return E_INVALIDARG;
    }
    auto& state = Ole();
    const std::lock_guard lock(state.mutex);
    ++state.calls.initialize;
    return state.depth++ == 0 ? S_OK : S_FALSE;
}

void WINAPI OleUninitialize() {
    auto& state = Ole();
    const std::lock_guard lock(state.mutex);
    if (state.depth == 0) {
        return;
    }
    --state.depth;
    ++state.calls.uninitialize;
}
}
