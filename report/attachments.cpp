#include "report/attachments.h"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "common/text_conversion.h"
#include "report/file_names.h"
#include "report/upload.h"
#include "zip/zip_writer.h"

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
            files.push_back({&root, names, entry.id, std::nullopt});
        } else {
            NTSTATUS status = STATUS_SUCCESS;
            const auto subfolder = folder.OpenSubfolder(entry.name, status);
            if (subfolder) {
                Collect(*subfolder, names, root, files);
            } else if (status != STATUS_ACCESS_DENIED && status != STATUS_NOT_A_DIRECTORY) {
                // A folder we may not read counts as empty, and one swapped for a link is
                // passed over; any other failure (it vanished, no handles left) ends the walk.
                throw std::runtime_error(
                    fmt::format("failed to open a log subfolder. status=0x{:08X}",
                                static_cast<std::uint32_t>(status)));
            }
        }
        names.pop_back();
    }
}

// The archive, made anew in the crash-files folder: whatever stands at its name goes first
// (a link as itself; never a folder or a file with another name, nor one that another run
// holds open), and the file is created there, so nothing planted after that is written.
// Shared for reading only, so that nothing writes it while it is uploaded.
ScopedHandle CreateArchive(const NoFollowFolder& crash_files, const std::wstring& name) {
    if (!crash_files.Clear(name)) {
        return ScopedHandle();
    }
    NTSTATUS status = STATUS_SUCCESS;
    return crash_files.CreateNewFile(name, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                     status);
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
    const bool anything = !files.empty() || request.attach_screenshot;
    // The crash-files folder is made for the archive when it is missing.
    const auto crash_files = anything ? NoFollowFolder::Open(request.crash_info_dir_path,
                                                             NoFollowFolder::Missing::kCreate)
                                      : std::nullopt;
    if (request.attach_screenshot) {
        files.push_back(
            {crash_files ? &*crash_files : nullptr, {uuid + L".jpg"}, std::nullopt, std::nullopt});
    }
    if (files.empty()) {
        return;
    }

    const std::wstring archive_name = uuid + L".zip";
    const ScopedHandle archive =
        crash_files ? CreateArchive(*crash_files, archive_name) : ScopedHandle();
    bool delivered = false;
    try {
        if (archive && ZipFilesToArchive(archive.get(), files)) {
            delivered = SendAttachment(bug_id, request, request.use_production_server, archive_name,
                                       archive.get(), verify_peer, user_agent);
        }
    } catch (...) {
        DeleteThrough(archive.get());  // ours, whatever happened
        throw;
    }
    DeleteThrough(archive.get());

    // Only what the service holds is deleted: everything else stays for the next report.
    if (delivered) {
        RemoveFiles(files);
        if (logs) {
            RemoveEmptyFolders(*logs);
        }
    }
    // The dump went with the report.
    if (crash_files) {
        crash_files->Remove(uuid + L".dmp");
    }
}

void CollectFilesRecursive(const NoFollowFolder& folder, std::vector<AttachedFile>& files) {
    std::vector<std::wstring> names;
    Collect(folder, names, folder, files);
}

bool ZipFilesToArchive(HANDLE archive, std::vector<AttachedFile>& files) {
    auto handle = ZipWriter::Open(archive);
    if (!handle) {
        return false;
    }
    // Each opener runs once, on whichever thread reads its file, and writes its own slot.
    std::vector<std::optional<std::uint64_t>> opened_sizes(files.size());
    std::vector<ZipSource> sources;
    sources.reserve(files.size());
    for (std::size_t index = 0; index < files.size(); ++index) {
        sources.push_back({files[index].names.back(), [&files, &opened_sizes, index] {
                               ScopedHandle source = OpenToZip(files[index]);
                               if (const auto facts =
                                       source ? FactsOf(source.get()) : std::nullopt) {
                                   opened_sizes[index] = facts->size;
                               }
                               return source;
                           }});
    }
    // A file that cannot be added is left out; the archive is still made.
    const auto results = handle->writer->AddFiles(sources, PackingThreads());
    if (!results.empty()) {
        SetZipLastResult(results.back());
    }
    for (std::size_t index = 0; index < results.size() && index < files.size(); ++index) {
        if (results[index] == kZipOk) {
            files[index].zipped_size = opened_sizes[index];
        }
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
        if (file.root == nullptr || file.names.empty() || !file.zipped_size) {
            continue;
        }
        if (file.names.size() == 1) {
            file.root->Remove(file.names.back(), file.id, file.zipped_size);
            continue;
        }
        if (opened_for == nullptr || !same_folder(*opened_for, file)) {
            subfolder = SubfolderOf(file);
            opened_for = &file;
        }
        if (subfolder) {
            subfolder->Remove(file.names.back(), file.id, file.zipped_size);
        }
    }
}

bool RemoveEmptyFolders(const NoFollowFolder& folder) {
    std::vector<NoFollowFolder::Entry> entries;
    try {
        entries = folder.List();
    } catch (const std::system_error&) {
        return false;
    }
    for (const auto& entry : entries) {
        const bool subfolder_entry =
            (entry.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            FILE_ATTRIBUTE_DIRECTORY;
        if (!subfolder_entry || !IsBareFileName(entry.name)) {
            continue;
        }
        NTSTATUS status = STATUS_SUCCESS;
        if (const auto subfolder = folder.OpenSubfolder(entry.name, status)) {
            RemoveEmptyFolders(*subfolder);  // one that is not empty stays
        }
    }
    return folder.RemoveSelf();
}
