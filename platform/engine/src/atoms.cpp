#include "platform/engine/src/atoms.h"

#include <mutex>
#include <unordered_map>
#include <vector>

namespace engine_stand_in::detail {

namespace {

struct AtomTable {
    std::mutex mutex;
    std::unordered_map<std::string, som_atom_t> atoms;
    std::vector<std::string> names;  // atom n is names[n - 1]
};

AtomTable& Atoms() {
    static AtomTable table;
    return table;
}

}  // namespace

som_atom_t SCAPI SciterAtomValue(const char* name) {
    if (name == nullptr) {
        return 0;
    }
    auto& table = Atoms();
    const std::lock_guard lock(table.mutex);
    const auto [found, added] = table.atoms.try_emplace(name, table.names.size() + 1);
    if (added) {
        table.names.emplace_back(name);
    }
    return found->second;
}

std::optional<std::string> AtomName(som_atom_t atom) {
    auto& table = Atoms();
    const std::lock_guard lock(table.mutex);
    if (atom == 0 || atom > table.names.size()) {
        return std::nullopt;
    }
    return table.names[atom - 1];
}

}  // namespace engine_stand_in::detail
