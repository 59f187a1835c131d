// Atoms: a stable 64-bit number for each name; 0 is no name.
#pragma once

#include <optional>
#include <string>

#include "sciter/api.h"

namespace engine_stand_in::detail {

som_atom_t SCAPI SciterAtomValue(const char* name);
std::optional<std::string> AtomName(som_atom_t atom);

}  // namespace engine_stand_in::detail
