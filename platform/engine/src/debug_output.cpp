// The process's debug-output sink. Per-window sinks are not kept apart: the program installs
// one for every window.
#include <mutex>

#include "platform/engine/src/engine_window.h"
#include "platform/engine/src/window_members.h"

namespace engine_stand_in::detail {

namespace {

struct Sink {
    std::mutex mutex;
    void* param = nullptr;
    DEBUG_OUTPUT_PROC proc = nullptr;
};

Sink& TheSink() {
    static Sink sink;
    return sink;
}

}  // namespace

void SCAPI SciterSetupDebugOutput(HWINDOW /*hwnd*/, void* param, DEBUG_OUTPUT_PROC proc) {
    auto& sink = TheSink();
    const std::lock_guard lock(sink.mutex);
    sink.param = param;
    sink.proc = proc;
}

void EmitDebug(UINT subsystem, UINT severity, std::u16string_view text) {
    engine_stand_in::EmitDebugMessage(subsystem, severity, text.data(),
                                      static_cast<UINT>(text.size()));
}

}  // namespace engine_stand_in::detail

namespace engine_stand_in {

void EmitDebugMessage(UINT subsystem, UINT severity, const char16_t* text, UINT length) {
    auto& sink = detail::TheSink();
    void* param = nullptr;
    DEBUG_OUTPUT_PROC proc = nullptr;
    {
        const std::lock_guard lock(sink.mutex);
        param = sink.param;
        proc = sink.proc;
    }
    if (proc != nullptr) {
        proc(param, subsystem, severity, text, length);  // outside the lock: it logs
    }
}

}  // namespace engine_stand_in
