// What the engine tells its host: window creation flags, window commands, the notifications
// of the host callback with their records, and the debug-output subsystems and severities.
// Part of the engine's binary interface (see sciter/api.h).
#pragma once

#include <windows.h>

#include "sciter/api.h"

enum SCITER_CREATE_WINDOW_FLAGS : UINT {
    SW_CHILD = 0x001,
    SW_TITLEBAR = 0x002,
    SW_RESIZEABLE = 0x004,
    SW_TOOL = 0x008,
    SW_CONTROLS = 0x010,
    SW_GLASSY = 0x020,
    SW_ALPHA = 0x040,
    SW_MAIN = 0x080,  // closing it ends the application's message loop
    SW_POPUP = 0x100,
    SW_ENABLE_DEBUG = 0x200,
    SW_OWNS_VM = 0x400,
};

enum SCITER_WINDOW_CMD : UINT {
    SCITER_WINDOW_SET_STATE = 1,
};
enum SCITER_WINDOW_STATE : UINT {
    SCITER_WINDOW_STATE_SHOWN = 1,
    SCITER_WINDOW_STATE_HIDDEN = 4,
};

enum SC_NOTIFICATIONS : UINT {
    SC_LOAD_DATA = 1,
    SC_DATA_LOADED = 2,
    SC_ATTACH_BEHAVIOR = 4,
    SC_ENGINE_DESTROYED = 5,
    SC_POSTED_NOTIFICATION = 6,
    SC_GRAPHICS_CRITICAL_FAILURE = 7,
};

// Answers to SC_LOAD_DATA.
enum SC_LOAD_DATA_RETURN_CODES : UINT {
    LOAD_OK = 0,       // go on: with the data delivered by SciterDataReady, else by own means
    LOAD_DISCARD = 1,  // drop the request
};

// What a requested file is for.
enum SCITER_RESOURCE_TYPE : UINT {
    RT_DATA_HTML = 0,
    RT_DATA_IMAGE = 1,
    RT_DATA_STYLE = 2,
    RT_DATA_CURSOR = 3,
    RT_DATA_SCRIPT = 4,
    RT_DATA_RAW = 5,
};

struct SCN_LOAD_DATA {
    UINT code;
    HWINDOW hwnd;
    const char16_t* uri;
    const BYTE* out_data;
    UINT out_data_size;
    UINT data_type;  // SCITER_RESOURCE_TYPE
    void* request_id;
    HELEMENT principal;
    HELEMENT initiator;
};

struct SCN_DATA_LOADED {
    UINT code;
    HWINDOW hwnd;
    const char16_t* uri;
    const BYTE* data;
    UINT data_size;
    UINT data_type;
    UINT status;
};

struct SCN_ATTACH_BEHAVIOR {
    UINT code;
    HWINDOW hwnd;
    HELEMENT element;
    const char* behavior_name;
    SciterElementEventProc element_proc;  // out
    void* element_tag;                    // out
};

struct SCN_POSTED_NOTIFICATION {
    UINT code;
    HWINDOW hwnd;
    UINT_PTR wparam;
    UINT_PTR lparam;
    UINT_PTR lreturn;
};

enum OUTPUT_SUBSYTEMS : UINT {
    OT_DOM = 0,
    OT_CSSS = 1,
    OT_CSS = 2,
    OT_TIS = 3,
};
enum OUTPUT_SEVERITY : UINT {
    OS_INFO = 0,
    OS_WARNING = 1,
    OS_ERROR = 2,
};
