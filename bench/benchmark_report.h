// The crash the benchmarks report, and its request.
#pragma once

#include <filesystem>

#include "report/bug_report.h"
#include "tests/support/report_request.h"

namespace bench {

inline constexpr char kCrashUuid[] = "3f0c2b7e-9a41-4c55-8d2e-51b0f6a9c1d4";
inline constexpr const char* kUserAgent = test_support::kReportUserAgent;

inline BugReportRequest ReportRequest(const std::filesystem::path& crash_files,
                                      const std::filesystem::path& logs) {
    return test_support::ReportRequest(crash_files, logs, kCrashUuid);
}

}  // namespace bench
