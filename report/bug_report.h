// The records that cross from the "Application" object to the crash report client. The client
// only reads the request; it writes the result only after the service has accepted the report.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

struct BugReportRequest {
    std::wstring product_name;
    std::string product_version;                // UTF-8, sent unchanged
    std::filesystem::path crash_info_dir_path;  // holds <crash_uuid>.dmp, receives the archive
    std::filesystem::path logs_dir_path;        // its files are the attachments
    bool attach_screenshot = false;             // <crash_uuid>.jpg in the crash-files folder
    bool attach_logs = false;
    std::string crash_uuid;  // UTF-8
    std::wstring tester_name;
    std::wstring tester_email;
    std::wstring description;
    bool use_production_server = false;  // false: the staging service
    bool verify_peer = true;             // false: the service's certificate is not checked
    std::string user_agent;              // UTF-8, the product identity string
};

struct BugReportResult {
    std::uint32_t id = 0;  // the new bug's identifier
    std::string message;   // UTF-8; left as the caller set it when the reply has none
};
