// The archive linked into the program against the interface folder it was packed from.
#include <interface_archive.h>
#include <ui_archive/reader.h>
#include <ui_archive/writer.h>

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

TEST(InterfaceArchive, HoldsEveryFileOfTheInterfaceFolder) {
    const auto reader = ui_archive::ArchiveReader::Open(Linked());
    ASSERT_TRUE(reader);
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(INTERFACE_FOLDER)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        ++files;
        const auto path = entry.path().lexically_relative(INTERFACE_FOLDER).generic_string();
        SCOPED_TRACE(path);
        std::string upper = path;
        for (auto& c : upper) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        const auto index = reader->Find(std::string_view(upper));
        ASSERT_TRUE(index);
        const auto expanded = reader->Expand(*index);
        ASSERT_TRUE(expanded);
        std::ifstream file(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> on_disk((std::istreambuf_iterator<char>(file)),
                                                std::istreambuf_iterator<char>());
        EXPECT_EQ(*expanded, on_disk);
    }
    EXPECT_GE(files, 5U);
    EXPECT_EQ(reader->FileCount(), files);
    // The build packed it with the same packer: packing again gives the same bytes.
    const auto packed = ui_archive::PackArchive(ui_archive::CollectFolder(INTERFACE_FOLDER));
    EXPECT_TRUE(std::equal(packed.begin(), packed.end(), Linked().begin(), Linked().end()));
}

// What the start page refers to, followed as an engine would: stylesheets, scripts, images,
// module imports and the files that scripts name (style sets, images, the dialog page and its
// component), each relative to the file that names it or, under src/, to the root.
TEST(InterfaceArchive, EveryFileTheStartPageRefersToIsThere) {
    const auto reader = ui_archive::ArchiveReader::Open(Linked());
    ASSERT_TRUE(reader);
    const std::regex reference(
        R"re((?:href|src)="([^"]+)"|(?:import|from)\s*\(?\s*"([^"]+)"|"([\w./-]+\.(?:css|svg|html|js))(?:#\w+)?")re");
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
                                                          : (*it)[3].str();
            if (target.find(':') != std::string::npos) {
                continue;  // another scheme, not the archive's
            }
            // Names under src/ are given from the interface's root (the window's ROOT_PATH).
            const auto base = target.starts_with("src/") ? std::filesystem::path() : folder;
            pending.push_back((base / target).lexically_normal().generic_string());
        }
    }
    // The crash window reaches every file of the interface folder, and nothing else.
    std::set<std::string> on_disk;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(INTERFACE_FOLDER)) {
        if (entry.is_regular_file()) {
            on_disk.insert(entry.path().lexically_relative(INTERFACE_FOLDER).generic_string());
        }
    }
    EXPECT_EQ(seen, on_disk);
    EXPECT_TRUE(seen.count("Layout/LayoutBase/Caption/CaptionBar/images/close.svg"));
}

}  // namespace
