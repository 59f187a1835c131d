// The report the benchmarks send: one crash of one product, to the double's production URL.
#pragma once

#include <filesystem>

#include "bug_report.h"

namespace bench {

inline constexpr char kCrashUuid[] = "3f0c2b7e-9a41-4c55-8d2e-51b0f6a9c1d4";
inline constexpr char kUserAgent[] = "Quorbelin-Velmora Antivirus-14.3.43577.3505";

inline BugReportRequest ReportRequest(const std::filesystem::path& crash_files,
                                      const std::filesystem::path& logs) {
    BugReportRequest request;
    request.product_name = L"Velmora Antivirus";
    request.product_version = "14.3.43577.3505";
    request.crash_info_dir_path = crash_files;
    request.logs_dir_path = logs;
    request.attach_logs = true;
    request.crash_uuid = kCrashUuid;
    request.tester_email = L"user@example.com";
    request.description = L"it crashed";
    request.use_production_server = true;
    request.verify_peer = false;  // the double's certificate is self-signed
    request.user_agent = kUserAgent;
    return request;
}

}  // namespace bench
