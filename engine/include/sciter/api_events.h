// Element events as the engine hands them to an element-event callback: the event groups and
// the parameter record of each. Part of the engine's binary interface (see sciter/api.h).
#pragma once

#include <windows.h>

#include "sciter/api.h"

enum EVENT_GROUPS : UINT {
    HANDLE_INITIALIZATION = 0x0000,
    HANDLE_MOUSE = 0x0001,
    HANDLE_KEY = 0x0002,
    HANDLE_FOCUS = 0x0004,
    HANDLE_SCROLL = 0x0008,
    HANDLE_TIMER = 0x0010,
    HANDLE_SIZE = 0x0020,
    HANDLE_DRAW = 0x0040,
    HANDLE_DATA_ARRIVED = 0x0080,
    HANDLE_BEHAVIOR_EVENT = 0x0100,
    HANDLE_METHOD_CALL = 0x0200,
    HANDLE_SCRIPTING_METHOD_CALL = 0x0400,
    HANDLE_EXCHANGE = 0x1000,
    HANDLE_GESTURE = 0x2000,
    HANDLE_ATTRIBUTE_CHANGE = 0x4000,
    HANDLE_SOM = 0x8000,
    HANDLE_ALL = 0xFFFF,
    SUBSCRIPTIONS_REQUEST = 0xFFFFFFFF,
};

enum INITIALIZATION_EVENTS : UINT {
    BEHAVIOR_DETACH = 0,
    BEHAVIOR_ATTACH = 1,
};
struct INITIALIZATION_PARAMS {
    UINT cmd;
};

struct MOUSE_PARAMS {
    UINT cmd;
    HELEMENT target;
    POINT pos;
    POINT pos_view;
    UINT button_state;
    UINT alt_state;
};

enum KEY_EVENTS : UINT {
    KEY_DOWN = 0,
    KEY_UP = 1,
    KEY_CHAR = 2,
};
enum KEYBOARD_STATES : UINT {
    CONTROL_KEY_PRESSED = 0x1,
    SHIFT_KEY_PRESSED = 0x2,
    ALT_KEY_PRESSED = 0x4,
};
// Phase and handled flags that the engine may add to a command.
enum EVENT_PHASE_FLAGS : UINT {
    SINKING = 0x8000,
    HANDLED = 0x10000,
};
struct KEY_PARAMS {
    UINT cmd;
    HELEMENT target;
    UINT key_code;
    UINT alt_state;  // KEYBOARD_STATES
};

struct FOCUS_PARAMS {
    UINT cmd;
    HELEMENT target;
};

struct SCROLL_PARAMS {
    UINT cmd;
    HELEMENT target;
    INT pos;
    BOOL vertical;
};

struct TIMER_PARAMS {
    UINT_PTR timer_id;  // 0: the element's own timer
};

struct DRAW_PARAMS {
    UINT layer;
    void* graphics;
    RECT area;
};

struct METHOD_PARAMS {
    UINT method_id;
};

struct BEHAVIOR_EVENT_PARAMS {
    UINT cmd;
    HELEMENT target;
    HELEMENT source;
    UINT_PTR reason;
};

struct DATA_ARRIVED_PARAMS {
    HELEMENT initiator;
    const BYTE* data;
    UINT data_size;
    UINT data_type;
};

struct SCRIPTING_METHOD_PARAMS {
    const char* name;
    const VALUE* argv;
    UINT argc;
    VALUE result;
};

struct ATTRIBUTE_CHANGE_PARAMS {
    HELEMENT element;
    const char* name;
    const char16_t* value;
};

struct GESTURE_PARAMS {
    UINT cmd;
    HELEMENT target;
};

struct EXCHANGE_PARAMS {
    UINT cmd;
    HELEMENT target;
};

enum SOM_EVENTS : UINT {
    SOM_GET_PASSPORT = 0,
    SOM_GET_ASSET = 1,
};
struct SOM_PARAMS {
    UINT cmd;
    union {
        som_passport_t* passport;
        som_asset_t* asset;
    } data;
};
