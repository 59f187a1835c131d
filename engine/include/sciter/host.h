// The host side of an engine window: the notification callback and the file server behind it.
// "this://app/..." is served from the interface archive, "res:..." from the program's own
// resources; everything else is left to the engine. Called on the window's thread only.
#pragma once

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>

#include "sciter/api.h"
#include "sciter/aux.h"
#include "sciter/event_handler.h"
#include "sciter/sapi.h"
#include "sciter/wildcard.h"

// The program's module, stored by its entry point before anything else; "res:" reads it.
extern HINSTANCE g_module_instance;

namespace sciter {

namespace aux {
inline bool equal_ignoring_case(std::wstring_view a, std::wstring_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) {
        return std::towupper(static_cast<std::wint_t>(x)) ==
               std::towupper(static_cast<std::wint_t>(y));
    });
}
}  // namespace aux

// The process's one interface archive, shared by the window that opens it and the host that
// serves it; null until the first load. Outlives every window.
HSARCHIVE& archive_handle();

// Native behaviours by name. Nothing registers one, so the list stays empty.
class behavior_factory {
public:
    virtual event_handler* create(HELEMENT element) = 0;

    const char* name = nullptr;
    behavior_factory* next = nullptr;

    static behavior_factory*& first();

protected:
    ~behavior_factory() = default;
};

template <class BASE>
class host {
public:
    // The callback given to SciterSetCallback; `param` is the BASE object.
    static UINT SCAPI handle_notification(SCITER_CALLBACK_NOTIFICATION* notification, void* param) {
        BASE* const self = static_cast<BASE*>(param);
        switch (notification->code) {
            case SC_LOAD_DATA:
                return self->on_load_data(reinterpret_cast<SCN_LOAD_DATA*>(notification));
            case SC_DATA_LOADED:
                return self->on_data_loaded(reinterpret_cast<SCN_DATA_LOADED*>(notification));
            case SC_ATTACH_BEHAVIOR:
                return self->on_attach_behavior(
                    reinterpret_cast<SCN_ATTACH_BEHAVIOR*>(notification));
            case SC_ENGINE_DESTROYED:
                return self->on_engine_destroyed();
            case SC_POSTED_NOTIFICATION:
                return self->on_posted_notification(
                    reinterpret_cast<SCN_POSTED_NOTIFICATION*>(notification));
            case SC_GRAPHICS_CRITICAL_FAILURE:
                self->on_graphics_critical_failure();
                return 0;
            default:
                return 0;
        }
    }

    virtual UINT on_load_data(SCN_LOAD_DATA* request);
    virtual UINT on_data_loaded(SCN_DATA_LOADED*) { return 0; }
    virtual UINT on_attach_behavior(SCN_ATTACH_BEHAVIOR* request);
    virtual UINT on_engine_destroyed() { return 0; }
    virtual UINT on_posted_notification(SCN_POSTED_NOTIFICATION*) { return 0; }
    virtual void on_graphics_critical_failure() {}

protected:
    ~host() = default;

private:
    static UINT load_resource(SCN_LOAD_DATA* request, std::u16string_view url);
    static UINT load_archive_item(SCN_LOAD_DATA* request, std::u16string_view url);
};

template <class BASE>
UINT host<BASE>::on_load_data(SCN_LOAD_DATA* request) {
    const std::u16string_view url =
        request->uri != nullptr ? std::u16string_view(request->uri) : std::u16string_view();
    if (aux::wildcard_match(u"res:*", url.data(), url.size()) >= 0) {
        return load_resource(request, url);
    }
    if (aux::wildcard_match(u"this://app/*", url.data(), url.size()) >= 0) {
        return load_archive_item(request, url);
    }
    return LOAD_OK;
}

template <class BASE>
UINT host<BASE>::load_resource(SCN_LOAD_DATA* request, std::u16string_view url) {
    std::u16string_view name = url.substr(4);
    if (name.empty()) {
        return LOAD_DISCARD;
    }
    if (name.starts_with(u"res:")) {
        name.remove_prefix(4);
    }
    if (name.starts_with(u"//")) {
        name.remove_prefix(2);
    }
    constexpr std::size_t kMaxName = 260;
    const std::wstring wide = aux::utf16_to_wide(name);
    std::array<wchar_t, kMaxName + 1> buffer{};
    std::copy_n(wide.begin(), std::min(wide.size(), kMaxName), buffer.begin());

    LPCWSTR type = MAKEINTRESOURCEW(23);  // RT_HTML
    if (wchar_t* const dot = std::wcsrchr(buffer.data(), L'.')) {
        *dot = 0;
        const wchar_t* const extension = dot + 1;
        if (!aux::equal_ignoring_case(extension, L"HTML") &&
            !aux::equal_ignoring_case(extension, L"HTM")) {
            type = extension;
        }
    }
    const HRSRC resource = FindResourceW(g_module_instance, buffer.data(), type);
    if (resource == nullptr) {
        return LOAD_DISCARD;
    }
    const HGLOBAL loaded = LoadResource(g_module_instance, resource);
    const void* const data = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(g_module_instance, resource);
    if (data == nullptr || size == 0) {
        return LOAD_DISCARD;
    }
    SAPI()->SciterDataReady(request->hwnd, request->uri, static_cast<const BYTE*>(data), size);
    return LOAD_OK;
}

template <class BASE>
UINT host<BASE>::load_archive_item(SCN_LOAD_DATA* request, std::u16string_view url) {
    HSARCHIVE& archive = archive_handle();
    std::u16string path(url.substr(11));
    if (aux::wildcard_match(u"//*", path.c_str(), path.size()) >= 0) {
        path.erase(0, 2);
    }
    const BYTE* data = nullptr;
    UINT size = 0;
    SAPI()->SciterGetArchiveItem(archive, path.c_str(), &data, &size);
    if (size == 0) {
        return LOAD_DISCARD;
    }
    SAPI()->SciterDataReady(request->hwnd, request->uri, data, size);
    return LOAD_OK;
}

template <class BASE>
UINT host<BASE>::on_attach_behavior(SCN_ATTACH_BEHAVIOR* request) {
    for (behavior_factory* factory = behavior_factory::first(); factory != nullptr;
         factory = factory->next) {
        if (std::strcmp(factory->name, request->behavior_name) != 0) {
            continue;
        }
        event_handler* const handler = factory->create(request->element);
        if (handler == nullptr) {
            return 0;
        }
        request->element_proc = &event_handler::element_proc;
        request->element_tag = handler;
        return 1;
    }
    return 0;
}

}  // namespace sciter
