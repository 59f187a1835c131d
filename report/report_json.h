// The two request bodies of the report service, as compact JSON with keys in ascending order.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "report/bug_report.h"

// The report of a new bug: machine facts, the request's texts (the description XML-escaped)
// and the crash dump in Base64 ("attach-data" empty when the dump cannot be read). Throws
// std::runtime_error when the Base64 coder fails and the JSON library's error for a
// product_version that is not UTF-8.
std::string BuildReportJson(const BugReportRequest& request);

// The attachment of bug `bug_id`: the bytes of `archive` (an open file, read from its start)
// in Base64 with its file name; "attach-data" is empty when the file cannot be read whole.
std::string BuildAttachmentJson(std::uint32_t bug_id, const BugReportRequest& request,
                                const std::wstring& archive_name, HANDLE archive);

// <crash_info_dir_path>/<crash_uuid>.dmp
std::filesystem::path MakeDumpPath(const std::filesystem::path& crash_info_dir_path,
                                   const std::string& crash_uuid);
