// A real HTTP proxy (tinyproxy) on loopback for one test, with a config file of its own.
#pragma once

#include <memory>
#include <string>

#include "tests/support/background_process.h"
#include "tests/support/temp_dir.h"

namespace test_support {

class LoopbackProxy {
public:
    enum class Family { kIpv4, kIpv6 };

    // Starts tinyproxy on a free port of 127.0.0.1 or ::1 and waits until it listens; throws
    // std::runtime_error otherwise.
    explicit LoopbackProxy(Family family = Family::kIpv4);
    LoopbackProxy(const LoopbackProxy&) = delete;
    LoopbackProxy& operator=(const LoopbackProxy&) = delete;
    ~LoopbackProxy();

    int port() const { return port_; }
    // "127.0.0.1:<port>" or "[::1]:<port>", as a proxy table holds it.
    std::string Address() const;
    // What the proxy has logged so far (one line per connection it handled, among others).
    std::string Log() const;

private:
    TempDir folder_;
    int port_ = 0;
    bool ipv6_ = false;
    std::unique_ptr<BackgroundProcess> process_;
};

}  // namespace test_support
