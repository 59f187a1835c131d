// Reads the interface archive (ui_archive/format.h) in place: the memory block must outlive the
// reader. Every offset and index is checked, so a damaged block gives "not found" or no data,
// never a read outside it. Any thread; a reader is immutable after Open.
#pragma once

#include "tools/ui_archive/format.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace ui_archive {

class ArchiveReader {
public:
    // Empty when the block is not an archive: wrong magic, or counts or file data that reach
    // beyond its end.
    static std::optional<ArchiveReader> Open(std::span<const std::uint8_t> block);

    std::size_t FileCount() const { return file_count_; }

    // The table index of the file at path, compared without regard to ASCII case. Any text
    // with a zero or a character beyond 16 bits names nothing.
    template <typename Char>
    std::optional<std::size_t> Find(std::basic_string_view<Char> path) const;
    std::optional<std::size_t> Find(const char* path) const { return Find(std::string_view(path)); }

    Entry EntryAt(std::size_t index) const;
    // The file's bytes, expanded when compressed. Empty when they do not expand to the recorded
    // size.
    std::optional<std::vector<std::uint8_t>> Expand(std::size_t index) const;

private:
    ArchiveReader(std::span<const std::uint8_t> block, std::size_t node_count,
                  std::size_t file_count)
        : block_(block), node_count_(node_count), file_count_(file_count) {}

    Node NodeAt(std::size_t index) const;

    std::span<const std::uint8_t> block_;
    std::size_t node_count_;
    std::size_t file_count_;
};

template <typename Char>
std::optional<std::size_t> ArchiveReader::Find(std::basic_string_view<Char> path) const {
    std::size_t node = 0;
    std::size_t position = 0;
    // A sound tree visits each node at most once; more steps mean a damaged one.
    for (std::size_t steps = 0; node < node_count_ && steps < node_count_; ++steps) {
        std::uint32_t character = 0;
        if (position < path.size()) {
            character = static_cast<std::uint32_t>(path[position]);
            if (character == 0 || character > 0xFFFF) {
                return std::nullopt;
            }
            character = FoldCase(character);
        }
        const Node current = NodeAt(node);
        if (character < current.character) {
            node = current.lower;
        } else if (character > current.character) {
            node = current.higher;
        } else if (character == 0) {
            if (current.equal == 0 || current.equal > file_count_) {
                return std::nullopt;
            }
            return current.equal - 1;
        } else {
            node = current.equal;
            ++position;
        }
    }
    return std::nullopt;
}

}  // namespace ui_archive
