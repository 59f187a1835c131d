#include "platform/engine/src/x_screen.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace engine_stand_in::detail {

std::optional<std::pair<int, int>> XScreenSize() {
    const char* const display = std::getenv("DISPLAY");
    if (display == nullptr || *display == 0) {
        return std::nullopt;
    }
    // xcb rather than Xlib: a broken connection is an answer here, not the end of the process.
    int screen_number = 0;
    const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(
        xcb_connect(display, &screen_number), &xcb_disconnect);
    if (!connection || xcb_connection_has_error(connection.get()) != 0) {
        return std::nullopt;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screen_number && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    if (screens.rem <= 0 || screens.data == nullptr) {
        return std::nullopt;
    }
    return std::make_pair(static_cast<int>(screens.data->width_in_pixels),
                          static_cast<int>(screens.data->height_in_pixels));
}

}  // namespace engine_stand_in::detail
