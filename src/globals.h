// The process-wide pointers to the interface script's two global objects: set by uimain when
// it creates them, set back to null by the main window when it lets them go on WM_CLOSE.
// The program's one thread only.
#pragma once

class AppAsset;
class LocalizationAsset;

extern AppAsset* g_app_asset;
extern LocalizationAsset* g_localization_asset;
