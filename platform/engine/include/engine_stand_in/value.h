// The script's view of values in the stand-in engine, for tests (and the scenario driver):
// values it makes and reads as a script would, owned and counted by the engine.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sciter/api.h"

namespace engine_stand_in {

class Value;

// A script function played by native code: gets the call's arguments, returns its result.
// An exception leaving it makes the engine's ValueInvoke fail.
using NativeFunction = std::function<Value(const std::vector<Value>& arguments)>;

// Owns one engine value; copies share what they hold, as the engine's values do.
class Value {
public:
    Value();  // undefined
    explicit Value(const VALUE& other);
    Value(const Value& other);
    Value(Value&& other) noexcept;
    Value& operator=(Value other) noexcept;
    ~Value();

    static Value Null();
    static Value Boolean(bool flag);
    static Value Integer(int number);
    static Value Float(double number);
    static Value String(std::u16string_view text, UINT units = UT_STRING_PLAIN);
    static Value Function(NativeFunction function);
    static Value Object();

    UINT type() const { return value_.t; }
    UINT units() const { return value_.u; }
    const VALUE& raw() const { return value_; }
    // For the engine's functions that write a value (results, setters).
    VALUE* slot() { return &value_; }

    // The value's text as the script's String() gives it.
    std::u16string Text() const;

private:
    VALUE value_;
};

// Engine-held value contents alive now (strings, arrays, objects, functions), for leak checks.
std::size_t LiveValueCount();

}  // namespace engine_stand_in
