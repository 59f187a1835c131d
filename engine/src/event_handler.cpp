#include "sciter/event_handler.h"

namespace sciter {

BOOL SCAPI event_handler::element_proc(void* tag, HELEMENT element, UINT event_group,
                                       void* params) {
    auto* const handler = static_cast<event_handler*>(tag);
    if (handler == nullptr) {
        return FALSE;
    }
    switch (event_group) {
        case HANDLE_INITIALIZATION: {
            const auto& initialization = *static_cast<INITIALIZATION_PARAMS*>(params);
            if (initialization.cmd == BEHAVIOR_DETACH) {
                handler->detached(element);  // may free the handler
            } else if (initialization.cmd == BEHAVIOR_ATTACH) {
                handler->attached(element);
            }
            return TRUE;
        }
        case HANDLE_MOUSE:
            return handler->handle_mouse(element, *static_cast<MOUSE_PARAMS*>(params));
        case HANDLE_KEY:
            return handler->handle_key(element, *static_cast<KEY_PARAMS*>(params));
        case HANDLE_FOCUS:
            return handler->handle_focus(element, *static_cast<FOCUS_PARAMS*>(params));
        case HANDLE_SCROLL:
            return handler->handle_scroll(element, *static_cast<SCROLL_PARAMS*>(params));
        case HANDLE_TIMER:
            return handler->handle_timer(element, *static_cast<TIMER_PARAMS*>(params));
        case HANDLE_SIZE:
            handler->handle_size(element);
            return FALSE;
        case HANDLE_DRAW:
            return handler->handle_draw(element, *static_cast<DRAW_PARAMS*>(params));
        case HANDLE_DATA_ARRIVED:
            return handler->handle_data_arrived(element,
                                                *static_cast<DATA_ARRIVED_PARAMS*>(params));
        case HANDLE_BEHAVIOR_EVENT:
            return handler->handle_event(element, *static_cast<BEHAVIOR_EVENT_PARAMS*>(params));
        case HANDLE_METHOD_CALL:
            return handler->handle_method_call(element, *static_cast<METHOD_PARAMS*>(params));
        case HANDLE_SCRIPTING_METHOD_CALL:
            return handler->handle_scripting_call(element,
                                                  *static_cast<SCRIPTING_METHOD_PARAMS*>(params));
        case HANDLE_EXCHANGE:
            return handler->handle_exchange(element, *static_cast<EXCHANGE_PARAMS*>(params));
        case HANDLE_GESTURE:
            return handler->handle_gesture(element, *static_cast<GESTURE_PARAMS*>(params));
        case HANDLE_ATTRIBUTE_CHANGE:
            handler->handle_attribute_change(element,
                                             *static_cast<ATTRIBUTE_CHANGE_PARAMS*>(params));
            return FALSE;
        case HANDLE_SOM:
            return handler->handle_som(element, *static_cast<SOM_PARAMS*>(params));
        case SUBSCRIPTIONS_REQUEST:
            return handler->subscription(element, *static_cast<UINT*>(params));
        default:
            return FALSE;
    }
}

}  // namespace sciter
