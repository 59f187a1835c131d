// TLS options of a request. Only peer verification can be switched; the host name is always
// checked against the certificate.
#pragma once

#include <utility>

namespace cpr {

namespace ssl {

// Whether the server's certificate must chain to a trusted root (on by default).
class VerifyPeer {
public:
    VerifyPeer() = default;
    VerifyPeer(bool p_enabled) : enabled(p_enabled) {}
    explicit operator bool() const { return enabled; }

    bool enabled = true;
};

}  // namespace ssl

struct SslOptions {
    bool verify_peer = true;

    void SetOption(const ssl::VerifyPeer& option) { verify_peer = option.enabled; }
};

// cpr::Ssl(cpr::ssl::VerifyPeer{false}): the defaults with the given options applied.
template <typename... Options>
SslOptions Ssl(Options&&... options) {
    SslOptions ssl_options;
    (ssl_options.SetOption(std::forward<Options>(options)), ...);
    return ssl_options;
}

}  // namespace cpr
