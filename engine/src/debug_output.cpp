#include "sciter/debug_output.h"

#include <windows.h>

#include <string>
#include <string_view>

#include "sciter/aux.h"

namespace sciter {

void SCAPI debug_output::output_proc(void* param, UINT subsystem, UINT severity,
                                     const char16_t* text, UINT text_length) {
    if (param == nullptr) {
        return;
    }
    const std::wstring wide = text == nullptr
                                  ? std::wstring()
                                  : aux::utf16_to_wide(std::u16string_view(text, text_length));
    static_cast<debug_output*>(param)->output(subsystem, severity, wide.c_str(),
                                              static_cast<UINT>(wide.size()));
}

void debug_output::output(UINT subsystem, UINT severity, const wchar_t* text, UINT length) {
    switch (severity) {
        case OS_INFO:
            print("info:");
            break;
        case OS_WARNING:
            print("warning:");
            break;
        case OS_ERROR:
            print("error:");
            break;
        default:
            break;
    }
    switch (subsystem) {
        case OT_DOM:
            print("DOM: ");
            break;
        case OT_CSSS:
            print("csss!: ");
            break;
        case OT_CSS:
            print("css: ");
            break;
        case OT_TIS:
            print("script: ");
            break;
        default:
            break;
    }
    if (text != nullptr && text[length] == 0) {
        print(text);
    }
}

void debug_output::print(const char* text) { OutputDebugStringA(text); }
void debug_output::print(const wchar_t* text) { OutputDebugStringW(text); }

}  // namespace sciter
