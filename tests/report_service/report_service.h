// Runs the report-service double (report_service.py) for one test: HTTPS on loopback on a
// production and a staging port, replies chosen by the test, every request recorded.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/support/background_process.h"
#include "tests/support/loopback_ports.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace test_support {

struct ServiceReply {
    ServiceReply(int p_status = 200, std::string p_body = "{}", bool p_gzip = false,
                 std::string p_location = {})
        : status(p_status),
          body(std::move(p_body)),
          gzip(p_gzip),
          location(std::move(p_location)) {}

    int status;
    std::string body;
    bool gzip;             // sent with "Content-Encoding: gzip"
    std::string location;  // not empty: sent as the Location header
    // Reads and records the request, then keeps the connection open without a byte in reply
    // until the double ends.
    bool stall = false;
    // Not 0: the headers go out at once, the body a byte at a time with this pause after each.
    std::chrono::milliseconds trickle{0};
    // With a trickle: a chunked body that never ends, the body's bytes over and over.
    bool endless = false;
    // Not 0: the request's body is read at this rate, as a slow link would carry it.
    int read_bytes_per_second = 0;
};

struct RecordedRequest {
    std::string path;  // "/api/bug"
    int port = 0;
    std::string method;
    std::vector<std::pair<std::string, std::string>> headers;  // as they arrived
    std::string body;

    // The first header of that name, compared without regard to case.
    std::optional<std::string> Header(std::string_view name) const;
};

enum class CertificateFor {
    kLoopback,   // 127.0.0.1 and localhost, self-signed
    kOtherHost,  // a host name that is not the one the client asks for
};

struct ReportServiceOptions {
    // 0: any free port. A fixed port is locked machine-wide while the double runs, so that
    // test runs of other clones or build folders wait for it rather than collide.
    int production_port = 0;
    int staging_port = 0;
    CertificateFor certificate = CertificateFor::kLoopback;
    // How long the double tries again to bind a fixed port that another program holds once it
    // is locked: longer than a connection's TIME_WAIT there (60 s).
    std::chrono::seconds bind_patience{90};
};

class ReportService {
public:
    // Starts the double and waits until both ports listen; throws std::runtime_error otherwise,
    // with what the double said.
    explicit ReportService(const ReportServiceOptions& options = {});
    ReportService(const ReportService&) = delete;
    ReportService& operator=(const ReportService&) = delete;
    ~ReportService();

    int production_port() const { return production_port_; }
    int staging_port() const { return staging_port_; }
    // "https://127.0.0.1:<port>/api".
    static std::string BaseUrl(int port);

    // The reply to the following requests of one endpoint: "bug" or "attachment".
    void SetReply(std::string_view endpoint, const ServiceReply& reply);

    // Every request received so far, in the order of arrival.
    std::vector<RecordedRequest> Requests() const;

    // Holds the replies to the following requests of one endpoint until Release, so that a test
    // can act while the client waits for one; the double answers anyway once `limit` has passed.
    void HoldReplies(std::string_view endpoint,
                     std::chrono::seconds limit = std::chrono::seconds(60));
    // Waits until a request of the held endpoint is recorded and its reply held; false when
    // none was within `timeout` or the double has ended.
    bool WaitUntilHeld(std::string_view endpoint,
                       std::chrono::milliseconds timeout = std::chrono::seconds(120)) const;
    // Lets the held replies of the endpoint, and any later ones, go.
    void Release(std::string_view endpoint);
    // Whether a held reply went because its limit ran out rather than through Release.
    bool HoldExpired(std::string_view endpoint) const;

private:
    TempDir state_;
    std::unique_ptr<BackgroundProcess> process_;
    int production_port_ = 0;
    int staging_port_ = 0;
};

// Takes the machine-wide locks of fixed ports that the double takes before it binds them (the
// lock files /tmp/tallorin-port-<port>.lock), for a test that needs nothing to listen there;
// waits up to ten minutes for another run's hold, then throws std::runtime_error.
class FixedPortsHeld {
public:
    explicit FixedPortsHeld(std::vector<int> ports);
    FixedPortsHeld(const FixedPortsHeld&) = delete;
    FixedPortsHeld& operator=(const FixedPortsHeld&) = delete;
    ~FixedPortsHeld();

private:
    void Release();

    std::vector<int> descriptors_;
};

// Keeps libcurl's own proxy rules (the https_proxy and all_proxy variables) from sending
// loopback requests elsewhere while it lives.
class DirectConnections {
private:
    ScopedEnv https_proxy_{"https_proxy", std::nullopt};
    ScopedEnv https_proxy_upper_{"HTTPS_PROXY", std::nullopt};
    ScopedEnv all_proxy_{"all_proxy", std::nullopt};
    ScopedEnv all_proxy_upper_{"ALL_PROXY", std::nullopt};
};

// The port of an "https://host:port/..." URL; 443 without one.
int PortOfUrl(std::string_view url);

// Why the double cannot stand in for a build's two base URLs, or nothing when it can: both
// must read "https://127.0.0.1:<port>/..." and name two different ports. Tests that need the
// build's own URLs skip with this reason.
std::optional<std::string> WhyNotOnLoopback(std::string_view production_url,
                                            std::string_view staging_url);

// The double on the ports of the build's two base URLs.
ReportServiceOptions OnPortsOf(std::string_view production_url, std::string_view staging_url);

// The requests of one endpoint path ("/api/attachment") among `requests`, in their order.
std::vector<RecordedRequest> RequestsTo(const std::vector<RecordedRequest>& requests,
                                        const std::string& path);

// The bytes of a Base64 text, as the report and attachment bodies carry files.
std::string DecodeBase64(const std::string& text);

}  // namespace test_support
