// The engine's debug-output sink: markup, style and script diagnostics and the scripts'
// console. The engine's UTF-16 text is handed to `output` as wide text of the same content.
#pragma once

#include "sciter/api.h"

namespace sciter {

class debug_output {
public:
    debug_output() = default;
    debug_output(const debug_output&) = delete;
    debug_output& operator=(const debug_output&) = delete;

    // `length` characters at `text`; followed by a terminator.
    virtual void output(UINT subsystem, UINT severity, const wchar_t* text, UINT length);
    virtual void print(const char* text);
    virtual void print(const wchar_t* text);

    // The callback given to the engine; `param` is the sink.
    static void SCAPI output_proc(void* param, UINT subsystem, UINT severity, const char16_t* text,
                                  UINT text_length);

protected:
    ~debug_output() = default;
};

}  // namespace sciter
