// The component tag of every log record of the application: start-up, the main window, the
// script objects and the engine's logger.
#pragma once

inline constexpr char kLogTag[] = "tallorin";
