// The component tag of every log record of the application: start-up, the main window, the
// script objects, the engine's logger and the report client's uploads.
#pragma once

inline constexpr char kLogTag[] = "tallorin";
