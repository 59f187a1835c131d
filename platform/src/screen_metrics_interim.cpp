// TEMPORARY, removed when the system-facts area (sysinfo.cpp) arrives: a 1920 x 1080 primary
// screen that tests can change.
#include <windows.h>

#include <platform/testing.h>

#include <map>
#include <mutex>

#include "fault_injection.h"

namespace {

struct Metrics {
    std::mutex mutex;
    std::map<int, int> values;
};

std::map<int, int> Defaults() { return {{SM_CXSCREEN, 1920}, {SM_CYSCREEN, 1080}}; }

Metrics& State() {
    static Metrics metrics{{}, Defaults()};
    return metrics;
}

const platform::detail::ResetRegistration kResetMetrics([] {
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    state.values = Defaults();
});

}  // namespace

namespace platform::testing {

void SetSystemMetric(int index, int value) {
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    state.values[index] = value;
}

}  // namespace platform::testing

extern "C" int WINAPI GetSystemMetrics(int index) {
    if (platform::detail::TakeInjectedFailure("GetSystemMetrics")) {
        return 0;
    }
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    const auto found = state.values.find(index);
    return found == state.values.end() ? 0 : found->second;
}
