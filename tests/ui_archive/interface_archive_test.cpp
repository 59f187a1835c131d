// The archive linked into the program against the interface folder it was packed from.
#include "resources/interface_archive.h"
#include "tools/ui_archive/reader.h"
#include "tools/ui_archive/writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>

namespace {

std::span<const std::uint8_t> Linked() { return {kInterfaceArchive, kInterfaceArchiveSize}; }

// The fonts packed beside the folder's files: archive path and source file, as the build names
// them.
std::vector<std::pair<std::string, std::filesystem::path>> Fonts() {
    std::vector<std::pair<std::string, std::filesystem::path>> fonts;
    const std::string list = INTERFACE_FONTS;
    for (std::size_t at = 0; at < list.size();) {
        const auto end = std::min(list.find('|', at), list.size());
        const std::string item = list.substr(at, end - at);
        const auto equals = item.find('=');
        fonts.emplace_back(item.substr(0, equals), item.substr(equals + 1));
        at = end + 1;
    }
    return fonts;
}

std::vector<std::uint8_t> Bytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string Upper(std::string path) {
    for (auto& c : path) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return path;
}

TEST(InterfaceArchive, HoldsEveryFileOfTheInterfaceFolderAndItsFonts) {
    const auto reader = ui_archive::ArchiveReader::Open(Linked());
    ASSERT_TRUE(reader);
    std::vector<std::pair<std::string, std::filesystem::path>> expected = Fonts();
    ASSERT_EQ(expected.size(), 2U);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(INTERFACE_FOLDER)) {
        if (entry.is_regular_file()) {
            expected.emplace_back(
                entry.path().lexically_relative(INTERFACE_FOLDER).generic_string(), entry.path());
        }
    }
    for (const auto& [path, source] : expected) {
        SCOPED_TRACE(path);
        const auto index = reader->Find(std::string_view(Upper(path)));
        ASSERT_TRUE(index);
        const auto expanded = reader->Expand(*index);
        ASSERT_TRUE(expanded);
        EXPECT_EQ(*expanded, Bytes(source));
    }
    EXPECT_GE(expected.size(), 7U);
    EXPECT_EQ(reader->FileCount(), expected.size());
    // The build packed it with the same packer: packing again gives the same bytes.
    auto files = ui_archive::CollectFolder(INTERFACE_FOLDER);
    for (const auto& [path, source] : Fonts()) {
        files.push_back(ui_archive::ReadFile(path, source));
    }
    const auto packed = ui_archive::PackArchive(files);
    EXPECT_TRUE(std::equal(packed.begin(), packed.end(), Linked().begin(), Linked().end()));
}

// What the start page refers to, followed as an engine would: stylesheets, scripts, images,
// module imports, the files that style sheets name (fonts) and the files that scripts name
// (style sets, images, the dialog page and its component), each relative to the file that names
// it or, under src/, to the root.
TEST(InterfaceArchive, EveryFileTheStartPageRefersToIsThere) {
    const auto reader = ui_archive::ArchiveReader::Open(Linked());
    ASSERT_TRUE(reader);
    const std::regex reference(
        R"re((?:href|src)="([^"]+)"|(?:import|from)\s*\(?\s*"([^"]+)")re"
        R"re(|"([\w./-]+\.(?:css|svg|html|js))(?:#\w+)?"|url\(\s*"?([^")]+)"?\s*\))re");
    std::vector<std::string> pending = {"index.html"};
    std::set<std::string> seen;
    while (!pending.empty()) {
        const std::string path = pending.back();
        pending.pop_back();
        if (!seen.insert(path).second) {
            continue;
        }
        SCOPED_TRACE(path);
        const auto index = reader->Find(std::string_view(path));
        ASSERT_TRUE(index) << "referred to but missing";
        const auto bytes = reader->Expand(*index);
        ASSERT_TRUE(bytes);
        const std::string text(bytes->begin(), bytes->end());
        const auto folder = std::filesystem::path(path).parent_path();
        for (std::sregex_iterator it(text.begin(), text.end(), reference), end; it != end; ++it) {
            const std::string target = (*it)[1].matched   ? (*it)[1].str()
                                       : (*it)[2].matched ? (*it)[2].str()
                                       : (*it)[3].matched ? (*it)[3].str()
                                                          : (*it)[4].str();
            if (target.find(':') != std::string::npos) {
                continue;  // another scheme, not the archive's
            }
            // Names under src/ are given from the interface's root (the window's ROOT_PATH).
            const auto base = target.starts_with("src/") ? std::filesystem::path() : folder;
            pending.push_back((base / target).lexically_normal().generic_string());
        }
    }
    // The crash window reaches every file of the interface folder and every font, and nothing else.
    std::set<std::string> packed;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(INTERFACE_FOLDER)) {
        if (entry.is_regular_file()) {
            packed.insert(entry.path().lexically_relative(INTERFACE_FOLDER).generic_string());
        }
    }
    for (const auto& font : Fonts()) {
        packed.insert(font.first);
    }
    EXPECT_EQ(seen, packed);
    EXPECT_TRUE(seen.count("Layout/LayoutBase/Caption/CaptionBar/images/close.svg"));
    EXPECT_TRUE(seen.count("fonts/Roboto-Regular.ttf"));
}

}  // namespace
