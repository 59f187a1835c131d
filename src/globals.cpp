#include "globals.h"

AppAsset* g_app_asset = nullptr;
LocalizationAsset* g_localization_asset = nullptr;
