// Packs files into the interface archive (ui_archive/format.h). Build-time code: failures throw
// std::runtime_error with a short message naming the path at fault.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ui_archive {

struct ArchiveFile {
    std::string path;  // relative, "/" between folders, ASCII
    std::vector<std::uint8_t> data;
};

// The regular files under root in table order: each folder's own files by name, then its
// subfolders by name, so the root's files come first.
std::vector<ArchiveFile> CollectFolder(const std::filesystem::path& root);

// One file from anywhere, under the given archive path. Throws when it cannot be read.
ArchiveFile ReadFile(std::string path, const std::filesystem::path& source);

// The archive of the files, in their order. Each file is LZF-compressed when that makes it
// smaller and stored otherwise. Throws for an empty or non-ASCII path, two paths that differ
// only in case, and more files, name-tree nodes or bytes than the format can address.
std::vector<std::uint8_t> PackArchive(const std::vector<ArchiveFile>& files);

}  // namespace ui_archive
