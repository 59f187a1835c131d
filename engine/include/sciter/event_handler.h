// Element event handlers: the bare interface the engine's element-event callback reaches, and
// sciter::event_handler with its defaults (every event unpacked to an on_* hook that answers
// "not handled"). A handler is also a reference-counted script asset; it lives on the heap and
// is freed when its last reference goes.
#pragma once

#include "sciter/api.h"
#include "sciter/om.h"

namespace sciter {

class event_handler_raw {
public:
    virtual void detached(HELEMENT element) = 0;
    virtual void attached(HELEMENT element) = 0;
    virtual bool subscription(HELEMENT element, UINT& event_groups) = 0;
    virtual bool handle_mouse(HELEMENT element, MOUSE_PARAMS& params) = 0;
    virtual bool handle_key(HELEMENT element, KEY_PARAMS& params) = 0;
    virtual bool handle_focus(HELEMENT element, FOCUS_PARAMS& params) = 0;
    virtual bool handle_timer(HELEMENT element, TIMER_PARAMS& params) = 0;
    virtual void handle_size(HELEMENT element) = 0;
    virtual bool handle_scroll(HELEMENT element, SCROLL_PARAMS& params) = 0;
    virtual bool handle_gesture(HELEMENT element, GESTURE_PARAMS& params) = 0;
    virtual bool handle_exchange(HELEMENT element, EXCHANGE_PARAMS& params) = 0;
    virtual bool handle_draw(HELEMENT element, DRAW_PARAMS& params) = 0;
    virtual bool handle_method_call(HELEMENT element, METHOD_PARAMS& params) = 0;
    virtual bool handle_som(HELEMENT element, SOM_PARAMS& params) = 0;
    virtual bool handle_event(HELEMENT element, BEHAVIOR_EVENT_PARAMS& params) = 0;
    virtual bool handle_data_arrived(HELEMENT element, DATA_ARRIVED_PARAMS& params) = 0;
    virtual bool handle_scripting_call(HELEMENT element, SCRIPTING_METHOD_PARAMS& params) = 0;
    virtual void handle_attribute_change(HELEMENT element, ATTRIBUTE_CHANGE_PARAMS& params) = 0;

protected:
    ~event_handler_raw() = default;
};

class event_handler : public event_handler_raw, public om::asset<event_handler> {
public:
    // Takes one reference on itself; `detached` gives it back.
    event_handler() { asset_add_ref(); }

    void detached(HELEMENT) override { asset_release(); }
    void attached(HELEMENT) override {}
    bool subscription(HELEMENT, UINT& event_groups) override {
        event_groups = HANDLE_ALL;
        return true;
    }
    bool handle_mouse(HELEMENT element, MOUSE_PARAMS& params) override {
        return on_mouse(element, params.target, params.cmd, params.pos, params.button_state,
                        params.alt_state);
    }
    bool handle_key(HELEMENT element, KEY_PARAMS& params) override {
        return on_key(element, params.target, params.cmd, params.key_code, params.alt_state);
    }
    bool handle_focus(HELEMENT element, FOCUS_PARAMS& params) override {
        return on_focus(element, params.target, params.cmd);
    }
    bool handle_timer(HELEMENT element, TIMER_PARAMS& params) override {
        return params.timer_id == 0 ? on_timer(element) : on_timer(element, params.timer_id);
    }
    void handle_size(HELEMENT element) override { on_size(element); }
    bool handle_scroll(HELEMENT element, SCROLL_PARAMS& params) override {
        return on_scroll(element, params.target, params.cmd, params.pos, params.vertical != 0);
    }
    bool handle_gesture(HELEMENT, GESTURE_PARAMS&) override { return false; }
    bool handle_exchange(HELEMENT, EXCHANGE_PARAMS&) override { return false; }
    bool handle_draw(HELEMENT element, DRAW_PARAMS& params) override {
        return on_draw(element, params.layer, params.graphics, params.area);
    }
    bool handle_method_call(HELEMENT element, METHOD_PARAMS& params) override {
        return on_method_call(element, params.method_id, &params);
    }
    // A window's own element answers for the window's script asset: no passport, and the
    // window's engine-facing part.
    bool handle_som(HELEMENT, SOM_PARAMS& params) override {
        if (params.cmd == SOM_GET_PASSPORT) {
            params.data.passport = asset_get_passport();
            return true;
        }
        if (params.cmd == SOM_GET_ASSET) {
            params.data.asset = this;
            return true;
        }
        return false;
    }
    bool handle_event(HELEMENT element, BEHAVIOR_EVENT_PARAMS& params) override {
        return on_event(element, params.target, params.cmd, params.reason);
    }
    bool handle_data_arrived(HELEMENT element, DATA_ARRIVED_PARAMS& params) override {
        return on_data_arrived(element, params.initiator, params.data, params.data_size,
                               params.data_type);
    }
    bool handle_scripting_call(HELEMENT element, SCRIPTING_METHOD_PARAMS& params) override {
        return on_script_call(element, params.name, params.argc, params.argv, params.result);
    }
    void handle_attribute_change(HELEMENT element, ATTRIBUTE_CHANGE_PARAMS& params) override {
        on_attribute_change(element, params.name, params.value);
    }

    virtual bool on_mouse(HELEMENT, HELEMENT, UINT, POINT, UINT, UINT) { return false; }
    virtual bool on_key(HELEMENT, HELEMENT, UINT, UINT, UINT) { return false; }
    virtual bool on_focus(HELEMENT, HELEMENT, UINT) { return false; }
    virtual bool on_timer(HELEMENT, UINT_PTR) { return false; }
    virtual bool on_timer(HELEMENT) { return false; }
    virtual bool on_draw(HELEMENT, UINT, void*, const RECT&) { return false; }
    virtual void on_size(HELEMENT) {}
    virtual bool on_method_call(HELEMENT, UINT, METHOD_PARAMS*) { return false; }
    virtual bool on_script_call(HELEMENT, const char*, UINT, const VALUE*, VALUE&) { return false; }
    virtual bool on_event(HELEMENT, HELEMENT, UINT, UINT_PTR) { return false; }
    virtual bool on_data_arrived(HELEMENT, HELEMENT, const BYTE*, UINT, UINT) { return false; }
    virtual bool on_scroll(HELEMENT, HELEMENT, UINT, INT, bool) { return false; }
    virtual void on_attribute_change(HELEMENT, const char*, const char16_t*) {}

    // Deletes the whole object through its deleting destructor.
    void finalize() override { delete this; }

    // The element-event callback given to the engine; `tag` is the handler (an event_handler*).
    static BOOL SCAPI element_proc(void* tag, HELEMENT element, UINT event_group, void* params);

protected:
    ~event_handler() override = default;
};

}  // namespace sciter
