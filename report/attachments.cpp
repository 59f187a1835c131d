#include "attachments.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <utility>

#include "common/path_conversion.h"
#include "common/text_conversion.h"
#include "file_names.h"
#include "upload.h"
#include "zip_writer.h"

namespace fs = std::filesystem;

namespace {

// The subfolder that holds `file`, reached from its root one bare name at a time.
std::optional<NoFollowFolder> SubfolderOf(const AttachedFile& file) {
    std::optional<NoFollowFolder> folder;
    for (std::size_t part = 0; part + 1 < file.names.size(); ++part) {
        NTSTATUS status = STATUS_SUCCESS;
        folder = (folder ? *folder : *file.root).OpenSubfolder(file.names[part], status);
        if (!folder) {
            return std::nullopt;
        }
    }
    return folder;
}

// Runs `use` with the folder that holds `file`; false when it cannot be reached.
template <typename Use>
bool WithFolderOf(const AttachedFile& file, Use use) {
    if (file.root == nullptr || file.names.empty()) {
        return false;
    }
    if (file.names.size() == 1) {
        use(*file.root);
        return true;
    }
    const auto folder = SubfolderOf(file);
    if (!folder) {
        return false;
    }
    use(*folder);
    return true;
}

// The file as the archive reads it, or an empty handle when it cannot be opened.
ScopedHandle OpenToZip(const AttachedFile& file) {
    ScopedHandle source;
    WithFolderOf(file, [&](const NoFollowFolder& folder) {
        // Read sharing only: a file that another handle writes stays out.
        source = folder.OpenFile(file.names.back(), GENERIC_READ, FILE_SHARE_READ, file.id);
    });
    return source;
}

// Every core but one packs entries ahead; the one left writes them.
unsigned PackingThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 1 ? cores - 1 : 0;
}

void Collect(const NoFollowFolder& folder, std::vector<std::wstring>& names,
             const NoFollowFolder& root, std::vector<AttachedFile>& files) {
    for (const auto& entry : folder.List()) {
        if (!IsBareFileName(entry.name) || (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            continue;  // left out, and left in place
        }
        names.push_back(entry.name);
        if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            files.push_back({&root, names, entry.id});
        } else {
            NTSTATUS status = STATUS_SUCCESS;
            const auto subfolder = folder.OpenSubfolder(entry.name, status);
            if (subfolder) {
                Collect(*subfolder, names, root, files);
            } else if (status != STATUS_ACCESS_DENIED && status != STATUS_NOT_A_DIRECTORY) {
                // A folder we may not read counts as empty, and one swapped for a link is
                // passed over; any other failure (it vanished, no handles left) ends the walk.
                throw std::system_error(static_cast<int>(status), std::system_category(),
                                        "failed to open a log subfolder");
            }
        }
        names.pop_back();
    }
}

// Everything `folder` holds, in listing order; false at the first entry that stays.
bool RemoveContent(const NoFollowFolder& folder) {
    std::vector<NoFollowFolder::Entry> entries;
    try {
        entries = folder.List();
    } catch (const std::system_error&) {
        return false;
    }
    for (const auto& entry : entries) {
        if (!IsBareFileName(entry.name)) {
            return false;  // no wide name leads back to it: it stays
        }
        const bool subfolder_entry =
            (entry.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            FILE_ATTRIBUTE_DIRECTORY;
        if (subfolder_entry) {
            NTSTATUS status = STATUS_SUCCESS;
            const auto subfolder = folder.OpenSubfolder(entry.name, status);
            if (!subfolder || !RemoveContent(*subfolder)) {
                return false;
            }
        }
        if (!folder.Remove(entry.name, entry.id)) {
            return false;
        }
    }
    return true;
}

}  // namespace

void SendAttachments(const BugReportRequest& request, std::uint32_t bug_id, bool verify_peer,
                     const std::string& user_agent) {
    if (!IsBareFileName(request.crash_uuid)) {
        return;  // it would name files outside the crash-files folder
    }
    std::optional<NoFollowFolder> logs;
    std::vector<AttachedFile> files;
    if (request.attach_logs) {
        logs = NoFollowFolder::Open(request.logs_dir_path);
        if (logs) {
            CollectFilesRecursive(*logs, files);
        }
    }
    const std::wstring uuid = Utf8ToUtf16(request.crash_uuid);
    std::optional<NoFollowFolder> crash_files = NoFollowFolder::Open(request.crash_info_dir_path);
    if (request.attach_screenshot) {
        files.push_back({crash_files ? &*crash_files : nullptr, {uuid + L".jpg"}, std::nullopt});
    }
    if (files.empty()) {
        return;
    }

    const fs::path archive = request.crash_info_dir_path / (request.crash_uuid + ".zip");
    if (ZipFilesToArchive(archive, files)) {
        SendAttachment(bug_id, request, request.use_production_server, archive, verify_peer,
                       user_agent);
    }

    // Whatever the zip and the upload gave: the log folder goes last, with what is left in it.
    RemoveFiles(files);
    if (!crash_files) {
        crash_files = NoFollowFolder::Open(request.crash_info_dir_path);  // made for the archive
    }
    if (crash_files) {
        crash_files->Remove(uuid + L".zip");
        crash_files->Remove(uuid + L".dmp");
    }
    if (logs) {
        RemoveFolderTree(*logs);
    }
}

void CollectFilesRecursive(const NoFollowFolder& folder, std::vector<AttachedFile>& files) {
    std::vector<std::wstring> names;
    Collect(folder, names, folder, files);
}

bool ZipFilesToArchive(const fs::path& archive, const std::vector<AttachedFile>& files) {
    std::error_code error;
    if (!fs::exists(archive.parent_path(), error)) {
        fs::create_directories(archive.parent_path(), error);
    }
    // The archive is made anew in the crash-files folder itself: whatever stands at its name
    // goes first (a link as itself), and the writer does not follow one planted after that.
    const auto folder = NoFollowFolder::Open(archive.parent_path());
    const std::wstring name = PathToWide(archive.filename());
    if (!folder || WideToPath(name) != archive.filename() || !IsBareFileName(name)) {
        SetZipLastResult(kZipNoFile);  // as an archive that cannot be created
        return false;
    }
    folder->Clear(name);
    auto handle = ZipWriter::Open(PathToWide(archive));
    if (!handle) {
        return false;
    }
    std::vector<ZipSource> sources;
    sources.reserve(files.size());
    for (const auto& file : files) {
        sources.push_back({file.names.back(), [&file] { return OpenToZip(file); }});
    }
    // A file that cannot be added is left out; the archive is still made.
    const auto results = handle->writer->AddFiles(sources, PackingThreads());
    if (!results.empty()) {
        SetZipLastResult(results.back());
    }
    const std::uint32_t closed = ZipWriter::Close(std::move(handle));
    SetZipLastResult(closed);
    return closed == kZipOk;
}

void RemoveFiles(const std::vector<AttachedFile>& files) {
    // The walk lists a subfolder's files one after another: the subfolder opened for the first
    // serves the next ones too, instead of being reached anew from the root for each.
    const AttachedFile* opened_for = nullptr;
    std::optional<NoFollowFolder> subfolder;
    const auto same_folder = [](const AttachedFile& a, const AttachedFile& b) {
        return a.root == b.root && a.names.size() == b.names.size() &&
               std::equal(a.names.begin(), a.names.end() - 1, b.names.begin());
    };
    for (const auto& file : files) {
        if (file.root == nullptr || file.names.empty()) {
            continue;
        }
        if (file.names.size() == 1) {
            file.root->Remove(file.names.back(), file.id);
            continue;
        }
        if (opened_for == nullptr || !same_folder(*opened_for, file)) {
            subfolder = SubfolderOf(file);
            opened_for = &file;
        }
        if (subfolder) {
            subfolder->Remove(file.names.back(), file.id);
        }
    }
}

bool RemoveFolderTree(const NoFollowFolder& folder) {
    return RemoveContent(folder) && folder.RemoveSelf();
}
