// The size of the X screen that DISPLAY names, asked of the X server itself.
#pragma once

#include <optional>
#include <utility>

namespace engine_stand_in::detail {

// Width and height in pixels; none when DISPLAY is unset or its server cannot be reached.
std::optional<std::pair<int, int>> XScreenSize();

}  // namespace engine_stand_in::detail
