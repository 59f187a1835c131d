// The attachments of an accepted bug: the log files zipped into <crash_uuid>.zip in the
// crash-files folder, posted, and then deleted together with the archive, the dump and the log
// folder. Nothing here logs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "bug_report.h"

// Zips, posts and deletes as above. With nothing to attach nothing is zipped, posted or
// deleted. Deletion happens whatever the zip and the post gave; an exception (from the walk
// of the log folder or the attachment body) leaves before it, so nothing is deleted then.
void SendAttachments(const BugReportRequest& request, std::uint32_t bug_id, bool verify_peer,
                     const std::string& user_agent);

// Appends every regular file under `folder` in listing order, descending into subfolders as
// they are met (not through links; folders it may not read count as empty). A missing folder
// adds nothing. Throws std::filesystem::filesystem_error for any other error of the walk.
void CollectFilesRecursive(const std::filesystem::path& folder,
                           std::vector<std::filesystem::path>& files);

// Writes the files as flat entries named by their bare file names in UTF-8; a file that cannot
// be read, or whose name is not UTF-8 (it has no wide form to open it by), is left out. True when the archive was created and closed with result 0. Sets the zip
// writer's last result after each file and after closing.
bool ZipFilesToArchive(const std::filesystem::path& archive,
                       const std::vector<std::filesystem::path>& files);

// Deletes each path (a file, or a folder with its content) with Windows' sharing rules: a file
// held open without delete sharing, or named by bytes that are not UTF-8, stays, and the
// removal of its folder stops at it. Every failure is ignored.
void RemovePaths(const std::vector<std::filesystem::path>& paths);
