// An engine window: its element-event handler part, its host part and the window-message hook.
// Reference-counted: the handler part and the window part hold one reference each; the engine
// gives them back when it detaches the handler and when it destroys the window.
#pragma once

#include "sciter/api.h"
#include "sciter/event_handler.h"
#include "sciter/host.h"

namespace sciter {

class window : public event_handler, public host<window> {
public:
    window() { asset_add_ref(); }

    HWINDOW get_hwnd() const { return hwnd; }

    // Every window message, through the delegate; 0 with `handled` left as it is.
    virtual LRESULT on_message(HWINDOW, UINT, WPARAM, LPARAM, BOOL*) { return 0; }

    // The engine has destroyed the window: the last notification it sends.
    UINT on_engine_destroyed() override {
        hwnd = nullptr;
        asset_release();  // may free this object
        return 0;
    }

    // The delegate given to SciterCreateWindow; `param` is the window object.
    static LRESULT SCAPI msg_delegate(HWINDOW hwnd, UINT message, WPARAM w_param, LPARAM l_param,
                                      void* param, BOOL* handled);

    // Connects the window to the host callback and its element events, once.
    void setup_callback();

protected:
    ~window() override = default;

    HWINDOW hwnd = nullptr;
    bool callbacks_installed = false;
};

}  // namespace sciter
