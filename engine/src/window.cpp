#include "sciter/window.h"

HINSTANCE g_module_instance = nullptr;

namespace sciter {

HSARCHIVE& archive_handle() {
    static HSARCHIVE handle = nullptr;
    return handle;
}

behavior_factory*& behavior_factory::first() {
    static behavior_factory* head = nullptr;
    return head;
}

LRESULT SCAPI window::msg_delegate(HWINDOW hwnd, UINT message, WPARAM w_param, LPARAM l_param,
                                   void* param, BOOL* handled) {
    if (param == nullptr) {
        return 0;
    }
    return static_cast<window*>(param)->on_message(hwnd, message, w_param, l_param, handled);
}

void window::setup_callback() {
    if (hwnd == nullptr || callbacks_installed) {
        return;
    }
    callbacks_installed = true;
    SAPI()->SciterSetCallback(hwnd, &host<window>::handle_notification, static_cast<window*>(this));
    SAPI()->SciterWindowAttachEventHandler(hwnd, &event_handler::element_proc,
                                           static_cast<event_handler*>(this), HANDLE_ALL);
}

}  // namespace sciter
