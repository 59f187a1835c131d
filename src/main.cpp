// The program's entry point and main function: start-up in its fixed order on the one thread.
#include <windows.h>

#include <functional>

#include "common/log_call.h"
#include "init_localization.h"
#include "logging.h"
#include "product_info.h"

HINSTANCE g_module_instance = nullptr;

namespace {
constexpr char kLogTag[] = "tallorin";
}

int uimain(std::function<int()> pump) {
    InitLogging();
    LOG_AT(kLogTag, spdlog::level::debug, "cmd={}. version={}", GetCommandLineA(),
           kProgramVersion);
    InitLocalization();
    // The window and the rest of start-up arrive with the engine; until then there is no loop.
    static_cast<void>(pump);
    return 0;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous_instance*/, LPWSTR /*command_line*/,
                    int /*show_command*/) {
    g_module_instance = instance;
    return uimain([] { return 0; });
}
