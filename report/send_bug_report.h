// The two uploads to the report service. Both run on the caller's thread and return when the
// HTTP exchange has ended; neither logs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "bug_report.h"

// Posts the report to the production or staging service and reads the reply. True when the
// service answered 200 with a usable reply (a JSON object whose "id", if present, is a whole
// number of 32 bits or a boolean, and whose "message", if present and not null, {} or [], is a
// string) and the attachment step raised nothing; a failed zip or attachment upload does not
// make it false. `result` is written only after a 200. Failures while the request is prepared
// (the body, the session) are not caught.
bool SendBugReport(const BugReportRequest& request, BugReportResult& result);

// Posts `archive` as the attachment of bug `bug_id`; the reply is not examined.
void SendAttachment(std::uint32_t bug_id, const BugReportRequest& request,
                    bool use_production_server, const std::filesystem::path& archive,
                    bool verify_peer, const std::string& user_agent);
