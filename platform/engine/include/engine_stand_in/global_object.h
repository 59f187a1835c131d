// The script's view of the global objects registered with SciterSetGlobalAsset: found by
// name, called through their passports' thunks, as the engine does when a script runs.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine_stand_in/value.h"
#include "sciter/api.h"

namespace engine_stand_in {

// Holds one reference to the object (through its class table) while it lives.
class GlobalObject {
public:
    // The global object registered under `name`, or none.
    static std::optional<GlobalObject> Find(std::string_view name);

    GlobalObject(GlobalObject&& other) noexcept;
    GlobalObject& operator=(GlobalObject&& other) noexcept;
    GlobalObject(const GlobalObject&) = delete;
    ~GlobalObject();

    // Calls the passport's method `name` with `arguments` (the engine's argument count is
    // their number). Throws std::runtime_error when the class has no such method or its
    // thunk answers false.
    Value Call(std::string_view name, const std::vector<Value>& arguments) const;
    // Reads the passport's property `name` through its getter; throws as Call does.
    Value Get(std::string_view name) const;

    // The passport's method and property names, in passport order.
    std::vector<std::string> MethodNames() const;
    std::vector<std::string> PropertyNames() const;

    // The class names of every global object registered now.
    static std::vector<std::string> Names();

    som_asset_t* asset() const { return asset_; }

private:
    explicit GlobalObject(som_asset_t* referenced) : asset_(referenced) {}
    const som_passport_t& Passport() const;

    som_asset_t* asset_;
};

}  // namespace engine_stand_in
