// The interface script's two global objects as the rest of the program holds them. Each
// object's class is private to its own source file, so what other files get is what they
// need: the engine-facing part, by which the object is registered and released, and the
// object's own signal connections, which the main window ends before the release. Set when
// the object is made (CreateAppAsset, CreateLocalizationAsset), cleared by the main window on
// WM_CLOSE. The program's one thread only.
#pragma once

#include <boost/signals2/connection.hpp>

#include <vector>

#include "sciter/api.h"

struct GlobalAsset {
    som_asset_t* asset = nullptr;  // null before the object is made and after its release
    // Inside the object: valid only while `asset` is set.
    std::vector<boost::signals2::scoped_connection>* connections = nullptr;
};

extern GlobalAsset g_app_asset;
extern GlobalAsset g_localization_asset;
