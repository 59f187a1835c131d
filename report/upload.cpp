#include "upload.h"

#include <cpr/cpr.h>

#include <atomic>
#include <chrono>
#include <string_view>
#include <utility>

#include "common/log_call.h"
#include "common/log_tag.h"
#include "endpoints.h"
#include "proxies.h"
#include "report_json.h"
#include "upload_testing.h"

namespace {

// The window waits on this thread for the whole exchange, so a service or proxy that takes the
// connection and then falls silent must not hold it for good; one that is slow but moving
// must still get the dump. So only stalls are bounded: 30 s to connect (name lookup, a few
// lost SYNs, the proxy's tunnel and the TLS handshake), and less than a byte per second for a
// whole minute ends the transfer; a minute is also the idle limit of the usual reverse proxies
// and load balancers in front of a web service, so waiting longer would not bring a reply.
constexpr std::chrono::seconds kConnectTimeout{30};
constexpr std::int32_t kLowSpeedLimit = 1;  // bytes per second
constexpr std::int32_t kStallWindow = 60;   // seconds

// The service answers with a small JSON object; a reply larger than this after decoding is
// no reply, and is not held in memory.
constexpr std::size_t kMaxReplySize = 1024 * 1024;

std::atomic<std::int32_t> g_stall_window{kStallWindow};

cpr::Url UrlOf(UploadEndpoint endpoint, bool use_production_server) {
    const std::string base = use_production_server ? kProductionBaseUrl : kStagingBaseUrl;
    return cpr::Url{base + (endpoint == UploadEndpoint::kBug ? kBugPath : kAttachmentPath)};
}

// The program's proxy table is the whole route: the URL's scheme goes to the proxy that it
// names, or, when it names none, to "" (a direct connection), so that no proxy or bypass
// variable of the environment is consulted by the HTTP library.
cpr::Proxies RouteOf(const cpr::Url& url) {
    cpr::Proxies table = CprHelper::GetProxies(url);
    const std::string scheme = url.str().substr(0, url.str().find(':'));
    if (table.has(scheme)) {
        return table;
    }
    return cpr::Proxies{{scheme, ""}};
}

struct CappedText {
    std::string text;
    bool over_cap = false;
};

cpr::WriteCallback CollectInto(CappedText& reply) {
    return cpr::WriteCallback([&reply](const std::string_view& data, std::intptr_t) {
        if (data.size() > kMaxReplySize - reply.text.size()) {
            reply.over_cap = true;
            return false;
        }
        reply.text.append(data);
        return true;
    });
}

}  // namespace

UploadReply PostUpload(UploadEndpoint endpoint, bool use_production_server, std::string body,
                       bool verify_peer, const std::string& user_agent) {
    const cpr::Url url = UrlOf(endpoint, use_production_server);
    const cpr::Header header{{"User-Agent", user_agent}, {"Content-Type", "application/json"}};
    const cpr::SslOptions tls = cpr::Ssl(cpr::ssl::VerifyPeer{verify_peer});
    cpr::Proxies route = RouteOf(url);

    CappedText reply;
    cpr::Response response;
    {
        cpr::Session session;
        session.SetUrl(url);
        session.SetProxies(std::move(route));
        // The two requests set their body and TLS options in opposite orders; the request is
        // the same either way.
        if (endpoint == UploadEndpoint::kBug) {
            session.SetBody(cpr::Body{std::move(body)});
            session.SetSslOptions(tls);
        } else {
            session.SetSslOptions(tls);
            session.SetBody(cpr::Body{std::move(body)});
        }
        session.SetHeader(header);
        session.SetConnectTimeout(cpr::ConnectTimeout{kConnectTimeout});
        session.SetLowSpeed(cpr::LowSpeed{kLowSpeedLimit, g_stall_window.load()});
        session.SetWriteCallback(CollectInto(reply));
        response = session.Post();
    }

    if (response.error) {
        const std::string reason =
            reply.over_cap ? "reply larger than " + std::to_string(kMaxReplySize) + " bytes"
                           : response.error.message;
        LOG_AT(kLogTag, spdlog::level::err, "failed to upload. url={}. error={}", url.str(),
               reason);
        return {};
    }
    return {response.status_code, std::move(reply.text)};
}

bool SendAttachment(std::uint32_t bug_id, const BugReportRequest& request,
                    bool use_production_server, const std::wstring& archive_name, HANDLE archive,
                    bool verify_peer, const std::string& user_agent) {
    const UploadReply reply =
        PostUpload(UploadEndpoint::kAttachment, use_production_server,
                   BuildAttachmentJson(bug_id, request, archive_name, archive), verify_peer,
                   user_agent);
    if (reply.status_code >= 200 && reply.status_code < 300) {
        return true;
    }
    if (reply.status_code != 0) {  // a failure below HTTP is logged already
        LOG_AT(kLogTag, spdlog::level::err, "failed to send attachment. status={}",
               reply.status_code);
    }
    return false;
}

namespace upload::testing {

ScopedStallWindow::ScopedStallWindow(std::chrono::seconds window)
    : previous_(g_stall_window.exchange(static_cast<std::int32_t>(window.count()))) {}

ScopedStallWindow::~ScopedStallWindow() { g_stall_window.store(previous_); }

}  // namespace upload::testing
