// The report to the service and the reading of its reply. Runs on the caller's thread and
// returns when the exchanges (the report's and its attachment's) have ended.
#pragma once

#include "report/bug_report.h"

// Posts the report to the production or staging service and reads the reply. True when the
// service answered 200 with a usable reply (a JSON object whose "id", if present, is a whole
// number of 32 bits or a boolean, and whose "message", if present and not null, {} or [], is a
// string) and the attachment step raised nothing; a failed zip or attachment upload does not
// make it false. A transfer that stalls, or a reply over the size cap (upload.h), is no
// reply: false. `result` is written only after a 200. Failures while the request is prepared (the
// body, the session) are not caught.
bool SendBugReport(const BugReportRequest& request, BugReportResult& result);
