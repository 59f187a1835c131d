#include "tests/support/loopback_proxy.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "tests/support/loopback_ports.h"

namespace test_support {
LoopbackProxy::LoopbackProxy(Family family)
    : port_(UnusedLoopbackPort()), ipv6_(family == Family::kIpv6) {
    const std::string host = ipv6_ ? "::1" : "127.0.0.1";
    const auto config = folder_ / "tinyproxy.conf";
    // No ConnectPort line: CONNECT is allowed to every port, the double's included.
    WriteFile(config, "Port " + std::to_string(port_) +
                          "\n"
                          "Listen " +
                          host + "\n" + "Allow " + host + "\n" +
                          "Timeout 60\n"
                          "MaxClients 8\n"
                          "LogLevel Connect\n"
                          "LogFile \"" +
                          (folder_ / "tinyproxy.log").string() + "\"\n");
    process_ = std::make_unique<BackgroundProcess>(
        TALLORIN_TINYPROXY, std::vector<std::string>{"-d", "-c", config.string()},
        folder_ / "output.txt");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(ipv6_ ? AcceptsIpv6Connections(port_) : AcceptsConnections(port_))) {
        if (!process_->Running() || std::chrono::steady_clock::now() > deadline) {
            std::string output;
            try {
                output = ReadFile(folder_ / "output.txt");
            } catch (const std::exception&) {
            }
            throw std::runtime_error("tinyproxy did not start: " + output);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

LoopbackProxy::~LoopbackProxy() = default;

std::string LoopbackProxy::Address() const {
    return (ipv6_ ? "[::1]:" : "127.0.0.1:") + std::to_string(port_);
}

std::string LoopbackProxy::Log() const {
    try {
        return ReadFile(folder_ / "tinyproxy.log");
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace test_support
