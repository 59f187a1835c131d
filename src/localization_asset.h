// The script object "Localizer": the interface's way to the localization library. The
// object's class is private to localization_asset.cpp; the rest of the program reaches it
// through g_localization_asset.
#pragma once

// Makes the object, which connects to the library's change signal (so the library's instance
// must exist), keeps it in g_localization_asset and registers it with the engine as a global
// object. From then on the engine's references hold it; the main window ends its connection
// and releases it on WM_CLOSE.
void CreateLocalizationAsset();
