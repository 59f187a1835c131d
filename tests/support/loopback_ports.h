// Loopback ports for test servers.
#pragma once

namespace test_support {

// A loopback port on which nothing listens (free when asked).
int UnusedLoopbackPort();

// Whether something accepts connections on 127.0.0.1:port.
bool AcceptsConnections(int port);
// Whether something accepts connections on [::1]:port.
bool AcceptsIpv6Connections(int port);

}  // namespace test_support
