// The value members of the function table. Values are released and copied by reference
// count; a string is never changed in place, so sharing one is safe.
#include "platform/engine/src/value_functions.h"

#include <exception>
#include <vector>

#include "platform/engine/src/value_store.h"

namespace engine_stand_in::detail {

UINT SCAPI ValueInit(VALUE* value) {
    if (value == nullptr) {
        return HV_BAD_PARAMETER;
    }
    *value = VALUE{T_UNDEFINED, 0, 0};
    return HV_OK;
}

UINT SCAPI ValueClear(VALUE* value) {
    if (value == nullptr) {
        return HV_BAD_PARAMETER;
    }
    Store(*value, T_UNDEFINED, 0, 0);
    return HV_OK;
}

UINT SCAPI ValueCopy(VALUE* destination, const VALUE* source) {
    if (destination == nullptr || source == nullptr) {
        return HV_BAD_PARAMETER;
    }
    if (destination == source) {
        return HV_OK;
    }
    if (Node* const node = NodeOf(*source)) {
        node->AddRef();
        Hold(*destination, source->t, source->u, node);
    } else {
        Store(*destination, source->t, source->u, source->d);
    }
    return HV_OK;
}

UINT SCAPI ValueStringData(const VALUE* value, const char16_t** chars, UINT* length) {
    if (value == nullptr || chars == nullptr || length == nullptr) {
        return HV_BAD_PARAMETER;
    }
    if (value->t != T_STRING) {
        return HV_INCOMPATIBLE_TYPE;
    }
    const std::u16string& text = NodeAs<StringNode>(*value)->text;
    *chars = text.c_str();
    *length = static_cast<UINT>(text.size());
    return HV_OK;
}

UINT SCAPI ValueStringDataSet(VALUE* value, const char16_t* chars, UINT length, UINT units) {
    if (value == nullptr || (chars == nullptr && length != 0)) {
        return HV_BAD_PARAMETER;
    }
    // The text is copied before the old content goes: it may be that content.
    std::u16string text = chars == nullptr ? std::u16string() : std::u16string(chars, length);
    Hold(*value, T_STRING, units, new StringNode(std::move(text)));
    return HV_OK;
}

UINT SCAPI ValueIntDataSet(VALUE* value, INT data, UINT type, UINT units) {
    if (value == nullptr) {
        return HV_BAD_PARAMETER;
    }
    if (type == T_BOOL) {
        Store(*value, T_BOOL, units, data != 0 ? 1 : 0);
    } else if (type == T_INT) {
        Store(*value, T_INT, units, static_cast<std::uint32_t>(data));
    } else {
        return HV_INCOMPATIBLE_TYPE;
    }
    return HV_OK;
}

UINT SCAPI ValueNthElementValueSet(VALUE* value, INT n, const VALUE* element) {
    if (value == nullptr || element == nullptr || n < 0) {
        return HV_BAD_PARAMETER;
    }
    if (value->t == T_UNDEFINED) {
        Hold(*value, T_ARRAY, 0, new ArrayNode());
    } else if (value->t != T_ARRAY) {
        return HV_INCOMPATIBLE_TYPE;
    }
    auto& elements = NodeAs<ArrayNode>(*value)->elements;
    const auto index = static_cast<std::size_t>(n);
    if (elements.size() <= index) {
        elements.resize(index + 1, VALUE{T_UNDEFINED, 0, 0});
    }
    return ValueCopy(&elements[index], element);
}

UINT SCAPI ValueToString(VALUE* value, UINT how) {
    if (value == nullptr || how != CVT_SIMPLE) {
        return HV_BAD_PARAMETER;
    }
    if (value->t != T_STRING) {
        Hold(*value, T_STRING, UT_STRING_PLAIN, new StringNode(TextOf(*value)));
    }
    return HV_OK;
}

UINT SCAPI ValueInvoke(const VALUE* function, VALUE* this_value, UINT argc, const VALUE* argv,
                       VALUE* result, const char16_t* /*url*/) {
    if (function == nullptr || (argc != 0 && argv == nullptr)) {
        return HV_BAD_PARAMETER;
    }
    if (function->t != T_FUNCTION) {
        return HV_INCOMPATIBLE_TYPE;
    }
    static_cast<void>(this_value);  // native functions do not look at "this"
    // Held for the call, so a function that drops the last other reference to itself runs on.
    const Value callee(*function);
    std::vector<Value> arguments;
    arguments.reserve(argc);
    for (UINT i = 0; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    try {
        const Value returned = NodeAs<FunctionNode>(callee.raw())->function(arguments);
        if (result != nullptr) {
            ValueCopy(result, &returned.raw());
        }
    } catch (const std::exception&) {
        return HV_BAD_PARAMETER;  // the script function threw
    }
    return HV_OK;
}

}  // namespace engine_stand_in::detail
