// The program's entry point and main function: start-up in its fixed order on the one thread,
// then the message loop, whose result is the exit code.
#include <ole2.h>
#include <windows.h>

#include <functional>

#include "common/log_call.h"
#include "common/log_tag.h"
#include "sciter/sapi.h"
#include "src/app_asset.h"
#include "src/init_localization.h"
#include "src/localization_asset.h"
#include "src/logging.h"
#include "src/main_window.h"
#include "src/message_pump.h"
#include "src/product_info.h"
#include "src/sciter_logger.h"

namespace {
constexpr UINT kScriptRuntimeFeatures = 15;  // file and socket I/O, eval, system information
}  // namespace

int uimain(std::function<int()> pump) {
    InitLogging();
    LOG_AT(kLogTag, spdlog::level::debug, "cmd={}. version={}", GetCommandLineA(), kProgramVersion);
    InitLocalization();

    SAPI()->SciterSetOption(nullptr, SCITER_SET_SCRIPT_RUNTIME_FEATURES, kScriptRuntimeFeatures);
    SAPI()->SciterSetOption(nullptr, SCITER_SET_PX_AS_DIP, 1);

    CreateAppAsset();
    CreateLocalizationAsset();

    const SciterLogger logger;

    // Two references of its own, one of uimain's for the length of the loop.
    auto* const window = new MainWindow();
    window->asset_add_ref();
    window->show();

    const int result = pump();
    window->asset_release();
    return result;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous_instance*/, LPWSTR /*command_line*/,
                    int /*show_command*/) {
    g_module_instance = instance;
    OleInitialize(nullptr);
    SAPI()->SciterSetOption(nullptr, SCITER_SET_UX_THEMING, 1);
    const int result = uimain([] { return RunMessagePump(); });
    OleUninitialize();
    return result;
}
