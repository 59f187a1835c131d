#include "send_bug_report.h"

#include <cpr/cpr.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <exception>
#include <limits>
#include <optional>
#include <utility>

#include "attachments.h"
#include "endpoints.h"
#include "file_names.h"
#include "proxies.h"
#include "report_json.h"

namespace {

std::string BaseUrl(bool use_production_server) {
    return use_production_server ? kProductionBaseUrl : kStagingBaseUrl;
}

cpr::Header JsonHeaders(const std::string& user_agent) {
    return cpr::Header{{"User-Agent", user_agent}, {"Content-Type", "application/json"}};
}

cpr::SslOptions TlsOptions(bool verify_peer) { return cpr::Ssl(cpr::ssl::VerifyPeer{verify_peer}); }

// The session gets a proxy only when the table names one for the URL's own scheme; otherwise
// the HTTP library's defaults stay.
void SetProxiesForScheme(cpr::Session& session, const cpr::Url& url, cpr::Proxies proxies) {
    const std::string& text = url.str();
    if (proxies.has(text.substr(0, text.find(':')))) {
        session.SetProxies(std::move(proxies));
    }
}

// The bug number of a reply: 0 without "id", 1 or 0 for true or false. Nothing for any other
// value that is not a whole number of 32 bits: a fraction, a negative or a larger number
// would name another bug, and the attachments would go there.
std::optional<std::uint32_t> BugIdOf(const nlohmann::json& reply) {
    constexpr auto kLargest = std::numeric_limits<std::uint32_t>::max();
    const auto id = reply.find("id");
    if (id == reply.end()) {
        return 0u;
    }
    if (id->is_boolean()) {
        return id->get<bool>() ? 1u : 0u;
    }
    if (id->is_number_unsigned()) {
        const auto value = id->get<std::uint64_t>();
        return value <= kLargest ? std::optional(static_cast<std::uint32_t>(value)) : std::nullopt;
    }
    if (id->is_number_integer()) {  // only negatives and -0 come as signed
        const auto value = id->get<std::int64_t>();
        return value == 0 ? std::optional(0u) : std::nullopt;
    }
    if (id->is_number_float()) {
        const double value = id->get<double>();
        const bool whole = std::trunc(value) == value && value >= 0.0 && value <= kLargest;
        return whole ? std::optional(static_cast<std::uint32_t>(value)) : std::nullopt;
    }
    return std::nullopt;  // null, a string, an array or an object
}

// Reads the reply of a 200 into `result`: false when it is not usable. The id is stored
// before the message is looked at.
bool ReadReply(const std::string& text, BugReportResult& result) {
    const auto reply = nlohmann::json::parse(text);  // strict: throws on anything but JSON
    if (!reply.is_object()) {
        return false;
    }
    const auto id = BugIdOf(reply);
    if (!id) {
        return false;
    }
    result.id = *id;

    const auto message = reply.find("message");
    const bool none = message == reply.end() || message->is_null() ||
                      ((message->is_object() || message->is_array()) && message->empty());
    if (none) {
        return true;
    }
    if (!message->is_string()) {
        return false;
    }
    result.message = message->get<std::string>();
    return true;
}

}  // namespace

bool SendBugReport(const BugReportRequest& request, BugReportResult& result) {
    if (!IsBareFileName(request.crash_uuid)) {
        return false;  // it would name a dump and an archive outside the crash-files folder
    }
    const cpr::Url url{BaseUrl(request.use_production_server) + kBugPath};
    std::string body = BuildReportJson(request);
    const cpr::Header header = JsonHeaders(request.user_agent);
    const cpr::SslOptions tls = TlsOptions(request.verify_peer);
    cpr::Proxies proxies = CprHelper::GetProxies(url);

    cpr::Response response;
    {
        // Closed before the attachment step opens its own.
        cpr::Session session;
        session.SetUrl(url);
        SetProxiesForScheme(session, url, std::move(proxies));
        session.SetBody(cpr::Body{std::move(body)});
        session.SetSslOptions(tls);
        session.SetHeader(header);
        response = session.Post();
    }
    if (response.status_code != 200) {
        return false;
    }

    try {
        if (!ReadReply(response.text, result)) {
            return false;
        }
        SendAttachments(request, result.id, request.verify_peer, request.user_agent);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

void SendAttachment(std::uint32_t bug_id, const BugReportRequest& request,
                    bool use_production_server, const std::filesystem::path& archive,
                    bool verify_peer, const std::string& user_agent) {
    const cpr::Url url{BaseUrl(use_production_server) + kAttachmentPath};
    std::string body = BuildAttachmentJson(bug_id, request, archive);
    const cpr::Header header = JsonHeaders(user_agent);
    const cpr::SslOptions tls = TlsOptions(verify_peer);
    cpr::Proxies proxies = CprHelper::GetProxies(url);

    cpr::Session session;
    session.SetUrl(url);
    SetProxiesForScheme(session, url, std::move(proxies));
    session.SetSslOptions(tls);
    session.SetBody(cpr::Body{std::move(body)});
    session.SetHeader(header);
    session.Post();  // neither the status nor the reply matters here
}
