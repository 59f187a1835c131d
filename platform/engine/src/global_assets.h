// The interface script's global objects: registered under their passport's class name, held
// by one engine reference each from registration to release.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sciter/api.h"

namespace engine_stand_in::detail {

BOOL SCAPI SciterSetGlobalAsset(som_asset_t* asset);
BOOL SCAPI SciterReleaseGlobalAsset(som_asset_t* asset);

// The object registered under `name` with one reference added for the caller, or null.
som_asset_t* ReferenceGlobalAsset(std::string_view name);

// The names registered now, in the order of their names.
std::vector<std::string> GlobalAssetNames();

}  // namespace engine_stand_in::detail
