// The stand-in engine's windows as tests (and the scenario driver) see them: what a load
// asked the host for, key events and debug messages sent as the engine sends them, the
// screen resolution it reports.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sciter/api.h"

namespace engine_stand_in {

struct FileRequest {
    std::u16string url;
    UINT data_type = 0;  // SCITER_RESOURCE_TYPE
    bool delivered = false;
    std::size_t size = 0;
};

// Every file the window's last SciterLoadFile asked for (the page first, then what it refers
// to, depth first), with whether data came back. Empty for an unknown window.
std::vector<FileRequest> LastLoad(HWINDOW hwnd);

// The engine windows that exist now, oldest first.
std::vector<HWINDOW> EngineWindows();

// A key event to the window's element handlers, as the engine sends it for its root element;
// whether one of them handled it. FALSE for an unknown window.
BOOL SendKey(HWINDOW hwnd, UINT command, UINT key_code, UINT keyboard_state);

// Any element event to the window's element handlers.
BOOL SendElementEvent(HWINDOW hwnd, UINT event_group, void* params);

// A debug message to the sink of SciterSetupDebugOutput, `length` units of `text`.
void EmitDebugMessage(UINT subsystem, UINT severity, const char16_t* text, UINT length);

// What SciterGetPPI answers, both directions; 96 by default.
void SetPixelsPerInch(UINT ppi);

// The environment variables of the scenario driver: a scenario file to play, and where the
// transcript of its results goes.
inline constexpr char kScenarioVariable[] = "STAND_IN_ENGINE_SCENARIO";
inline constexpr char kTranscriptVariable[] = "STAND_IN_ENGINE_TRANSCRIPT";

// Which front shows the main window: "headless" (the default) loads the page and its files
// without showing anything; "browser" shows it in Chromium, as an app window when DISPLAY is
// set and headless otherwise; "browser-headless" always runs Chromium headless. Chromium opens
// a remote-debugging port only when the second variable names a file: its endpoint
// ("http://127.0.0.1:PORT") then goes to the debug output and into that file. Tests and demos
// that drive the page ask for it; a user's run has none.
inline constexpr char kFrontVariable[] = "STAND_IN_ENGINE_FRONT";
inline constexpr char kDevToolsFileVariable[] = "STAND_IN_ENGINE_DEVTOOLS_FILE";

}  // namespace engine_stand_in
