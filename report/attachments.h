// The attachments of an accepted bug: the log files zipped into <crash_uuid>.zip in the
// crash-files folder and posted; once the service has taken the archive, the log files whose
// bytes it holds are deleted, with the folders that are left empty. The archive goes whatever
// happened, and the dump, which went with the report, goes too. A log file that did not reach
// the service (left out of the archive, or the archive not made or not delivered) stays.
// Every file is reached through its folder's handle and no link or other reparse point is
// followed: a link is left out and left in place, and a log folder that is a link, or lies
// under one, attaches and deletes nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/no_follow_folder.h"
#include "report/bug_report.h"

// A file to attach: its path of bare names under `root`, and the number the walk saw it by,
// so that a name that leads elsewhere later is neither read nor deleted.
struct AttachedFile {
    const NoFollowFolder* root = nullptr;
    std::vector<std::wstring> names;  // subfolders, then the file's own name
    std::optional<std::int64_t> id;
    // Set when the file's bytes went into the archive: the size it had then.
    std::optional<std::uint64_t> zipped_size;
};

// Zips, posts and deletes as above. With nothing to attach nothing is zipped, posted or
// deleted, and a crash identifier that is not a bare file name attaches and deletes nothing.
// An exception (from the walk of the log folder or the attachment body) leaves before any
// deletion but the archive's.
void SendAttachments(const BugReportRequest& request, std::uint32_t bug_id, bool verify_peer,
                     const std::string& user_agent);

// Appends every file under `folder` in listing order, descending into subfolders as they are
// met. Reparse points, names that are not bare file names (a backslash is one on this
// platform) and the folders it may not open are passed over. Throws std::system_error for any
// other error of the walk.
void CollectFilesRecursive(const NoFollowFolder& folder, std::vector<AttachedFile>& files);

// Writes the files as flat entries named by their bare names in UTF-8 into `archive`, an empty
// file opened for reading and writing, which stays open. A file that cannot be opened, is not a
// plain file with one link, or is no longer the file the walk saw, is left out; each file that
// went in gets its `zipped_size`. True when the archive was finished with result 0. Sets the
// zip writer's last result after the files and after closing.
bool ZipFilesToArchive(HANDLE archive, std::vector<AttachedFile>& files);

// Deletes each file that went into the archive through its folder, with Windows' sharing
// rules: a file held open without delete sharing, one that is no longer a plain file with one
// link, has another size than it had when zipped, or whose name leads elsewhere now, stays.
// Every failure is ignored.
void RemoveFiles(const std::vector<AttachedFile>& files);

// Deletes the empty real subfolders of `folder`, deepest first, and then `folder` itself when
// it is empty. True when the folder is gone.
bool RemoveEmptyFolders(const NoFollowFolder& folder);
