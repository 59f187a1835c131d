// The attachments of an accepted bug: the log files zipped into <crash_uuid>.zip in the
// crash-files folder, posted, and then deleted together with the archive, the dump and the log
// folder. Every file is reached through its folder's handle and no link or other reparse point
// is followed: a link is left out and left in place, and a log folder that is a link attaches
// and deletes nothing. Nothing here logs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bug_report.h"
#include "no_follow_folder.h"

// A file to attach: its path of bare names under `root`, and the number the walk saw it by,
// so that a name that leads elsewhere later is neither read nor deleted.
struct AttachedFile {
    const NoFollowFolder* root = nullptr;
    std::vector<std::wstring> names;  // subfolders, then the file's own name
    std::optional<std::int64_t> id;
};

// Zips, posts and deletes as above. With nothing to attach nothing is zipped, posted or
// deleted, and a crash identifier that is not a bare file name attaches and deletes nothing.
// Deletion happens whatever the zip and the post gave; an exception (from the walk of the log
// folder or the attachment body) leaves before it, so nothing is deleted then.
void SendAttachments(const BugReportRequest& request, std::uint32_t bug_id, bool verify_peer,
                     const std::string& user_agent);

// Appends every file under `folder` in listing order, descending into subfolders as they are
// met. Reparse points, names that are not bare file names (a backslash is one on this
// platform) and the folders it may not open are passed over. Throws std::system_error for any
// other error of the walk.
void CollectFilesRecursive(const NoFollowFolder& folder, std::vector<AttachedFile>& files);

// Writes the files as flat entries named by their bare names in UTF-8; a file that cannot be
// opened, or is no longer the file the walk saw, is left out. True when the archive was
// created and closed with result 0. Sets the zip writer's last result after each file and
// after closing.
bool ZipFilesToArchive(const std::filesystem::path& archive,
                       const std::vector<AttachedFile>& files);

// Deletes each file through its folder, with Windows' sharing rules: a file held open without
// delete sharing, a reparse point or a name that leads elsewhere now stays. Every failure is
// ignored.
void RemoveFiles(const std::vector<AttachedFile>& files);

// Deletes what `folder` holds, entry by entry in listing order and a subfolder with its
// content, then the folder itself. Stops at the first entry it cannot delete (a reparse point
// among them): that entry, those not yet reached and the folder stay. True when all is gone.
bool RemoveFolderTree(const NoFollowFolder& folder);
