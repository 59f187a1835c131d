// Time limits of a request, as cpr names them.
#pragma once

#include <chrono>
#include <cstdint>

namespace cpr {

class Timeout {
public:
    Timeout(const std::chrono::milliseconds& duration) : ms(duration) {}
    Timeout(const std::int32_t& milliseconds) : Timeout(std::chrono::milliseconds(milliseconds)) {}

    // The limit in whole milliseconds, as libcurl takes it.
    long Milliseconds() const { return static_cast<long>(ms.count()); }

    std::chrono::milliseconds ms;
};

// How long making the connection may take: name lookup, TCP, a proxy's tunnel and the TLS
// handshake together. 0: no limit of its own.
class ConnectTimeout : public Timeout {
public:
    ConnectTimeout(const std::chrono::milliseconds& duration) : Timeout(duration) {}
    ConnectTimeout(const std::int32_t& milliseconds) : Timeout(milliseconds) {}
};

}  // namespace cpr
