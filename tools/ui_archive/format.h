// The interface archive's layout, little-endian throughout:
//   "SAr\0", node count N (u32), N nodes of four u16 (character, lower, equal, higher),
//   file count F (u32), F table entries of three u32 (data offset from the archive's start,
//   stored size, expanded size), then the files' data back to back in table order.
// The nodes make a ternary search tree over the lower-cased paths, searched from node 0; a
// node with character 0 ends a path and its "equal" holds the file's number, counted from 1.
// Expanded size 0 means stored as is; otherwise the data is LZF and expands to exactly that.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ui_archive {

inline constexpr std::array<std::uint8_t, 4> kMagic = {'S', 'A', 'r', 0};
inline constexpr std::uint16_t kNoNode = 0xFFFF;
inline constexpr std::size_t kNodeSize = 8;
inline constexpr std::size_t kEntrySize = 12;

struct Node {
    std::uint16_t character = 0;
    std::uint16_t lower = kNoNode;
    std::uint16_t equal = kNoNode;
    std::uint16_t higher = kNoNode;
};

struct Entry {
    std::uint32_t offset = 0;
    std::uint32_t stored_size = 0;
    std::uint32_t expanded_size = 0;  // 0: stored
};

// Archive paths fold ASCII letters only; the packer takes ASCII paths only.
constexpr std::uint32_t FoldCase(std::uint32_t character) {
    return character >= 'A' && character <= 'Z' ? character + ('a' - 'A') : character;
}

}  // namespace ui_archive
