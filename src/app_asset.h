// The interface script's global "Application": the e-mail address of the command line (the
// read-only property Email) and SendReport, the window's one action. The object's class is
// private to app_asset.cpp; the rest of the program reaches it through g_app_asset.
#pragma once

// Makes the object, which parses the process's command line once, keeps it in g_app_asset and
// registers it with the engine as a global object. From then on the engine's references hold
// it; the main window releases it on WM_CLOSE. Throws what the command-line parser throws.
void CreateAppAsset();
