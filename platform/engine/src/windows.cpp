// Engine windows on the platform's window registry. Every message goes to the program's
// delegate first; what it leaves unhandled gets the engine's own handling: WM_CLOSE destroys
// the window, and its destruction detaches the element handlers, tells the host and, for a
// main window, ends the message loop.
#include <windows.h>

#include <platform/window_registry.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <utility>

#include "platform/engine/src/browser_front.h"
#include "platform/engine/src/engine_window.h"
#include "platform/engine/src/window_members.h"

namespace engine_stand_in::detail {

namespace {

constexpr RECT kDefaultFrame{0, 0, 800, 600};

struct WindowTable {
    std::mutex mutex;
    std::map<HWND, std::shared_ptr<EngineWindow>> windows;
};

WindowTable& Windows() {
    static WindowTable table;
    return table;
}

std::atomic<UINT> g_pixels_per_inch{96};

// The window is going: each element handler hears its detachment once, then the host its
// last notification; nothing of the program is called for this window afterwards.
void TearDown(EngineWindow& window) {
    if (window.front) {
        window.front->Stop();  // the page goes with its window
    }
    const auto handlers = std::exchange(window.handlers, {});
    for (const ElementHandler& handler : handlers) {
        INITIALIZATION_PARAMS params{BEHAVIOR_DETACH};
        handler.proc(handler.tag, window.root_element(), HANDLE_INITIALIZATION, &params);
    }
    SCITER_CALLBACK_NOTIFICATION destroyed{SC_ENGINE_DESTROYED, window.hwnd};
    Notify(window, &destroyed);
    window.callback = nullptr;
    window.delegate = nullptr;
    {
        auto& table = Windows();
        const std::lock_guard lock(table.mutex);
        table.windows.erase(window.hwnd);
    }
    if ((window.flags & SW_MAIN) != 0) {
        PostQuitMessage(0);
    }
}

LRESULT Procedure(const std::shared_ptr<EngineWindow>& window, HWND hwnd, UINT message,
                  WPARAM w_param, LPARAM l_param) {
    if (message == kFrontWorkMessage && window->front) {
        window->front->RunWork();  // the engine's own message: not the program's to see
        return 0;
    }
    BOOL handled = FALSE;
    LRESULT result = 0;
    if (window->delegate != nullptr) {
        result =
            window->delegate(hwnd, message, w_param, l_param, window->delegate_param, &handled);
    }
    if (message == WM_DESTROY) {
        TearDown(*window);
        return 0;
    }
    if (handled) {
        return result;
    }
    if (message == WM_CLOSE) {
        DestroyWindow(hwnd);
        return 0;
    }
    return result;
}

}  // namespace

std::shared_ptr<EngineWindow> FindEngineWindow(HWND hwnd) {
    auto& table = Windows();
    const std::lock_guard lock(table.mutex);
    const auto found = table.windows.find(hwnd);
    return found == table.windows.end() ? nullptr : found->second;
}

UINT Notify(EngineWindow& window, SCITER_CALLBACK_NOTIFICATION* notification) {
    if (window.callback == nullptr) {
        return 0;
    }
    return window.callback(notification, window.callback_param);
}

UINT PixelsPerInch() { return g_pixels_per_inch.load(); }

HWINDOW SCAPI SciterCreateWindow(UINT creation_flags, const RECT* frame,
                                 SciterWindowDelegate delegate, void* delegate_param,
                                 HWINDOW /*parent*/) {
    auto window = std::make_shared<EngineWindow>();
    window->flags = creation_flags;
    window->delegate = delegate;
    window->delegate_param = delegate_param;
    const RECT placed = frame != nullptr && frame->right > frame->left ? *frame : kDefaultFrame;
    // The procedure keeps the record alive while a message is being handled.
    const HWND hwnd = platform::CreatePlatformWindow(
        [window](HWND h, UINT message, WPARAM w_param, LPARAM l_param) {
            const std::shared_ptr<EngineWindow> keep = window;
            return Procedure(keep, h, message, w_param, l_param);
        },
        placed);
    if (hwnd == nullptr) {
        return nullptr;
    }
    window->hwnd = hwnd;
    {
        auto& table = Windows();
        const std::lock_guard lock(table.mutex);
        table.windows.emplace(hwnd, window);
    }
    if ((creation_flags & SW_MAIN) != 0) {
        window->front = BrowserFront::MakeIfAsked(*window);
        StartScenarioIfAsked(hwnd);
    }
    return hwnd;
}

void SCAPI SciterSetCallback(HWINDOW hwnd, SciterHostCallback callback, void* param) {
    if (const auto window = FindEngineWindow(hwnd)) {
        window->callback = callback;
        window->callback_param = param;
    }
}

int SCAPI SciterWindowAttachEventHandler(HWINDOW hwnd, SciterElementEventProc handler, void* tag,
                                         UINT subscription) {
    constexpr int kOk = 0;
    constexpr int kInvalidWindow = 1;
    constexpr int kInvalidParameter = 2;
    const auto window = FindEngineWindow(hwnd);
    if (!window) {
        return kInvalidWindow;
    }
    if (handler == nullptr) {
        return kInvalidParameter;
    }
    const bool attached =
        std::any_of(window->handlers.begin(), window->handlers.end(),
                    [&](const ElementHandler& h) { return h.proc == handler && h.tag == tag; });
    if (attached) {
        return kOk;
    }
    window->handlers.push_back({handler, tag, subscription});
    INITIALIZATION_PARAMS params{BEHAVIOR_ATTACH};
    handler(tag, window->root_element(), HANDLE_INITIALIZATION, &params);
    return kOk;
}

BOOL SCAPI SciterDataReady(HWINDOW hwnd, const char16_t* url, const BYTE* data, UINT size) {
    const auto window = FindEngineWindow(hwnd);
    if (!window || url == nullptr || (data == nullptr && size != 0)) {
        return FALSE;
    }
    if (window->asked_url != url) {
        return FALSE;  // nothing asked for this URL now
    }
    window->delivered.emplace(data, data + size);
    return TRUE;
}

BOOL SCAPI SciterLoadFile(HWINDOW hwnd, const char16_t* url) {
    const auto window = FindEngineWindow(hwnd);
    if (!window || url == nullptr) {
        return FALSE;
    }
    LoadDocument(*window, url);
    return window->last_load.empty() || !window->last_load.front().delivered ? FALSE : TRUE;
}

BOOL SCAPI SciterWindowExec(HWINDOW hwnd, UINT command, UINT_PTR p1, UINT_PTR /*p2*/) {
    const auto window = FindEngineWindow(hwnd);
    if (!window || command != SCITER_WINDOW_SET_STATE) {
        return FALSE;
    }
    if (p1 == SCITER_WINDOW_STATE_SHOWN) {
        ShowWindow(hwnd, SW_SHOW);
        if (window->front) {
            window->front->Show();
        }
        return TRUE;
    }
    if (p1 == SCITER_WINDOW_STATE_HIDDEN) {
        ShowWindow(hwnd, SW_HIDE);
        return TRUE;
    }
    return FALSE;
}

void SCAPI SciterGetPPI(HWINDOW /*hwnd*/, UINT* px, UINT* py) {
    const UINT ppi = PixelsPerInch();
    if (px != nullptr) {
        *px = ppi;
    }
    if (py != nullptr) {
        *py = ppi;
    }
}

}  // namespace engine_stand_in::detail

namespace engine_stand_in {

std::vector<FileRequest> LastLoad(HWINDOW hwnd) {
    const auto window = detail::FindEngineWindow(hwnd);
    return window ? window->last_load : std::vector<FileRequest>{};
}

std::vector<HWINDOW> EngineWindows() {
    auto& table = detail::Windows();
    const std::lock_guard lock(table.mutex);
    std::vector<HWINDOW> windows;
    for (const auto& [hwnd, window] : table.windows) {
        windows.push_back(hwnd);  // handles grow, so this is creation order
    }
    return windows;
}

BOOL SendElementEvent(HWINDOW hwnd, UINT event_group, void* params) {
    const auto window = detail::FindEngineWindow(hwnd);
    if (!window) {
        return FALSE;
    }
    // A copy: a handler may detach itself or close the window.
    const auto handlers = window->handlers;
    for (const detail::ElementHandler& handler : handlers) {
        if ((handler.subscription & event_group) == 0 && event_group != HANDLE_INITIALIZATION) {
            continue;
        }
        if (handler.proc(handler.tag, window->root_element(), event_group, params)) {
            return TRUE;
        }
    }
    return FALSE;
}

BOOL SendKey(HWINDOW hwnd, UINT command, UINT key_code, UINT keyboard_state) {
    const auto window = detail::FindEngineWindow(hwnd);
    if (!window) {
        return FALSE;
    }
    KEY_PARAMS params{command, window->root_element(), key_code, keyboard_state};
    return SendElementEvent(hwnd, HANDLE_KEY, &params);
}

void SetPixelsPerInch(UINT ppi) { detail::g_pixels_per_inch = ppi; }

}  // namespace engine_stand_in
