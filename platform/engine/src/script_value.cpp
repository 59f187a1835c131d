#include <bit>
#include <utility>

#include "engine_stand_in/value.h"
#include "platform/engine/src/value_functions.h"
#include "platform/engine/src/value_store.h"

namespace engine_stand_in {

using namespace detail;

Value::Value() : value_{T_UNDEFINED, 0, 0} {}

Value::Value(const VALUE& other) : Value() { ValueCopy(&value_, &other); }

Value::Value(const Value& other) : Value(other.value_) {}

Value::Value(Value&& other) noexcept
    : value_(std::exchange(other.value_, VALUE{T_UNDEFINED, 0, 0})) {}

Value& Value::operator=(Value other) noexcept {
    std::swap(value_, other.value_);
    return *this;
}

Value::~Value() { ValueClear(&value_); }

Value Value::Null() {
    Value v;
    Store(v.value_, T_NULL, 0, 0);
    return v;
}

Value Value::Boolean(bool flag) {
    Value v;
    ValueIntDataSet(&v.value_, flag ? 1 : 0, T_BOOL, 0);
    return v;
}

Value Value::Integer(int number) {
    Value v;
    ValueIntDataSet(&v.value_, number, T_INT, 0);
    return v;
}

Value Value::Float(double number) {
    Value v;
    Store(v.value_, T_FLOAT, 0, std::bit_cast<std::uint64_t>(number));
    return v;
}

Value Value::String(std::u16string_view text, UINT units) {
    Value v;
    ValueStringDataSet(&v.value_, text.data(), static_cast<UINT>(text.size()), units);
    return v;
}

Value Value::Function(NativeFunction function) {
    Value v;
    Hold(v.value_, T_FUNCTION, 0, new FunctionNode(std::move(function)));
    return v;
}

Value Value::Object() {
    Value v;
    Hold(v.value_, T_OBJECT, 0, new ObjectNode());
    return v;
}

std::u16string Value::Text() const { return TextOf(value_); }

std::size_t LiveValueCount() { return LiveNodeCount(); }

}  // namespace engine_stand_in
