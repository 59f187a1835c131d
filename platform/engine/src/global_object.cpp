#include "engine_stand_in/global_object.h"

#include <stdexcept>
#include <string>
#include <utility>

#include "platform/engine/src/atoms.h"
#include "platform/engine/src/global_assets.h"

namespace engine_stand_in {

std::optional<GlobalObject> GlobalObject::Find(std::string_view name) {
    som_asset_t* const asset = detail::ReferenceGlobalAsset(name);
    if (asset == nullptr) {
        return std::nullopt;
    }
    return GlobalObject(asset);
}

GlobalObject::GlobalObject(GlobalObject&& other) noexcept
    : asset_(std::exchange(other.asset_, nullptr)) {}

GlobalObject& GlobalObject::operator=(GlobalObject&& other) noexcept {
    std::swap(asset_, other.asset_);
    return *this;
}

GlobalObject::~GlobalObject() {
    if (asset_ != nullptr) {
        asset_->isa->asset_release(asset_);
    }
}

const som_passport_t& GlobalObject::Passport() const {
    const som_passport_t* passport = asset_->isa->asset_get_passport(asset_);
    if (passport == nullptr) {
        throw std::runtime_error("object has no passport");
    }
    return *passport;
}

std::vector<std::string> GlobalObject::MethodNames() const {
    const som_passport_t& passport = Passport();
    std::vector<std::string> names;
    for (std::size_t i = 0; i < passport.n_methods; ++i) {
        names.push_back(detail::AtomName(passport.methods[i].name).value_or(""));
    }
    return names;
}

std::vector<std::string> GlobalObject::PropertyNames() const {
    const som_passport_t& passport = Passport();
    std::vector<std::string> names;
    for (std::size_t i = 0; i < passport.n_properties; ++i) {
        names.push_back(detail::AtomName(passport.properties[i].name).value_or(""));
    }
    return names;
}

std::vector<std::string> GlobalObject::Names() { return detail::GlobalAssetNames(); }

Value GlobalObject::Call(std::string_view name, const std::vector<Value>& arguments) const {
    const som_passport_t& passport = Passport();
    const som_atom_t atom = detail::SciterAtomValue(std::string(name).c_str());
    for (std::size_t i = 0; i < passport.n_methods; ++i) {
        const som_method_def_t& method = passport.methods[i];
        if (method.name != atom) {
            continue;
        }
        std::vector<VALUE> argv;
        argv.reserve(arguments.size());
        for (const Value& argument : arguments) {
            argv.push_back(argument.raw());  // borrowed: `arguments` keeps them alive
        }
        Value result;
        if (!method.func(asset_, static_cast<UINT>(argv.size()), argv.data(), result.slot())) {
            throw std::runtime_error("method failed: " + std::string(name));
        }
        return result;
    }
    throw std::runtime_error("no such method: " + std::string(name));
}

Value GlobalObject::Get(std::string_view name) const {
    const som_passport_t& passport = Passport();
    const som_atom_t atom = detail::SciterAtomValue(std::string(name).c_str());
    for (std::size_t i = 0; i < passport.n_properties; ++i) {
        const som_property_def_t& property = passport.properties[i];
        if (property.name != atom || property.getter == nullptr) {
            continue;
        }
        Value result;
        if (!property.getter(asset_, result.slot())) {
            throw std::runtime_error("property failed: " + std::string(name));
        }
        return result;
    }
    throw std::runtime_error("no such property: " + std::string(name));
}

}  // namespace engine_stand_in
