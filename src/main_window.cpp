#include "src/main_window.h"

#include <windows.h>

#include "resources/interface_archive.h"

#include <utility>

#include "common/log_call.h"
#include "common/log_tag.h"
#include "sciter/sapi.h"
#include "src/globals.h"

namespace {

constexpr UINT kCreationFlags =
    SW_TITLEBAR | SW_RESIZEABLE | SW_CONTROLS | SW_MAIN | SW_ENABLE_DEBUG;
static_assert(kCreationFlags == 0x296);

constexpr char16_t kStartPage[] = u"this://app/index.html";

// Where a length of `window` fits centred in `screen`; a window larger than the screen goes to
// its edge instead of a coordinate far off it.
UINT CentredOffset(int screen, LONG window) {
    return screen > window ? static_cast<UINT>(screen - window) / 2 : 0;
}

void AdjustWindowPosToScreenCenter(HWINDOW hwnd) {
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    UINT px = 0;
    UINT py = 0;
    SAPI()->SciterGetPPI(hwnd, &px, &py);
    const float xr = 96.0F / static_cast<float>(px);
    const float yr = 96.0F / static_cast<float>(py);
    const int screen_w = GetSystemMetrics(SM_CXSCREEN);
    const int screen_h = GetSystemMetrics(SM_CYSCREEN);
    LOG_AT(kLogTag, spdlog::level::debug,
           "SciterGetPPI(px:{}, py:{}), xr:{}; yr:{}, screenW:{}, screenH:{}", px, py, xr, yr,
           screen_w, screen_h);
    const LONG w = rect.right - rect.left;
    const LONG h = rect.bottom - rect.top;
    const UINT x = CentredOffset(screen_w, w);
    const UINT y = CentredOffset(screen_h, h);
    LOG_AT(kLogTag, spdlog::level::debug, "DPI window rect x:{}, y:{}, w:{}, h:{}", x, y,
           static_cast<UINT>(w), static_cast<UINT>(h));
    SetWindowPos(hwnd, HWND_TOP, static_cast<int>(x), static_cast<int>(y), w, h, 0);
}

// Disconnects the object's signal connections and ends its registration; the release may
// free it, so nothing of it is touched afterwards.
void ReleaseGlobalObject(GlobalAsset& object) {
    if (object.asset == nullptr) {
        return;
    }
    object.connections->clear();
    SAPI()->SciterReleaseGlobalAsset(std::exchange(object, {}).asset);
}

}  // namespace

MainWindow::MainWindow() {
    const RECT frame{};
    hwnd = SAPI()->SciterCreateWindow(kCreationFlags, frame.right > frame.left ? &frame : nullptr,
                                      &sciter::window::msg_delegate,
                                      static_cast<sciter::window*>(this), nullptr);
    LOG_AT(kLogTag, spdlog::level::debug, "created");
}

void MainWindow::show() {
    LOG_AT(kLogTag, spdlog::level::debug, "show main window");
    load();
    AdjustWindowPosToScreenCenter(hwnd);
    setup_callback();
    SAPI()->SciterWindowExec(hwnd, SCITER_WINDOW_SET_STATE, SCITER_WINDOW_STATE_SHOWN, 0);
}

void MainWindow::load() {
    HSARCHIVE& archive = sciter::archive_handle();
    if (archive != nullptr) {
        SAPI()->SciterCloseArchive(archive);
    }
    archive = nullptr;
    archive =
        SAPI()->SciterOpenArchive(kInterfaceArchive, static_cast<UINT>(kInterfaceArchiveSize));
    setup_callback();
    SAPI()->SciterLoadFile(hwnd, kStartPage);
}

bool MainWindow::handle_key(HELEMENT element, KEY_PARAMS& params) {
    LOG_AT(kLogTag, spdlog::level::debug, "handle main window key");
    if (params.cmd == KEY_UP && params.key_code == VK_F5 &&
        (params.alt_state & CONTROL_KEY_PRESSED) != 0) {
        LOG_AT(kLogTag, spdlog::level::debug, "reload");
        load();
        return true;
    }
    return on_key(element, params.target, params.cmd, params.key_code, params.alt_state);
}

LRESULT MainWindow::on_message(HWINDOW /*hwnd*/, UINT message, WPARAM /*w_param*/,
                               LPARAM /*l_param*/, BOOL* /*handled*/) {
    if (message == WM_CLOSE) {
        ReleaseGlobalObject(g_app_asset);
        ReleaseGlobalObject(g_localization_asset);
    }
    return 0;
}
