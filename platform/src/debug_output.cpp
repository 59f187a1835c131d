#include <windows.h>

#include <platform/testing.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/src/fault_injection.h"
#include "platform/src/utf.h"

namespace {

struct DebugOutputState {
    std::mutex mutex;
    std::vector<std::string> texts;
};

DebugOutputState& DebugOutputRecord() {
    static DebugOutputState state;
    return state;
}

const platform::detail::ResetRegistration kResetDebugOutput([] {
    auto& state = DebugOutputRecord();
    const std::lock_guard lock(state.mutex);
    state.texts.clear();
});

void Output(std::string text) {
    auto& state = DebugOutputRecord();
    const std::lock_guard lock(state.mutex);
    std::fwrite(text.data(), 1, text.size(), stderr);
    state.texts.push_back(std::move(text));
}

}  // namespace

namespace platform::testing {

std::vector<std::string> DebugOutput() {
    auto& state = DebugOutputRecord();
    const std::lock_guard lock(state.mutex);
    return state.texts;
}

}  // namespace platform::testing

extern "C" {

void WINAPI OutputDebugStringA(LPCSTR text) {
    if (text != nullptr) {
        Output(text);
    }
}

void WINAPI OutputDebugStringW(LPCWSTR text) {
    if (text != nullptr) {
        Output(platform::detail::WideToUtf8(text));
    }
}
}
