// The script value: the engine's record for every value that crosses between native code and
// the interface's script. It owns what it holds: initialised once, released once (clear, the
// destructor), copied through the engine.
#pragma once

#include <string>

#include "sciter/api.h"

namespace sciter {

class value : public VALUE {
public:
    value();
    value(const value& other);
    // A new copy of a value the engine handed over (ValueInit, then ValueCopy).
    explicit value(const VALUE& other);
    value& operator=(const value& other) { return copy(other); }
    ~value() { clear(); }

    void clear();
    value& copy(const VALUE& other);

    UINT type() const { return t; }
    UINT units() const { return u; }

    // The value's text: a string's characters exactly (an embedded NUL included), any other
    // value through the engine's simple conversion. Empty when the engine gives no text.
    std::wstring to_string() const;

    // An error value (units 1) whose text is `message` read in the thread's ANSI code page;
    // a null message gives an undefined value.
    static value make_error(const char* message);
    // A string value (units 0xFFFF) of UTF-8 text, up to its first NUL byte.
    static value make_string(const std::string& utf8);
};

}  // namespace sciter
