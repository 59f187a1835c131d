#include "tools/ui_archive/format.h"
#include "tools/ui_archive/writer.h"

#include <lzf.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace ui_archive {
namespace {

namespace fs = std::filesystem;

// Node indexes are 16 bits and 0xFFFF means "no node"; file numbers share the same words.
constexpr std::size_t kMostNodes = kNoNode;
constexpr std::size_t kMostFiles = kNoNode - 1;

std::string FoldedPath(const std::string& path) {
    if (path.empty()) {
        throw std::runtime_error("empty path in the interface archive");
    }
    std::string folded;
    for (const char c : path) {
        const auto character = static_cast<unsigned char>(c);
        if (character == 0 || character > 0x7F) {
            throw std::runtime_error("interface file path is not ASCII: " + path);
        }
        folded += static_cast<char>(FoldCase(character));
    }
    return folded;
}

class NameTree {
public:
    void Insert(std::string_view key, std::uint16_t number) {
        if (nodes_.empty()) {
            Add(Character(key, 0));
        }
        std::size_t node = 0;
        std::size_t position = 0;
        for (;;) {
            const std::uint16_t character = Character(key, position);
            if (character == 0 && nodes_[node].character == 0) {
                nodes_[node].equal = number;
                return;
            }
            std::uint16_t Node::*link = &Node::equal;
            if (character < nodes_[node].character) {
                link = &Node::lower;
            } else if (character > nodes_[node].character) {
                link = &Node::higher;
            } else {
                ++position;
            }
            if (nodes_[node].*link == kNoNode) {
                const std::uint16_t added = Add(Character(key, position));
                nodes_[node].*link = added;
            }
            node = nodes_[node].*link;
        }
    }

    const std::vector<Node>& nodes() const { return nodes_; }

private:
    static std::uint16_t Character(std::string_view key, std::size_t position) {
        return position < key.size() ? static_cast<unsigned char>(key[position]) : 0;
    }

    std::uint16_t Add(std::uint16_t character) {
        if (nodes_.size() >= kMostNodes) {
            throw std::runtime_error("too many paths for the interface archive's name tree");
        }
        nodes_.push_back({character, kNoNode, kNoNode, kNoNode});
        return static_cast<std::uint16_t>(nodes_.size() - 1);
    }

    std::vector<Node> nodes_;
};

struct Key {
    std::string folded;
    std::uint16_t number;  // from 1
};

// Sorted keys go in middle first, so the tree stays shallow.
void InsertBalanced(NameTree& tree, const std::vector<Key>& keys, std::size_t begin,
                    std::size_t end) {
    if (begin >= end) {
        return;
    }
    const std::size_t middle = begin + (end - begin) / 2;
    tree.Insert(keys[middle].folded, keys[middle].number);
    InsertBalanced(tree, keys, begin, middle);
    InsertBalanced(tree, keys, middle + 1, end);
}

NameTree BuildTree(const std::vector<ArchiveFile>& files) {
    std::vector<Key> keys;
    keys.reserve(files.size());
    for (std::size_t index = 0; index < files.size(); ++index) {
        keys.push_back({FoldedPath(files[index].path), static_cast<std::uint16_t>(index + 1)});
    }
    std::sort(keys.begin(), keys.end(),
              [](const Key& a, const Key& b) { return a.folded < b.folded; });
    const auto twin = std::adjacent_find(
        keys.begin(), keys.end(), [](const Key& a, const Key& b) { return a.folded == b.folded; });
    if (twin != keys.end()) {
        throw std::runtime_error("two interface files differ only in case: " + twin->folded);
    }
    NameTree tree;
    InsertBalanced(tree, keys, 0, keys.size());
    return tree;
}

// The LZF form when it is smaller than the file, else nothing.
std::optional<std::vector<std::uint8_t>> Compress(const std::vector<std::uint8_t>& data) {
    if (data.size() < 2) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> compressed(data.size() - 1);
    const unsigned int size =
        lzf_compress(data.data(), static_cast<unsigned int>(data.size()), compressed.data(),
                     static_cast<unsigned int>(compressed.size()));
    if (size == 0) {
        return std::nullopt;
    }
    compressed.resize(size);
    return compressed;
}

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint64_t value) {
    if (value > std::numeric_limits<std::uint32_t>::max()) {
        throw std::runtime_error("interface archive larger than 4 GiB");
    }
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(file)),
                                   std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof()) {
        throw std::runtime_error("cannot read interface file " + path.string());
    }
    return data;
}

void CollectInto(const fs::path& root, const fs::path& folder, std::vector<ArchiveFile>& files) {
    std::vector<fs::path> own_files;
    std::vector<fs::path> subfolders;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_directory()) {
            subfolders.push_back(entry.path());
        } else if (entry.is_regular_file()) {
            own_files.push_back(entry.path());
        }
    }
    std::sort(own_files.begin(), own_files.end());
    std::sort(subfolders.begin(), subfolders.end());
    for (const auto& file : own_files) {
        files.push_back({fs::relative(file, root).generic_string(), ReadBytes(file)});
    }
    for (const auto& subfolder : subfolders) {
        CollectInto(root, subfolder, files);
    }
}

}  // namespace

std::vector<ArchiveFile> CollectFolder(const fs::path& root) {
    if (!fs::is_directory(root)) {
        throw std::runtime_error("no interface folder at " + root.string());
    }
    std::vector<ArchiveFile> files;
    CollectInto(root, root, files);
    return files;
}

ArchiveFile ReadFile(std::string path, const fs::path& source) {
    return {std::move(path), ReadBytes(source)};
}

std::vector<std::uint8_t> PackArchive(const std::vector<ArchiveFile>& files) {
    if (files.size() > kMostFiles) {
        throw std::runtime_error("too many files for the interface archive");
    }
    const NameTree tree = BuildTree(files);

    std::vector<std::uint8_t> archive(kMagic.begin(), kMagic.end());
    PutU32(archive, tree.nodes().size());
    for (const Node& node : tree.nodes()) {
        PutU16(archive, node.character);
        PutU16(archive, node.lower);
        PutU16(archive, node.equal);
        PutU16(archive, node.higher);
    }
    PutU32(archive, files.size());

    std::vector<std::uint8_t> data;
    std::uint64_t offset = archive.size() + files.size() * kEntrySize;
    for (const auto& file : files) {
        const auto compressed = Compress(file.data);
        const auto& stored = compressed ? *compressed : file.data;
        PutU32(archive, offset);
        PutU32(archive, stored.size());
        PutU32(archive, compressed ? file.data.size() : 0);
        data.insert(data.end(), stored.begin(), stored.end());
        offset += stored.size();
    }
    if (offset > std::numeric_limits<std::uint32_t>::max()) {
        throw std::runtime_error("interface archive larger than 4 GiB");
    }
    archive.insert(archive.end(), data.begin(), data.end());
    return archive;
}

}  // namespace ui_archive
