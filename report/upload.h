// The one place where the uploads to the report service meet HTTP: each request's session is
// made here from what the caller gives (endpoint, service, body, TLS, user agent), routed by
// the program's proxy table alone and bounded by what it carries, so that no service or proxy
// holds the caller longer than the body needs. Runs on the caller's thread and returns when the
// exchange has ended.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "report/bug_report.h"

enum class UploadEndpoint {
    kBug,         // the report: "/bug"
    kAttachment,  // an accepted bug's archive: "/attachment"
};

struct UploadReply {
    // The reply's HTTP status; 0 when the exchange failed below HTTP, a bound ended it (too
    // slow, no reply in time, past its deadline) or its reply was larger than any reply of the
    // service.
    long status_code = 0;
    std::string text;  // the reply's body, decoded; empty when status_code is 0
};

// Posts `body` (JSON) to the endpoint of the production or staging service with `user_agent`
// and peer verification as asked. The proxy lookup logs on its own account; a failure below
// HTTP or a bound that ended the exchange is logged here with its reason. Throws only what making
// the session throws.
UploadReply PostUpload(UploadEndpoint endpoint, bool use_production_server, std::string body,
                       bool verify_peer, const std::string& user_agent);

// Posts the archive `archive` (an open file, read from its start) under the name
// `archive_name` as the attachment of bug `bug_id`. True when the service took it (a 2xx
// reply); a refusal is logged with its status, a failure below HTTP as PostUpload logs it.
// Throws what building the attachment body throws.
bool SendAttachment(std::uint32_t bug_id, const BugReportRequest& request,
                    bool use_production_server, const std::wstring& archive_name, HANDLE archive,
                    bool verify_peer, const std::string& user_agent);
