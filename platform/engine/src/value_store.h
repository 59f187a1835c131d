// What a value holds when it is more than its 16 bytes: a reference-counted node owned by the
// engine. Booleans, integers and floats live in the data field itself.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "engine_stand_in/value.h"
#include "sciter/api.h"

namespace engine_stand_in::detail {

class Node {
public:
    Node();
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    virtual ~Node();

    void AddRef() { ++references_; }
    void Release() {
        if (--references_ == 0) {
            delete this;  // counted by references, like the engine's values
        }
    }

private:
    std::atomic<int> references_{1};
};

struct StringNode final : Node {
    explicit StringNode(std::u16string t) : text(std::move(t)) {}
    const std::u16string text;
};

struct ArrayNode final : Node {
    ~ArrayNode() override;
    std::vector<VALUE> elements;  // each initialised, released with the node
};

struct FunctionNode final : Node {
    explicit FunctionNode(NativeFunction f) : function(std::move(f)) {}
    const NativeFunction function;
};

struct ObjectNode final : Node {};

std::size_t LiveNodeCount();

// The node a value holds, or null for values held in their data field.
Node* NodeOf(const VALUE& value);
template <class N>
N* NodeAs(const VALUE& value) {
    return static_cast<N*>(NodeOf(value));
}

// Releases what `value` held and makes it hold `node` (whose one reference it takes over).
void Hold(VALUE& value, UINT type, UINT units, Node* node);
// Releases what `value` held and stores plain data.
void Store(VALUE& value, UINT type, UINT units, std::uint64_t data);

// The text of JavaScript's String() for any value.
std::u16string TextOf(const VALUE& value);
std::u16string NumberText(double number);

}  // namespace engine_stand_in::detail
