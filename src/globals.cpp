#include "src/globals.h"

GlobalAsset g_app_asset;
GlobalAsset g_localization_asset;
