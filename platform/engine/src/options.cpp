// Options are only recorded: the stand-in draws nothing that they would change.
#include "platform/engine/src/options.h"

#include <mutex>

#include "engine_stand_in/options.h"

namespace engine_stand_in {

namespace {

struct OptionLog {
    std::mutex mutex;
    std::vector<RecordedOption> options;
};

OptionLog& Options() {
    static OptionLog log;
    return log;
}

}  // namespace

std::vector<RecordedOption> RecordedOptions() {
    auto& log = Options();
    const std::lock_guard lock(log.mutex);
    return log.options;
}

BOOL SCAPI detail::SciterSetOption(HWINDOW window, UINT option, UINT_PTR value) {
    auto& log = Options();
    const std::lock_guard lock(log.mutex);
    log.options.push_back({window, option, value});
    return TRUE;
}

}  // namespace engine_stand_in
