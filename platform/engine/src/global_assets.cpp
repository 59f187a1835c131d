#include "platform/engine/src/global_assets.h"

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "platform/engine/src/atoms.h"

namespace engine_stand_in::detail {

namespace {

struct GlobalTable {
    std::mutex mutex;
    std::map<std::string, som_asset_t*, std::less<>> objects;
};

GlobalTable& Globals() {
    static GlobalTable table;
    return table;
}

}  // namespace

BOOL SCAPI SciterSetGlobalAsset(som_asset_t* asset) {
    if (asset == nullptr || asset->isa == nullptr) {
        return FALSE;
    }
    const som_passport_t* passport = asset->isa->asset_get_passport(asset);
    const auto name = passport != nullptr ? AtomName(passport->name) : std::nullopt;
    if (!name) {
        return FALSE;
    }
    asset->isa->asset_add_ref(asset);
    som_asset_t* replaced = nullptr;
    {
        auto& table = Globals();
        const std::lock_guard lock(table.mutex);
        som_asset_t*& slot = table.objects[*name];
        replaced = std::exchange(slot, asset);
    }
    // Outside the lock: dropping the last reference runs the object's destructor.
    if (replaced != nullptr) {
        replaced->isa->asset_release(replaced);
    }
    return TRUE;
}

BOOL SCAPI SciterReleaseGlobalAsset(som_asset_t* asset) {
    {
        auto& table = Globals();
        const std::lock_guard lock(table.mutex);
        auto found = table.objects.begin();
        while (found != table.objects.end() && found->second != asset) {
            ++found;
        }
        if (found == table.objects.end()) {
            return FALSE;
        }
        table.objects.erase(found);
    }
    asset->isa->asset_release(asset);
    return TRUE;
}

som_asset_t* ReferenceGlobalAsset(std::string_view name) {
    auto& table = Globals();
    const std::lock_guard lock(table.mutex);
    const auto found = table.objects.find(name);
    if (found == table.objects.end()) {
        return nullptr;
    }
    found->second->isa->asset_add_ref(found->second);
    return found->second;
}

std::vector<std::string> GlobalAssetNames() {
    auto& table = Globals();
    const std::lock_guard lock(table.mutex);
    std::vector<std::string> names;
    for (const auto& entry : table.objects) {
        names.push_back(entry.first);
    }
    return names;
}

}  // namespace engine_stand_in::detail
