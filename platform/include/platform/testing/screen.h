// TEMPORARY, removed with src/screen_metrics_interim.cpp when the system-facts area arrives
// (its testing/sysinfo.h declares the same setter).
#pragma once

namespace platform::testing {

// What GetSystemMetrics answers for one index.
void SetSystemMetric(int index, int value);

}  // namespace platform::testing
