// Script objects: the reference-counted asset base, its engine-facing part and class table.
// The engine holds every object by its som_asset_t part and reaches it through the four
// forwarders of the class table; the object frees itself when its last reference goes.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

#include "sciter/api.h"

namespace sciter::om {

template <class R>
class iasset : public som_asset_t {
public:
    iasset() : som_asset_t{asset_class()} {}
    iasset(const iasset&) = delete;
    iasset& operator=(const iasset&) = delete;

    virtual std::int32_t asset_add_ref() = 0;
    virtual std::int32_t asset_release() = 0;
    // True for the engine's asset interface name; then, when `out` is given, adds a reference
    // and stores the object's own address there. Other names: false, nothing changes.
    virtual bool asset_get_interface(const char* name, void** out) {
        if (std::strcmp(name, kAssetInterfaceName) != 0) {
            return false;
        }
        if (out != nullptr) {
            asset_add_ref();
            *out = this;
        }
        return true;
    }
    // The class's passport; none for a class without one.
    virtual som_passport_t* asset_get_passport() const { return nullptr; }
    virtual ~iasset() = default;
    virtual void finalize() { delete this; }  // objects live on the heap, held by count

    // The object behind an engine-facing part the engine handed back.
    static iasset* from_asset(som_asset_t* thing) { return static_cast<iasset*>(thing); }

private:
    static std::int32_t SCAPI add_ref_thunk(som_asset_t* thing) {
        return from_asset(thing)->asset_add_ref();
    }
    static std::int32_t SCAPI release_thunk(som_asset_t* thing) {
        return from_asset(thing)->asset_release();
    }
    static bool SCAPI get_interface_thunk(som_asset_t* thing, const char* name, void** out) {
        return from_asset(thing)->asset_get_interface(name, out);
    }
    static som_passport_t* SCAPI get_passport_thunk(som_asset_t* thing) {
        return from_asset(thing)->asset_get_passport();
    }

    static som_asset_class_t* asset_class() {
        static som_asset_class_t table{&add_ref_thunk, &release_thunk, &get_interface_thunk,
                                       &get_passport_thunk};
        return &table;
    }
};

template <class T>
class asset : public iasset<asset<T>> {
public:
    std::int32_t asset_add_ref() override { return ++count_; }
    std::int32_t asset_release() override {
        const std::int32_t count = --count_;
        if (count == 0) {
            this->finalize();
        }
        return count;
    }
    ~asset() override = default;

    std::int32_t reference_count() const { return count_.load(); }

    // The script object behind an engine-facing part of this class.
    static T* object_of(som_asset_t* thing) {
        return static_cast<T*>(iasset<asset<T>>::from_asset(thing));
    }

private:
    std::atomic<std::int32_t> count_{0};
};

}  // namespace sciter::om
