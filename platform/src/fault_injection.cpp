#include "platform/src/fault_injection.h"

#include <platform/testing.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace platform::detail {
namespace {

struct PendingFailure {
    DWORD error;
    int remaining;  // < 0: until cleared
    int skip;       // calls still let through before the first failure
};

struct FailureTable {
    std::mutex mutex;
    std::map<std::string, PendingFailure, std::less<>> failures;
};

FailureTable& Failures() {
    static FailureTable table;
    return table;
}

std::vector<std::function<void()>>& Resetters() {
    static std::vector<std::function<void()>> resetters;
    return resetters;
}

}  // namespace

std::optional<DWORD> TakeInjectedFailure(const char* function) {
    auto& table = Failures();
    const std::lock_guard lock(table.mutex);
    const auto found = table.failures.find(std::string_view(function));
    if (found == table.failures.end()) {
        return std::nullopt;
    }
    if (found->second.skip > 0) {
        --found->second.skip;
        return std::nullopt;
    }
    const DWORD error = found->second.error;
    if (found->second.remaining > 0 && --found->second.remaining == 0) {
        table.failures.erase(found);
    }
    SetLastError(error);
    return error;
}

ResetRegistration::ResetRegistration(std::function<void()> reset) {
    Resetters().push_back(std::move(reset));
}

void ResetAll() {
    {
        auto& table = Failures();
        const std::lock_guard lock(table.mutex);
        table.failures.clear();
    }
    for (const auto& reset : Resetters()) {
        reset();
    }
}

}  // namespace platform::detail

namespace platform::testing {

void FailCall(std::string_view function, DWORD error, int times, int skip) {
    if (times == 0) {
        return;
    }
    auto& table = detail::Failures();
    const std::lock_guard lock(table.mutex);
    table.failures.insert_or_assign(std::string(function),
                                    detail::PendingFailure{error, times, std::max(skip, 0)});
}

void ClearFailures() {
    auto& table = detail::Failures();
    const std::lock_guard lock(table.mutex);
    table.failures.clear();
}

void Reset() { detail::ResetAll(); }

}  // namespace platform::testing
