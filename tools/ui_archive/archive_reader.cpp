#include "tools/ui_archive/reader.h"

#include <lzf.h>

namespace ui_archive {
namespace {

constexpr std::size_t kCountSize = 4;

std::uint16_t ReadU16(std::span<const std::uint8_t> block, std::size_t at) {
    return static_cast<std::uint16_t>(block[at] | (block[at + 1] << 8));
}

std::uint32_t ReadU32(std::span<const std::uint8_t> block, std::size_t at) {
    return static_cast<std::uint32_t>(block[at]) |
           (static_cast<std::uint32_t>(block[at + 1]) << 8) |
           (static_cast<std::uint32_t>(block[at + 2]) << 16) |
           (static_cast<std::uint32_t>(block[at + 3]) << 24);
}

std::size_t NodesStart() { return kMagic.size() + kCountSize; }

std::size_t TableStart(std::size_t node_count) {
    return NodesStart() + node_count * kNodeSize + kCountSize;
}

// One LZF byte pair can stand for at most 264 bytes: a bound on what an entry may claim.
constexpr std::uint64_t kMostExpansion = 88;

}  // namespace

std::optional<ArchiveReader> ArchiveReader::Open(std::span<const std::uint8_t> block) {
    if (block.size() < NodesStart() || !std::equal(kMagic.begin(), kMagic.end(), block.begin())) {
        return std::nullopt;
    }
    // 64-bit sums: a damaged count must not wrap around.
    const std::uint64_t node_count = ReadU32(block, kMagic.size());
    if (NodesStart() + node_count * kNodeSize + kCountSize > block.size()) {
        return std::nullopt;
    }
    const std::uint64_t file_count = ReadU32(block, TableStart(node_count) - kCountSize);
    if (TableStart(node_count) + file_count * kEntrySize > block.size()) {
        return std::nullopt;
    }
    const ArchiveReader reader(block, node_count, file_count);
    for (std::size_t index = 0; index < file_count; ++index) {
        const Entry entry = reader.EntryAt(index);
        if (std::uint64_t{entry.offset} + entry.stored_size > block.size()) {
            return std::nullopt;
        }
    }
    return reader;
}

Node ArchiveReader::NodeAt(std::size_t index) const {
    const std::size_t at = NodesStart() + index * kNodeSize;
    return {ReadU16(block_, at), ReadU16(block_, at + 2), ReadU16(block_, at + 4),
            ReadU16(block_, at + 6)};
}

Entry ArchiveReader::EntryAt(std::size_t index) const {
    const std::size_t at = TableStart(node_count_) + index * kEntrySize;
    return {ReadU32(block_, at), ReadU32(block_, at + 4), ReadU32(block_, at + 8)};
}

std::optional<std::vector<std::uint8_t>> ArchiveReader::Expand(std::size_t index) const {
    if (index >= file_count_) {
        return std::nullopt;
    }
    const Entry entry = EntryAt(index);
    const auto stored = block_.subspan(entry.offset, entry.stored_size);
    if (entry.expanded_size == 0) {
        return std::vector<std::uint8_t>(stored.begin(), stored.end());
    }
    if (entry.expanded_size > kMostExpansion * entry.stored_size) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> expanded(entry.expanded_size);
    const unsigned int size =
        lzf_decompress(stored.data(), entry.stored_size, expanded.data(), entry.expanded_size);
    if (size != entry.expanded_size) {
        return std::nullopt;
    }
    return expanded;
}

}  // namespace ui_archive
