#include "report/upload.h"

#include <cpr/cpr.h>

#include <chrono>
#include <optional>
#include <string_view>
#include <utility>

#include "common/log_call.h"
#include "common/log_tag.h"
#include "internal_libraries/cpr-helper/src/proxies.h"
#include "report/endpoints.h"
#include "report/report_json.h"
#include "report/upload_testing.h"
#include "report/upload_watch.h"

namespace {

// The window waits on this thread for the whole exchange, so each upload is bounded by what it
// carries, whatever the service or a proxy does. 30 s to connect covers a name lookup, a few
// lost SYNs, the proxy's tunnel and the TLS handshake.
constexpr std::chrono::seconds kConnectTimeout{30};

constexpr UploadBounds kShippedBounds{
    // Below 1 KiB/s a dump's report would take the better part of an hour (2 MiB: 45 min), longer
    // than anyone watches a window that does not answer. A minute to judge it rides out a
    // link's hiccups, and is the idle limit of the usual reverse proxies and load balancers in
    // front of a web service: a silent service would not answer after it anyway.
    .floor_bytes_per_second = 1024,
    .floor_window = std::chrono::seconds(60),
    // The reply is a small JSON object. A minute from the body's last byte leaves the service
    // time to store the report, and a slow link time to carry what the sockets' buffers still
    // held of the body.
    .reply = std::chrono::seconds(60),
    // However it moves, the whole upload gets two minutes for connecting and replying plus its
    // body at 16 KiB/s, a slow but real link: a 2 MiB dump's report gets about five minutes.
    .deadline_base = std::chrono::minutes(2),
    .deadline_bytes_per_second = 16 * 1024,
};

// The service answers with a small JSON object; a reply larger than this after decoding is
// no reply, and is not held in memory.
constexpr std::size_t kMaxReplySize = 1024 * 1024;

// Replaced by tests only, before an upload starts.
UploadBounds g_bounds = kShippedBounds;

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
    UploadWatch watch(g_bounds, body.size(), UploadWatch::Clock::now());
    std::optional<std::string> bound_reached;
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
        session.SetWriteCallback(CollectInto(reply));
        session.SetProgressCallback(
            cpr::ProgressCallback([&](cpr::cpr_pf_arg_t, cpr::cpr_pf_arg_t received,
                                      cpr::cpr_pf_arg_t, cpr::cpr_pf_arg_t sent, std::intptr_t) {
                bound_reached = watch.Check(UploadWatch::Clock::now(), sent, received);
                return !bound_reached.has_value();
            }));
        response = session.Post();
    }

    if (response.error) {
        const std::string reason =
            reply.over_cap  ? "reply larger than " + std::to_string(kMaxReplySize) + " bytes"
            : bound_reached ? *bound_reached
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
    const UploadReply reply = PostUpload(
        UploadEndpoint::kAttachment, use_production_server,
        BuildAttachmentJson(bug_id, request, archive_name, archive), verify_peer, user_agent);
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

ScopedBounds::ScopedBounds(const UploadBounds& bounds) : previous_(g_bounds) { g_bounds = bounds; }

ScopedBounds::~ScopedBounds() { g_bounds = previous_; }

UploadBounds ShippedBounds() { return kShippedBounds; }

}  // namespace upload::testing
