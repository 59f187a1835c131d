// The archive's bytes read back by hand, without the reader, so that a fault shared by the
// packer and the reader cannot hide.
#include "tools/ui_archive/reader.h"
#include "tools/ui_archive/writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t U16(const Bytes& bytes, std::size_t at) { return bytes[at] | (bytes[at + 1] << 8); }
std::uint32_t U32(const Bytes& bytes, std::size_t at) {
    return U16(bytes, at) | (U16(bytes, at + 2) << 16);
}

struct ParsedNode {
    std::uint32_t character, lower, equal, higher;
};

struct Parsed {
    std::vector<ParsedNode> nodes;
    struct Entry {
        std::uint32_t offset, stored, expanded;
    };
    std::vector<Entry> table;
    std::size_t data_start = 0;
};

Parsed Parse(const Bytes& archive) {
    Parsed parsed;
    EXPECT_EQ(std::string(archive.begin(), archive.begin() + 4), std::string("SAr\0", 4));
    const std::uint32_t node_count = U32(archive, 4);
    for (std::uint32_t index = 0; index < node_count; ++index) {
        const std::size_t at = 8 + 8 * index;
        parsed.nodes.push_back(
            {U16(archive, at), U16(archive, at + 2), U16(archive, at + 4), U16(archive, at + 6)});
    }
    const std::size_t table_at = 8 + 8 * node_count;
    const std::uint32_t file_count = U32(archive, table_at);
    for (std::uint32_t index = 0; index < file_count; ++index) {
        const std::size_t at = table_at + 4 + 12 * index;
        parsed.table.push_back({U32(archive, at), U32(archive, at + 4), U32(archive, at + 8)});
    }
    parsed.data_start = table_at + 4 + 12 * file_count;
    return parsed;
}

// Every path of the tree with its file number; checks on the way that each node's lower and
// higher subtrees hold only smaller and larger characters.
void Walk(const Parsed& parsed, std::uint32_t node, const std::string& prefix, std::uint32_t above,
          std::uint32_t below, std::map<std::string, std::uint32_t>& paths, std::size_t& visits) {
    if (node == 0xFFFF) {
        return;
    }
    ASSERT_LT(node, parsed.nodes.size());
    ++visits;
    const auto& current = parsed.nodes[node];
    EXPECT_GT(current.character + 1, above) << prefix;
    EXPECT_LT(current.character, below) << prefix;
    Walk(parsed, current.lower, prefix, above, current.character, paths, visits);
    Walk(parsed, current.higher, prefix, current.character + 1, below, paths, visits);
    if (current.character == 0) {
        paths.emplace(prefix, current.equal);
    } else {
        Walk(parsed, current.equal, prefix + static_cast<char>(current.character), 0, 0x10000,
             paths, visits);
    }
}

TEST(ArchiveLayout, NameTreeTableAndDataAreWhereTheFormatPutsThem) {
    const std::vector<ui_archive::ArchiveFile> files = {
        {"app.css", Bytes(600, 'c')},
        {"index.html", {'<', 'h', '>'}},
        {"Layout/LayoutBase/LayoutBase.js", Bytes(300, 'j')},
        {"layout/Logo.svg", {1, 2, 3, 4, 5, 6, 7, 8}},
        {"src/assets/empty", {}},
    };
    const Bytes archive = ui_archive::PackArchive(files);
    const Parsed parsed = Parse(archive);

    std::map<std::string, std::uint32_t> paths;
    std::size_t visits = 0;
    Walk(parsed, 0, "", 0, 0x10000, paths, visits);
    EXPECT_EQ(visits, parsed.nodes.size()) << "every node is reachable from node 0, once";
    std::map<std::string, std::uint32_t> expected;
    for (std::size_t index = 0; index < files.size(); ++index) {
        std::string folded = files[index].path;
        std::transform(folded.begin(), folded.end(), folded.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        expected.emplace(folded, static_cast<std::uint32_t>(index + 1));
    }
    EXPECT_EQ(paths, expected) << "lower-cased paths, file numbers counted from 1";

    ASSERT_EQ(parsed.table.size(), files.size());
    std::size_t offset = parsed.data_start;
    for (std::size_t index = 0; index < files.size(); ++index) {
        SCOPED_TRACE(files[index].path);
        const auto& entry = parsed.table[index];
        EXPECT_EQ(entry.offset, offset) << "back to back in table order";
        const bool compressed = entry.expanded != 0;
        EXPECT_EQ(compressed, files[index].data.size() >= 300);
        if (compressed) {
            EXPECT_EQ(entry.expanded, files[index].data.size());
        } else {
            EXPECT_EQ(entry.stored, files[index].data.size());
            EXPECT_TRUE(std::equal(files[index].data.begin(), files[index].data.end(),
                                   archive.begin() + entry.offset));
        }
        offset += entry.stored;
    }
    EXPECT_EQ(offset, archive.size()) << "the data ends the archive";
}

// A hand-made archive: one stored file "a" and one LZF file "b" ("xxxxx": a literal run and a
// back reference).
Bytes HandMade() {
    Bytes archive = {'S', 'A', 'r', 0, 4, 0, 0, 0};
    const std::uint16_t nodes[] = {'a', 0xFFFF, 1, 2,      0, 0xFFFF, 1, 0xFFFF,
                                   'b', 0xFFFF, 3, 0xFFFF, 0, 0xFFFF, 2, 0xFFFF};
    for (const auto word : nodes) {
        archive.push_back(static_cast<std::uint8_t>(word));
        archive.push_back(static_cast<std::uint8_t>(word >> 8));
    }
    const std::size_t data_start = archive.size() + 4 + 24;
    const std::uint32_t words[] = {2, static_cast<std::uint32_t>(data_start),     2,
                                   0, static_cast<std::uint32_t>(data_start + 2), 4,
                                   5};
    for (const auto word : words) {
        for (int shift = 0; shift < 32; shift += 8) {
            archive.push_back(static_cast<std::uint8_t>(word >> shift));
        }
    }
    const Bytes data = {'h', 'i', 0x00, 'x', 0x40, 0x00};  // "hi", then "x" + copy 4 from 1 back
    archive.insert(archive.end(), data.begin(), data.end());
    return archive;
}

TEST(ArchiveReader, ReadsAnArchiveMadeByHand) {
    const Bytes archive = HandMade();
    const auto reader = ui_archive::ArchiveReader::Open(archive);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->Find("A"), 0U);
    EXPECT_EQ(reader->Find("b"), 1U);
    EXPECT_EQ(reader->Expand(0), (Bytes{'h', 'i'}));
    EXPECT_EQ(reader->Expand(1), (Bytes{'x', 'x', 'x', 'x', 'x'}));
}

TEST(ArchiveReader, RefusesDamagedArchivesWithoutReadingOutsideThem) {
    const Bytes good = HandMade();
    for (std::size_t size = 0; size < good.size(); ++size) {
        SCOPED_TRACE(size);
        EXPECT_FALSE(ui_archive::ArchiveReader::Open(std::span(good.data(), size)));
    }
    struct Case {
        const char* name;
        std::size_t at;
        std::uint8_t value;
        bool opens;
        bool finds_b;
        bool expands_b;  // file 2 by its table index
    };
    const std::size_t table = 8 + 4 * 8 + 4;
    const Case kCases[] = {
        {"magic", 2, 'R', false, false, false},
        {"node count beyond the end", 7, 0x10, false, false, false},
        {"file count beyond the end", table - 1, 0x10, false, false, false},
        {"offset beyond the end", table + 12 + 1, 0x40, false, false, false},
        {"file number beyond the table", 8 + 3 * 8 + 4, 9, true, false, true},
        {"file number 0", 8 + 3 * 8 + 4, 0, true, false, true},
        {"a node leading back to the root", 8 + 2 * 8 + 6, 0, true, true, true},
        {"a node beyond the tree", 8 + 2 * 8 + 4, 7, true, false, true},
        {"expanded size larger than the data makes", table + 12 + 8, 6, true, true, false},
        {"expanded size larger than LZF can make", table + 12 + 10, 0x10, true, true, false},
        {"damaged LZF data", good.size() - 2, 0xE0, true, true, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        Bytes damaged = good;
        damaged[c.at] = c.value;
        const auto reader = ui_archive::ArchiveReader::Open(damaged);
        ASSERT_EQ(reader.has_value(), c.opens);
        if (!reader) {
            continue;
        }
        EXPECT_EQ(reader->Find("a"), 0U);
        EXPECT_EQ(reader->Find("b").has_value(), c.finds_b);
        EXPECT_FALSE(reader->Find("c")) << "ends even when the tree loops";
        EXPECT_EQ(reader->Expand(1).has_value(), c.expands_b);
    }
}

}  // namespace
