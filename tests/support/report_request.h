// The report that the upload tests and the benchmarks send: one crash of one product, to the
// double's production URL. Only for programs that link the report library.
#pragma once

#include <filesystem>
#include <string>

#include "report/bug_report.h"

namespace test_support {

inline constexpr char kReportUserAgent[] = "Quorbelin-Velmora Antivirus-14.3.43577.3505";

inline BugReportRequest ReportRequest(const std::filesystem::path& crash_files,
                                      const std::filesystem::path& logs,
                                      const std::string& crash_uuid) {
    BugReportRequest request;
    request.product_name = L"Velmora Antivirus";
    request.product_version = "14.3.43577.3505";
    request.crash_info_dir_path = crash_files;
    request.logs_dir_path = logs;
    request.attach_logs = true;
    request.crash_uuid = crash_uuid;
    request.tester_email = L"user@example.com";
    request.description = L"it crashed";
    request.use_production_server = true;
    request.verify_peer = false;  // the double's certificate is self-signed
    request.user_agent = kReportUserAgent;
    return request;
}

}  // namespace test_support
