#include "platform/engine/src/value_store.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string_view>

namespace engine_stand_in::detail {

namespace {

std::atomic<std::size_t> g_live_nodes{0};

bool HoldsNode(UINT type) {
    return type == T_STRING || type == T_ARRAY || type == T_FUNCTION || type == T_OBJECT;
}

std::u16string Ascii(std::string_view text) { return {text.begin(), text.end()}; }

std::u16string TextOf(const VALUE& value, std::vector<const Node*>& joining) {
    switch (value.t) {
        case T_UNDEFINED:
            return u"undefined";
        case T_NULL:
            return u"null";
        case T_BOOL:
            return value.d != 0 ? u"true" : u"false";
        case T_INT:
            return Ascii(std::to_string(static_cast<std::int32_t>(value.d)));
        case T_FLOAT:
            return NumberText(std::bit_cast<double>(value.d));
        case T_STRING:
            return NodeAs<StringNode>(value)->text;
        case T_FUNCTION:
            return u"function () { [native code] }";
        case T_ARRAY: {
            // Array.prototype.join: undefined and null give nothing; an array inside itself
            // gives nothing instead of recursing forever.
            const auto* array = NodeAs<ArrayNode>(value);
            if (std::find(joining.begin(), joining.end(), array) != joining.end()) {
                return {};
            }
            joining.push_back(array);
            std::u16string text;
            for (std::size_t i = 0; i < array->elements.size(); ++i) {
                if (i > 0) {
                    text += u',';
                }
                const VALUE& element = array->elements[i];
                if (element.t != T_UNDEFINED && element.t != T_NULL) {
                    text += TextOf(element, joining);
                }
            }
            joining.pop_back();
            return text;
        }
        default:
            return u"[object Object]";
    }
}

}  // namespace

Node::Node() { ++g_live_nodes; }
Node::~Node() { --g_live_nodes; }

ArrayNode::~ArrayNode() {
    for (VALUE& element : elements) {
        Store(element, T_UNDEFINED, 0, 0);
    }
}

std::size_t LiveNodeCount() { return g_live_nodes.load(); }

Node* NodeOf(const VALUE& value) {
    return HoldsNode(value.t) ? reinterpret_cast<Node*>(static_cast<std::uintptr_t>(value.d))
                              : nullptr;
}

void Hold(VALUE& value, UINT type, UINT units, Node* node) {
    Node* const previous = NodeOf(value);
    value = VALUE{type, units, reinterpret_cast<std::uintptr_t>(node)};
    if (previous != nullptr) {
        previous->Release();
    }
}

void Store(VALUE& value, UINT type, UINT units, std::uint64_t data) {
    Node* const previous = NodeOf(value);
    value = VALUE{type, units, data};
    if (previous != nullptr) {
        previous->Release();
    }
}

std::u16string TextOf(const VALUE& value) {
    std::vector<const Node*> joining;
    return TextOf(value, joining);
}

}  // namespace engine_stand_in::detail
