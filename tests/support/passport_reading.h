// A script object's passport read back as the engine reads it: asked for through the class
// table of the object's engine-facing part, its entries' thunks called with the engine's
// calling convention. Header-only, for test programs that link the stand-in engine.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "engine_stand_in/value.h"
#include "sciter/api.h"
#include "sciter/sapi.h"

namespace test_support {

struct PassportMethod {
    const char* name;
    std::size_t params;
};

// Checks the passport that `asset` hands the engine: flags 0, the class name, exactly
// `methods` in order with their argument counts and a thunk each, exactly `properties` in
// order with a getter each and no setter, none of the optional hooks; and that a second
// request gives the same record. Returns the passport, or null when there is none.
inline const som_passport_t* ExpectReadOnlyPassport(som_asset_t* asset, const char* class_name,
                                                    const std::vector<PassportMethod>& methods,
                                                    const std::vector<const char*>& properties) {
    const som_passport_t* const passport = asset->isa->asset_get_passport(asset);
    EXPECT_NE(passport, nullptr);
    if (passport == nullptr) {
        return nullptr;
    }
    const auto atom = [](const char* name) { return SAPI()->SciterAtomValue(name); };
    EXPECT_EQ(passport->flags, 0u);
    EXPECT_EQ(passport->name, atom(class_name));

    EXPECT_EQ(passport->n_methods, methods.size());
    for (std::size_t i = 0; i < methods.size() && i < passport->n_methods; ++i) {
        SCOPED_TRACE(std::string("method ") + std::to_string(i) + " " + methods[i].name);
        const som_method_def_t& entry = passport->methods[i];
        EXPECT_EQ(entry.reserved, nullptr);
        EXPECT_EQ(entry.name, atom(methods[i].name));
        EXPECT_EQ(entry.params, methods[i].params);
        EXPECT_NE(entry.func, nullptr);
    }
    EXPECT_EQ(passport->n_properties, properties.size());
    EXPECT_EQ(passport->properties == nullptr, properties.empty());
    for (std::size_t i = 0; i < properties.size() && i < passport->n_properties; ++i) {
        SCOPED_TRACE(std::string("property ") + properties[i]);
        const som_property_def_t& entry = passport->properties[i];
        EXPECT_EQ(entry.reserved, nullptr);
        EXPECT_EQ(entry.name, atom(properties[i]));
        EXPECT_NE(entry.getter, nullptr);
        EXPECT_EQ(entry.setter, nullptr);
    }
    EXPECT_EQ(passport->item_getter, nullptr);
    EXPECT_EQ(passport->item_setter, nullptr);
    EXPECT_EQ(passport->item_next, nullptr);
    EXPECT_EQ(passport->prop_getter, nullptr);
    EXPECT_EQ(passport->prop_setter, nullptr);

    // The tables are built once: a second request rewrites the same record with them.
    const som_method_def_t* const method_table = passport->methods;
    const som_property_def_t* const property_table = passport->properties;
    EXPECT_EQ(asset->isa->asset_get_passport(asset), passport);
    EXPECT_EQ(passport->methods, method_table);
    EXPECT_EQ(passport->properties, property_table);
    return passport;
}

// Calls method entry `index` of the passport as the engine does; the thunk must answer true.
inline engine_stand_in::Value CallEntry(som_asset_t* asset, const som_passport_t& passport,
                                        std::size_t index,
                                        const std::vector<engine_stand_in::Value>& arguments) {
    std::vector<VALUE> argv;
    for (const engine_stand_in::Value& argument : arguments) {
        argv.push_back(argument.raw());  // borrowed: `arguments` keeps them alive
    }
    engine_stand_in::Value result;
    EXPECT_TRUE(passport.methods[index].func(asset, static_cast<UINT>(argv.size()), argv.data(),
                                             result.slot()));
    return result;
}

}  // namespace test_support
