// One HTTP request over libcurl, configured step by step and then sent with Post. Defaults as
// cpr's: compressed replies accepted and decoded, certificates checked against the system's
// trusted roots, no timeout, redirects followed (at most 50), libcurl's own proxy rules unless
// a proxy is given for the URL's scheme. A proxy given for the scheme is the whole route: it
// serves every host (no bypass list of the environment applies), and an empty one means a
// direct connection (no proxy variable of the environment applies). A session is used by one
// thread at a time. The socket's send buffer is kept small, so that what the progress callback
// and the low-speed limit count as sent is what the peer has taken, give or take that buffer:
// a large one would take a whole body at once and then show a slow reader as a stall.
#pragma once

#include <memory>

#include "cpr/body.h"
#include "cpr/callback.h"
#include "cpr/cprtypes.h"
#include "cpr/low_speed.h"
#include "cpr/proxies.h"
#include "cpr/response.h"
#include "cpr/ssl_options.h"
#include "cpr/timeout.h"

namespace cpr {

class Session {
public:
    Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    Session(Session&&) noexcept;
    Session& operator=(Session&&) noexcept;
    ~Session();

    void SetUrl(const Url& url);
    void SetProxies(const Proxies& proxies);
    void SetProxies(Proxies&& proxies);
    void SetBody(const Body& body);
    void SetBody(Body&& body);
    void SetSslOptions(const SslOptions& options);
    void SetHeader(const Header& header);
    void SetConnectTimeout(const ConnectTimeout& timeout);
    void SetLowSpeed(const LowSpeed& low_speed);
    void SetWriteCallback(const WriteCallback& write);
    void SetProgressCallback(const ProgressCallback& progress);

    // Sends the request and waits for the whole reply. Never throws for a failed exchange:
    // that is a status of 0 with libcurl's text in error.message.
    Response Post();

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace cpr
