#include "platform/src/call_journal.h"

#include <platform/testing.h>

#include <mutex>
#include <vector>

#include "platform/src/fault_injection.h"
#include "platform/src/tokens.h"

namespace platform::detail {
namespace {

struct Journal {
    std::mutex mutex;
    std::vector<testing::RecordedCall> calls;
};

Journal& TheJournal() {
    static Journal journal;
    return journal;
}

const ResetRegistration kResetJournal([] {
    auto& journal = TheJournal();
    const std::lock_guard lock(journal.mutex);
    journal.calls.clear();
});

}  // namespace

void RecordCall(const char* function, std::wstring arguments) {
    testing::RecordedCall call{function, ActingUserName(), std::move(arguments)};
    auto& journal = TheJournal();
    const std::lock_guard lock(journal.mutex);
    journal.calls.push_back(std::move(call));
}

std::wstring TextOrNull(const wchar_t* text) { return text == nullptr ? L"null" : text; }

}  // namespace platform::detail

namespace platform::testing {

std::vector<RecordedCall> RecordedCalls() {
    auto& journal = detail::TheJournal();
    const std::lock_guard lock(journal.mutex);
    return journal.calls;
}

std::vector<RecordedCall> RecordedCalls(std::string_view function) {
    std::vector<RecordedCall> selected;
    for (auto& call : RecordedCalls()) {
        if (call.function == function) {
            selected.push_back(std::move(call));
        }
    }
    return selected;
}

}  // namespace platform::testing
