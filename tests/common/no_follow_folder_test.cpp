// Each guard of the folder walk and of the file opens has a case here that fails when that
// guard alone is removed. The links are real symbolic links, which the platform layer reports
// as Windows reports a junction or a directory link (a folder that is a reparse point).
#include "common/no_follow_folder.h"

#include <gtest/gtest.h>

#include <platform/testing.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "common/path_conversion.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Missing = NoFollowFolder::Missing;

// The trusted roots are the platform's special folders under PLATFORM_ROOT; "outside" is a
// folder beside them that nothing may touch.
class NoFollowFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(data_);
        fs::create_directories(root_ / "AppData" / "Roaming");
        fs::create_directories(outside_);
        test_support::WriteFile(outside_ / "secret.log", "outside");
    }

    std::string Read(const fs::path& file) const { return test_support::ReadFile(file); }

    test_support::TempDir root_;
    test_support::ScopedEnv platform_root_{"PLATFORM_ROOT", root_.path().string()};
    fs::path data_ = root_ / "ProgramData";
    fs::path outside_ = root_ / "outside";
};

TEST_F(NoFollowFolderTest, ALinkAnywhereOnTheWayIsNoFolder) {
    fs::create_directories(data_ / "maker" / "product" / "logs");
    fs::create_directories(outside_ / "product" / "logs");
    fs::create_directory_symlink(outside_, data_ / "maker-link");
    fs::create_directory_symlink(outside_ / "product", data_ / "maker" / "product-link");
    fs::create_directory_symlink(outside_ / "product" / "logs", data_ / "maker" / "logs-link");
    fs::create_directory_symlink(data_ / "nowhere", data_ / "dangling");
    test_support::WriteFile(data_ / "file", "x");
    fs::create_directories(data_ / "\xef\xbf\xbd");  // U+FFFD, which a name not in UTF-8 turns into
    const struct {
        fs::path path;
        bool opens;
    } cases[] = {
        {data_ / "maker" / "product" / "logs", true},
        {data_, true},                                       // the trusted root itself
        {data_ / "maker-link" / "product" / "logs", false},  // a link at the top
        {data_ / "maker" / "product-link" / "logs", false},  // one folder higher
        {data_ / "maker" / "logs-link", false},              // the last name
        {data_ / "dangling", false},
        {data_ / "file", false},
        {data_ / "missing", false},
        {data_ / "maker" / ".." / "maker", false},
        {data_ / "\xff", false},  // no wide name leads back to it
        {fs::path("relative") / "path", false},
        {outside_ / "product" / "logs", true},  // outside the special folders: from "/" down
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.path);
        EXPECT_EQ(NoFollowFolder::Open(each.path).has_value(), each.opens);
    }

    // A special folder that is no folder by the time it is opened is none, though its path is
    // followed as the system gives it.
    const fs::path roaming = root_ / "AppData" / "Roaming";
    platform::testing::BeforeCall("CreateFileW", roaming.string(), [roaming] {
        fs::remove(roaming);
        test_support::WriteFile(roaming, "x");
    });
    EXPECT_FALSE(NoFollowFolder::Open(roaming));
    platform::testing::ClearBeforeCalls();
}

TEST_F(NoFollowFolderTest, MissingFoldersAreMadeInsideTheFolderAbove) {
    const auto made = NoFollowFolder::Open(data_ / "maker" / "product" / "logs", Missing::kCreate);
    ASSERT_TRUE(made);
    EXPECT_TRUE(fs::is_directory(data_ / "maker" / "product" / "logs"));

    // One that another program makes between the look and the making is opened all the same.
    auto calls = std::make_shared<int>(0);
    platform::testing::BeforeCall(
        "NtCreateFile", (data_ / "raced").string(),
        [&, calls] {
            if (++*calls == 2) {  // not there when looked for, there when made
                fs::create_directories(data_ / "raced");
            }
        },
        -1);
    const auto raced = NoFollowFolder::Open(data_ / "raced" / "logs", Missing::kCreate);
    platform::testing::ClearBeforeCalls();
    EXPECT_TRUE(raced);
    EXPECT_TRUE(fs::is_directory(data_ / "raced" / "logs"));

    // Through a link nothing is made, neither here nor where it leads.
    fs::create_directory_symlink(outside_, data_ / "linked");
    EXPECT_FALSE(NoFollowFolder::Open(data_ / "linked" / "logs", Missing::kCreate));
    EXPECT_FALSE(fs::exists(outside_ / "logs"));
}

TEST_F(NoFollowFolderTest, OnlyAPlainFileWithOneNameOpens) {
    const auto folder = NoFollowFolder::Open(data_);
    ASSERT_TRUE(folder);
    test_support::WriteFile(data_ / "plain.log", "plain");
    fs::create_symlink(outside_ / "secret.log", data_ / "link.log");
    fs::create_hard_link(outside_ / "secret.log", data_ / "hard.log");
    fs::create_directories(data_ / "folder.log");
    const struct {
        const wchar_t* name;
        bool opens;
    } cases[] = {
        {L"plain.log", true},   {L"link.log", false},    {L"hard.log", false},
        {L"folder.log", false}, {L"missing.log", false},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(WideToPath(each.name).string());
        const ScopedHandle file =
            folder->OpenFile(each.name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
        EXPECT_EQ(static_cast<bool>(file), each.opens);
    }
    // The number the walk saw: a name that leads elsewhere now opens nothing.
    const auto facts = FactsOf(folder->OpenFile(L"plain.log", GENERIC_READ, FILE_SHARE_READ).get());
    ASSERT_TRUE(facts);
    EXPECT_TRUE(folder->OpenFile(L"plain.log", GENERIC_READ, FILE_SHARE_READ, facts->id));
    EXPECT_FALSE(folder->OpenFile(L"plain.log", GENERIC_READ, FILE_SHARE_READ, facts->id + 1));
}

TEST_F(NoFollowFolderTest, RemoveDeletesOnlyThePlainFileItWasToldOf) {
    const auto folder = NoFollowFolder::Open(data_);
    ASSERT_TRUE(folder);
    test_support::WriteFile(data_ / "sent.log", "sent");
    const auto sent = FactsOf(folder->OpenFile(L"sent.log", GENERIC_READ, FILE_SHARE_READ).get());
    ASSERT_TRUE(sent);

    const struct {
        const char* what;
        std::optional<std::int64_t> id;
        std::optional<std::uint64_t> size;
        bool removed;
    } cases[] = {
        {"another number", sent->id + 1, std::nullopt, false},
        {"another size", sent->id, sent->size + 1, false},
        {"the very file", sent->id, sent->size, true},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        EXPECT_EQ(folder->Remove(L"sent.log", each.id, each.size), each.removed);
        EXPECT_EQ(fs::exists(data_ / "sent.log"), !each.removed);
    }
    // Gone already: nothing there counts as removed only when no particular file was meant.
    EXPECT_FALSE(folder->Remove(L"sent.log", sent->id, sent->size));
    EXPECT_TRUE(folder->Remove(L"sent.log"));

    // Neither a link nor a hard link is deleted, and what they lead to stays whole.
    fs::create_symlink(outside_ / "secret.log", data_ / "link.log");
    fs::create_hard_link(outside_ / "secret.log", data_ / "hard.log");
    EXPECT_FALSE(folder->Remove(L"link.log"));
    EXPECT_FALSE(folder->Remove(L"hard.log"));
    EXPECT_TRUE(fs::is_symlink(data_ / "link.log"));
    EXPECT_TRUE(fs::exists(data_ / "hard.log"));
    EXPECT_EQ(Read(outside_ / "secret.log"), "outside");

    // A folder link is neither a folder to delete nor one to empty.
    fs::create_directory_symlink(outside_, data_ / "folder-link");
    EXPECT_FALSE(folder->Remove(L"folder-link"));
    EXPECT_TRUE(fs::is_symlink(data_ / "folder-link"));
}

TEST_F(NoFollowFolderTest, ClearMakesRoomWithoutTouchingWhatALinkLeadsTo) {
    const auto folder = NoFollowFolder::Open(data_);
    ASSERT_TRUE(folder);
    fs::create_symlink(outside_ / "secret.log", data_ / "a.zip");
    EXPECT_TRUE(folder->Clear(L"a.zip"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(data_ / "a.zip")));
    EXPECT_EQ(Read(outside_ / "secret.log"), "outside");

    test_support::WriteFile(data_ / "b.zip", "stale");
    EXPECT_TRUE(folder->Clear(L"b.zip"));
    EXPECT_FALSE(fs::exists(data_ / "b.zip"));
    EXPECT_TRUE(folder->Clear(L"c.zip"));  // nothing there

    fs::create_hard_link(outside_ / "secret.log", data_ / "d.zip");
    EXPECT_FALSE(folder->Clear(L"d.zip"));
    EXPECT_TRUE(fs::exists(data_ / "d.zip"));
    fs::create_directories(data_ / "e.zip");
    EXPECT_FALSE(folder->Clear(L"e.zip"));
    EXPECT_TRUE(fs::is_directory(data_ / "e.zip"));
}

TEST_F(NoFollowFolderTest, ANewFileIsNeverMadeOverWhatIsThere) {
    const auto folder = NoFollowFolder::Open(data_);
    ASSERT_TRUE(folder);
    fs::create_symlink(outside_ / "secret.log", data_ / "link");
    fs::create_symlink(outside_ / "created-through-link", data_ / "dangling");
    for (const wchar_t* name : {L"link", L"dangling"}) {
        NTSTATUS status = STATUS_SUCCESS;
        EXPECT_FALSE(folder->CreateNewFile(name, GENERIC_WRITE, 0, status));
        EXPECT_EQ(status, STATUS_OBJECT_NAME_COLLISION);
    }
    EXPECT_FALSE(fs::exists(outside_ / "created-through-link"));
    EXPECT_EQ(Read(outside_ / "secret.log"), "outside");

    // A name given to the new file elsewhere before it is looked at: it is not used.
    platform::testing::BeforeCall("GetFileInformationByHandle", (data_ / "new.zip").string(), [&] {
        fs::create_hard_link(data_ / "new.zip", outside_ / "grab");
    });
    NTSTATUS status = STATUS_SUCCESS;
    EXPECT_FALSE(folder->CreateNewFile(L"new.zip", GENERIC_WRITE, 0, status));
    platform::testing::ClearBeforeCalls();
}

TEST_F(NoFollowFolderTest, MoveHereReplacesTheNameAndNotWhatItLeadsTo) {
    const auto folder = NoFollowFolder::Open(data_);
    ASSERT_TRUE(folder);
    fs::create_symlink(outside_ / "secret.log", data_ / "language");
    NTSTATUS status = STATUS_SUCCESS;
    const ScopedHandle file =
        folder->CreateNewFile(L"language.new", GENERIC_WRITE | DELETE, 0, status);
    ASSERT_TRUE(file);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), "new", 3, &written, nullptr));
    EXPECT_TRUE(folder->MoveHere(file.get(), L"language"));
    EXPECT_FALSE(fs::is_symlink(data_ / "language"));
    EXPECT_EQ(Read(data_ / "language"), "new");
    EXPECT_FALSE(fs::exists(data_ / "language.new"));
    EXPECT_EQ(Read(outside_ / "secret.log"), "outside");
}

// The folder is deleted through the one above, and only while its name there leads to the
// folder that was opened: one swapped in meanwhile, even an empty real one, stays.
TEST_F(NoFollowFolderTest, RemoveSelfDeletesOnlyTheFolderThatWasOpened) {
    fs::create_directories(data_ / "logs");
    const auto logs = NoFollowFolder::Open(data_ / "logs");
    ASSERT_TRUE(logs);
    fs::rename(data_ / "logs", data_ / "logs-moved");
    fs::create_directories(data_ / "logs");
    EXPECT_FALSE(logs->RemoveSelf());
    EXPECT_TRUE(fs::is_directory(data_ / "logs"));

    fs::remove(data_ / "logs");
    fs::create_directory_symlink(data_ / "logs-moved", data_ / "logs");
    EXPECT_FALSE(logs->RemoveSelf());
    EXPECT_TRUE(fs::is_directory(data_ / "logs-moved"));

    fs::remove(data_ / "logs");
    fs::rename(data_ / "logs-moved", data_ / "logs");
    EXPECT_TRUE(logs->RemoveSelf());
    EXPECT_FALSE(fs::exists(data_ / "logs"));

    // A trusted root is never deleted.
    fs::create_directories(root_ / "AppData" / "Roaming");
    EXPECT_FALSE(NoFollowFolder::Open(data_)->RemoveSelf());
}

}  // namespace
