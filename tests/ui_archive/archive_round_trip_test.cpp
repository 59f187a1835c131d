#include "tools/ui_archive/reader.h"
#include "tools/ui_archive/writer.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

using ui_archive::ArchiveFile;
using ui_archive::ArchiveReader;
using Bytes = std::vector<std::uint8_t>;

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes Noise(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

std::string DeepPath() {
    std::string path;
    for (int level = 0; level < 40; ++level) {
        path += "Level" + std::to_string(level) + "/";
    }
    return path + "Leaf.JS";
}

// A folder on disk as the packer sees it: mixed-case names, an empty file, deep paths, data
// that compresses and data that does not.
class ArchiveRoundTrip : public ::testing::Test {
protected:
    void SetUp() override {
        files_ = {
            {"index.html", Text("<html><link rel=stylesheet href=app.css></html>")},
            {"App.CSS", Text(std::string(3000, 'a') + "body { color: red }")},
            {"empty.txt", {}},
            {"one.bin", {0x42}},
            {"Layout/LayoutBase/LayoutBase.js", Text("export class LayoutBase {}\n")},
            {"layout/layoutbase/caption/Caption.js", Text("export function Caption() {}\n")},
            {"images/noise.png", Noise(5000, 1)},
            {"ab", Text("prefix of abc")},
            {"abc", Text("longer")},
            {DeepPath(), Text("deep")},
        };
        for (int index = 0; index < 200; ++index) {
            files_.push_back({"src/common/item" + std::to_string(index * 7919 % 1000) + ".js",
                              Text("export const value = " + std::to_string(index) + ";\n")});
        }
        for (const auto& file : files_) {
            std::string content(file.data.begin(), file.data.end());
            test_support::WriteFile(folder_ / file.path, content);
        }
    }

    test_support::TempDir folder_;
    std::vector<ArchiveFile> files_;
};

TEST_F(ArchiveRoundTrip, EveryFileComesBackByItsPathInAnyCase) {
    const auto collected = ui_archive::CollectFolder(folder_.path());
    ASSERT_EQ(collected.size(), files_.size());
    const Bytes archive = ui_archive::PackArchive(collected);
    const auto reader = ArchiveReader::Open(archive);
    ASSERT_TRUE(reader);
    ASSERT_EQ(reader->FileCount(), files_.size());

    for (const auto& file : files_) {
        SCOPED_TRACE(file.path);
        std::string upper = file.path;
        for (auto& c : upper) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        const std::u16string wide(file.path.begin(), file.path.end());
        const std::wstring wider(upper.begin(), upper.end());
        const auto index = reader->Find(std::string_view(file.path));
        ASSERT_TRUE(index);
        EXPECT_EQ(reader->Find(std::string_view(upper)), index);
        EXPECT_EQ(reader->Find(std::u16string_view(wide)), index);
        EXPECT_EQ(reader->Find(std::wstring_view(wider)), index);
        EXPECT_EQ(collected[*index].path, file.path) << "the table index is the collected order";
        EXPECT_EQ(reader->Expand(*index), file.data);
    }
}

TEST_F(ArchiveRoundTrip, PathsThatNameNoFileAreNotFound) {
    const Bytes archive = ui_archive::PackArchive(ui_archive::CollectFolder(folder_.path()));
    const auto reader = ArchiveReader::Open(archive);
    ASSERT_TRUE(reader);
    const std::string kMissing[] = {
        "",
        "index.htm",
        "index.html2",
        "layout",
        "layout/",
        "/index.html",
        "index.html/",
        "a",
        "abcd",
        "Layout/LayoutBase",
        std::string("index.html\0x", 12),
        "i",
        "caf\xc3\xa9.js",
        "src/common/item1001.js",
    };
    for (const auto& path : kMissing) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(reader->Find(std::string_view(path)));
    }
    EXPECT_FALSE(reader->Find(std::wstring_view(L"index.html\U00010068")));
    EXPECT_FALSE(reader->Find(std::u16string_view(u"\u0130ndex.html"))) << "only ASCII folds";
    EXPECT_FALSE(reader->Expand(reader->FileCount()));
}

TEST(ArchivePacker, StoresWhatLzfCannotMakeSmaller) {
    struct Case {
        const char* name;
        Bytes data;
        bool compressed;
    };
    const Case kCases[] = {
        {"empty", {}, false},
        {"one byte", {7}, false},
        {"two equal bytes", {7, 7}, false},
        {"noise", Noise(4096, 2), false},
        {"repeated text", Text(std::string(4096, 'x')), true},
        {"markup",
         Text("<div class=\"row\"></div>\n<div class=\"row\"></div>\n<div class=\"row\">"), true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        const Bytes archive = ui_archive::PackArchive({{"file", c.data}});
        const auto reader = ArchiveReader::Open(archive);
        ASSERT_TRUE(reader);
        const auto entry = reader->EntryAt(0);
        if (c.compressed) {
            EXPECT_EQ(entry.expanded_size, c.data.size());
            EXPECT_LT(entry.stored_size, c.data.size());
        } else {
            EXPECT_EQ(entry.expanded_size, 0U);
            EXPECT_EQ(entry.stored_size, c.data.size());
        }
        EXPECT_EQ(reader->Expand(0), c.data);
    }
}

TEST(ArchivePacker, RefusesWhatTheFormatCannotHold) {
    struct Case {
        const char* name;
        std::vector<ArchiveFile> files;
        const char* message;
    };
    std::vector<ArchiveFile> too_many_nodes;
    for (int index = 0; index < 2000; ++index) {
        // Random 40-character names share little, so each needs about 40 nodes.
        const Bytes noise = Noise(40, static_cast<unsigned>(index));
        std::string name;
        for (const auto byte : noise) {
            name += static_cast<char>('a' + byte % 26);
        }
        too_many_nodes.push_back({name, {}});
    }
    const Case kCases[] = {
        {"same path but for case",
         {{"Index.html", {}}, {"index.HTML", {}}},
         "two interface files differ only in case: index.html"},
        {"empty path", {{"", {}}}, "empty path in the interface archive"},
        {"non-ASCII path",
         {{"caf\xc3\xa9.css", {}}},
         "interface file path is not ASCII: caf\xc3\xa9.css"},
        {"more than 65535 nodes", too_many_nodes,
         "too many paths for the interface archive's name tree"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        try {
            ui_archive::PackArchive(c.files);
            ADD_FAILURE() << "packed";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), c.message);
        }
    }
    EXPECT_THROW(ui_archive::CollectFolder("/no/such/folder"), std::runtime_error);
}

TEST(ArchivePacker, AnEmptyFolderMakesAnArchiveWithNothingInIt) {
    const test_support::TempDir folder;
    const Bytes archive = ui_archive::PackArchive(ui_archive::CollectFolder(folder.path()));
    EXPECT_EQ(archive, (Bytes{'S', 'A', 'r', 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    const auto reader = ArchiveReader::Open(archive);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->FileCount(), 0U);
    EXPECT_FALSE(reader->Find("index.html"));
}

}  // namespace
