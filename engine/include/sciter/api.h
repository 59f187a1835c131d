// The engine's binary interface as both sides compile it: the program (through SAPI) and the
// stand-in engine (sciter.dll). Plain records and function pointers only; the layout is the
// contract, so members are only ever appended, never reordered.
//
// Strings that cross this border are UTF-16 units (char16_t) on every platform.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#define SCAPI WINAPI

struct RECT;  // declared with the window area of the Windows layer

using HWINDOW = HWND;
using HELEMENT = void*;
using HSARCHIVE = void*;

// ---- Script values -------------------------------------------------------------------------

// 16 bytes: type, units (a sub-type), data. What data means belongs to the engine; the program
// reads the type field and does everything else through the value functions below.
struct VALUE {
    UINT t;
    UINT u;
    std::uint64_t d;
};
static_assert(sizeof(VALUE) == 16);

enum VALUE_TYPE : UINT {
    T_UNDEFINED = 0,
    T_NULL = 1,
    T_BOOL = 2,
    T_INT = 3,
    T_FLOAT = 4,
    T_STRING = 5,
    T_ARRAY = 6,
    T_FUNCTION = 11,
    T_OBJECT = 13,
};

// Units of a string value.
enum VALUE_UNIT_STRING : UINT {
    UT_STRING_PLAIN = 0,
    UT_STRING_ERROR = 1,  // a string that reports a failure to the script
    UT_STRING_FROM_UTF8 = 0xFFFF,
};

// Result codes of the value functions.
enum VALUE_RESULT : UINT {
    HV_OK = 0,
    HV_BAD_PARAMETER = 1,
    HV_INCOMPATIBLE_TYPE = 2,
};

// ValueToString conversions.
enum VALUE_STRING_CVT_TYPE : UINT {
    CVT_SIMPLE = 0,  // the text of JavaScript's String()
};

// ---- Script objects (assets) ---------------------------------------------------------------

using som_atom_t = std::uint64_t;

struct som_asset_t;
struct som_passport_t;

// One per script-object class; the engine reaches every object through these four.
struct som_asset_class_t {
    std::int32_t(SCAPI* asset_add_ref)(som_asset_t* thing);
    std::int32_t(SCAPI* asset_release)(som_asset_t* thing);
    bool(SCAPI* asset_get_interface)(som_asset_t* thing, const char* name, void** out);
    som_passport_t*(SCAPI* asset_get_passport)(som_asset_t* thing);
};

// The engine-facing part of a script object: the engine holds objects by this address.
struct som_asset_t {
    som_asset_class_t* isa;
};

// The name asset_get_interface answers for.
inline constexpr char kAssetInterfaceName[] = "tallorin.engine.asset";

using som_method_t = bool(SCAPI*)(som_asset_t* thing, UINT argc, const VALUE* argv, VALUE* result);
using som_prop_getter_t = bool(SCAPI*)(som_asset_t* thing, VALUE* result);
using som_prop_setter_t = bool(SCAPI*)(som_asset_t* thing, const VALUE* value);
using som_item_getter_t = bool(SCAPI*)(som_asset_t* thing, const VALUE* key, VALUE* result);
using som_item_setter_t = bool(SCAPI*)(som_asset_t* thing, const VALUE* key, const VALUE* value);
using som_item_next_t = bool(SCAPI*)(som_asset_t* thing, VALUE* position, VALUE* key, VALUE* value);
using som_any_prop_getter_t = bool(SCAPI*)(som_asset_t* thing, som_atom_t name, VALUE* result);
using som_any_prop_setter_t = bool(SCAPI*)(som_asset_t* thing, som_atom_t name, const VALUE* value);

struct som_property_def_t {
    void* reserved;
    som_atom_t name;
    som_prop_getter_t getter;
    som_prop_setter_t setter;  // null: read-only
};

struct som_method_def_t {
    void* reserved;
    som_atom_t name;
    std::size_t params;  // number of script arguments the method reads
    som_method_t func;
};

// Tells the engine a script class's name (also the global object's name), methods and
// properties. The hooks after the tables are optional; null means absent.
struct som_passport_t {
    std::uint64_t flags;
    som_atom_t name;
    const som_property_def_t* properties;
    std::size_t n_properties;
    const som_method_def_t* methods;
    std::size_t n_methods;
    som_item_getter_t item_getter;
    som_item_setter_t item_setter;
    som_item_next_t item_next;
    som_any_prop_getter_t prop_getter;
    som_any_prop_setter_t prop_setter;
};

// ---- Callbacks -----------------------------------------------------------------------------

// Every notification starts with these two fields; the code tells the full record.
struct SCITER_CALLBACK_NOTIFICATION {
    UINT code;
    HWINDOW hwnd;
};

using SciterHostCallback = UINT(SCAPI*)(SCITER_CALLBACK_NOTIFICATION* notification, void* param);
using SciterElementEventProc = BOOL(SCAPI*)(void* tag, HELEMENT element, UINT event_group,
                                            void* params);
using SciterWindowDelegate = LRESULT(SCAPI*)(HWINDOW hwnd, UINT message, WPARAM w_param,
                                             LPARAM l_param, void* param, BOOL* handled);
using DEBUG_OUTPUT_PROC = void(SCAPI*)(void* param, UINT subsystem, UINT severity,
                                       const char16_t* text, UINT text_length);

// Options of SciterSetOption.
enum SCITER_RT_OPTIONS : UINT {
    SCITER_SET_SCRIPT_RUNTIME_FEATURES = 8,
    SCITER_SET_UX_THEMING = 11,
    SCITER_SET_PX_AS_DIP = 16,
};

// ---- The function table --------------------------------------------------------------------

struct SciterApiTable {
    // options
    BOOL(SCAPI* SciterSetOption)(HWINDOW hwnd, UINT option, UINT_PTR value);
    // windows
    HWINDOW(SCAPI* SciterCreateWindow)
    (UINT creation_flags, const RECT* frame, SciterWindowDelegate delegate, void* delegate_param,
     HWINDOW parent);
    void(SCAPI* SciterSetCallback)(HWINDOW hwnd, SciterHostCallback callback, void* param);
    int(SCAPI* SciterWindowAttachEventHandler)(HWINDOW hwnd, SciterElementEventProc handler,
                                               void* tag, UINT subscription);
    // archives and file loading
    HSARCHIVE(SCAPI* SciterOpenArchive)(const BYTE* data, UINT size);
    BOOL(SCAPI* SciterCloseArchive)(HSARCHIVE archive);
    BOOL(SCAPI* SciterGetArchiveItem)
    (HSARCHIVE archive, const char16_t* path, const BYTE** data, UINT* size);
    BOOL(SCAPI* SciterDataReady)(HWINDOW hwnd, const char16_t* url, const BYTE* data, UINT size);
    BOOL(SCAPI* SciterLoadFile)(HWINDOW hwnd, const char16_t* url);
    BOOL(SCAPI* SciterWindowExec)(HWINDOW hwnd, UINT command, UINT_PTR p1, UINT_PTR p2);
    void(SCAPI* SciterGetPPI)(HWINDOW hwnd, UINT* px, UINT* py);
    // debug output
    void(SCAPI* SciterSetupDebugOutput)(HWINDOW hwnd, void* param, DEBUG_OUTPUT_PROC proc);
    // script objects
    som_atom_t(SCAPI* SciterAtomValue)(const char* name);
    BOOL(SCAPI* SciterSetGlobalAsset)(som_asset_t* asset);
    BOOL(SCAPI* SciterReleaseGlobalAsset)(som_asset_t* asset);
    // values
    UINT(SCAPI* ValueInit)(VALUE* value);
    UINT(SCAPI* ValueClear)(VALUE* value);
    UINT(SCAPI* ValueCopy)(VALUE* destination, const VALUE* source);
    UINT(SCAPI* ValueStringData)(const VALUE* value, const char16_t** chars, UINT* length);
    UINT(SCAPI* ValueStringDataSet)(VALUE* value, const char16_t* chars, UINT length, UINT units);
    UINT(SCAPI* ValueIntDataSet)(VALUE* value, INT data, UINT type, UINT units);
    UINT(SCAPI* ValueNthElementValueSet)(VALUE* value, INT n, const VALUE* element);
    UINT(SCAPI* ValueToString)(VALUE* value, UINT how);
    UINT(SCAPI* ValueInvoke)
    (const VALUE* function, VALUE* this_value, UINT argc, const VALUE* argv, VALUE* result,
     const char16_t* url);
};

// The engine library's one export, looked up by this name.
using SciterAPI_ptr = const SciterApiTable*(SCAPI*)();
inline constexpr char kSciterApiExportName[] = "SciterAPI";

// Records and constants of the events and notifications above.
#include "sciter/api_events.h"
#include "sciter/api_host.h"
