#include "attachments.h"

#include <win_fs.h>

#include <optional>
#include <system_error>
#include <utility>

#include "common/path_conversion.h"
#include "send_bug_report.h"
#include "report_json.h"
#include "zip_writer.h"

namespace fs = std::filesystem;

namespace {

// The wide name through which the writer opens a file, or none for a name that is not UTF-8:
// its U+FFFD form would name another file or none.
std::optional<std::wstring> WideName(const fs::path& path) {
    std::wstring wide = PathToWide(path);
    if (WideToPath(wide).native() != path.native()) {
        return std::nullopt;
    }
    return wide;
}

std::uint32_t AddToArchive(ZipHandle& handle, const fs::path& file) {
    if (handle.kind != kZipHandleArchive) {
        return kZipWrongHandle;
    }
    const auto source = WideName(file);
    if (!source) {
        return kZipNoFile;  // as a file that cannot be opened: left out
    }
    return handle.writer->AddFile(PathToWide(file.filename()), *source);
}

}  // namespace

void SendAttachments(const BugReportRequest& request, std::uint32_t bug_id, bool verify_peer,
                     const std::string& user_agent) {
    std::vector<fs::path> paths;
    if (request.attach_logs) {
        CollectFilesRecursive(request.logs_dir_path, paths);
    }
    if (request.attach_screenshot) {
        paths.push_back(request.crash_info_dir_path / (request.crash_uuid + ".jpg"));
    }
    if (paths.empty()) {
        return;
    }

    const fs::path archive = request.crash_info_dir_path / (request.crash_uuid + ".zip");
    if (ZipFilesToArchive(archive, paths)) {
        SendAttachment(bug_id, request, request.use_production_server, archive, verify_peer,
                       user_agent);
    }

    // Whatever the zip and the upload gave: the log folder goes last, with what is left in it.
    paths.push_back(archive);
    paths.push_back(MakeDumpPath(request.crash_info_dir_path, request.crash_uuid));
    paths.push_back(request.logs_dir_path);
    RemovePaths(paths);
}

void CollectFilesRecursive(const fs::path& folder, std::vector<fs::path>& files) {
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        return;
    }
    // A folder that cannot be opened is an empty walk; errors while advancing throw.
    fs::recursive_directory_iterator entry(folder, fs::directory_options::skip_permission_denied,
                                           error);
    for (const fs::recursive_directory_iterator end; entry != end; ++entry) {
        std::error_code kind_error;
        if (entry->is_regular_file(kind_error)) {
            files.push_back(entry->path());
        }
    }
}

bool ZipFilesToArchive(const fs::path& archive, const std::vector<fs::path>& files) {
    std::error_code error;
    if (!fs::exists(archive.parent_path(), error)) {
        fs::create_directories(archive.parent_path(), error);
    }
    const auto name = WideName(archive);
    if (!name) {
        SetZipLastResult(kZipNoFile);  // as an archive that cannot be created
        return false;
    }
    auto handle = ZipWriter::Open(*name);
    if (!handle) {
        return false;
    }
    for (const auto& file : files) {
        // A file that cannot be added is left out; the archive is still made.
        SetZipLastResult(AddToArchive(*handle, file));
    }
    const std::uint32_t closed = ZipWriter::Close(std::move(handle));
    SetZipLastResult(closed);
    return closed == kZipOk;
}

void RemovePaths(const std::vector<fs::path>& paths) {
    for (const auto& path : paths) {
        std::error_code error;
        if (fs::is_regular_file(path, error)) {
            win_fs::remove(path, error);
        } else if (fs::is_directory(path, error)) {
            win_fs::remove_all(path, error);
        }
    }
}
