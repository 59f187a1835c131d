// The primary screen that GetSystemMetrics reports. By default a 1920 x 1080 screen, as on the
// machines the program is tested for; the stand-in engine's front that shows windows on a real
// display tells the layer that display's size. Not for the program's code. A size that a test
// sets with platform::testing::SetSystemMetric wins over both.
#pragma once

namespace platform {

// The screen the program's windows show on, in pixels; ignored unless both are positive.
// Any thread.
void SetPrimaryScreenSize(int width, int height);

}  // namespace platform
