#include "report/send_bug_report.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <exception>
#include <limits>
#include <optional>
#include <string>

#include "report/attachments.h"
#include "report/file_names.h"
#include "report/report_json.h"
#include "report/upload.h"

namespace {

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
    const UploadReply reply =
        PostUpload(UploadEndpoint::kBug, request.use_production_server, BuildReportJson(request),
                   request.verify_peer, request.user_agent);
    if (reply.status_code != 200) {
        return false;
    }

    try {
        if (!ReadReply(reply.text, result)) {
            return false;
        }
        SendAttachments(request, result.id, request.verify_peer, request.user_agent);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}
