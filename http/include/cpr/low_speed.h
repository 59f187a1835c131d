// A transfer that moves fewer than `limit` bytes per second, sent and received together, for
// `time` seconds in a row is abandoned as timed out. A limit of 0 switches the check off.
#pragma once

#include <cstdint>

namespace cpr {

class LowSpeed {
public:
    LowSpeed(const std::int32_t p_limit, const std::int32_t p_time)
        : limit(p_limit), time(p_time) {}

    std::int32_t limit;  // bytes per second
    std::int32_t time;   // seconds
};

}  // namespace cpr
