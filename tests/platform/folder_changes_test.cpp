// Changes made through handles: NtCreateFile making files and folders inside a folder,
// FileRenameInfo moving an object between folders by their handles, DuplicateHandle, and the
// link count that tells a hard link apart.
#include <platform/testing.h>
#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "common/scoped_handle.h"
#include "tests/platform/folder_handles.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::WriteFile;

using Handle = ScopedHandle;

class FolderChanges : public ::testing::Test {
protected:
    void SetUp() override {
        platform::testing::Reset();
        LayOutFolderWithLinks(dir_.path());
        folder_ = std::make_unique<Handle>(OpenFolder(dir_ / "folder"));
        ASSERT_TRUE(*folder_);
    }
    void TearDown() override {
        folder_.reset();
        platform::testing::Reset();
        EXPECT_EQ(platform::testing::OpenHandleCount(), 0u);
    }
    // Nothing outside the folder was made, written or removed.
    void ExpectOutsideUntouched() {
        EXPECT_EQ(ReadFile(dir_ / "outside" / "secret"), "outside");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "outside"), {}), 1);
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "nowhere")));
    }
    test_support::TempDir dir_;
    std::unique_ptr<Handle> folder_;
};

TEST_F(FolderChanges, MakesFoldersInsideTheRootWithoutFollowingALink) {
    constexpr ULONG kFolder = FILE_DIRECTORY_FILE;
    constexpr ULONG kFolderItself = FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT;
    const struct Case {
        const wchar_t* name;
        ULONG disposition;
        ULONG options;
        NTSTATUS status;
        ULONG_PTR information;
    } cases[] = {
        {L"new", FILE_CREATE, kFolder, STATUS_SUCCESS, FILE_CREATED},
        {L"new", FILE_CREATE, kFolder, STATUS_OBJECT_NAME_COLLISION, 0},
        {L"new", FILE_OPEN_IF, kFolder, STATUS_SUCCESS, FILE_OPENED},
        {L"other", FILE_OPEN_IF, kFolderItself, STATUS_SUCCESS, FILE_CREATED},
        {L"sub", FILE_CREATE, kFolder, STATUS_OBJECT_NAME_COLLISION, 0},
        {L"file.log", FILE_CREATE, kFolder, STATUS_OBJECT_NAME_COLLISION, 0},
        {L"file.log", FILE_OPEN_IF, kFolder, STATUS_NOT_A_DIRECTORY, 0},
        // Whatever a link leads to, FILE_CREATE makes nothing through it.
        {L"folder-link", FILE_CREATE, kFolder, STATUS_OBJECT_NAME_COLLISION, 0},
        {L"dangling", FILE_CREATE, kFolder, STATUS_OBJECT_NAME_COLLISION, 0},
        {L"dangling", FILE_OPEN_IF, kFolderItself, STATUS_NOT_A_DIRECTORY, 0},
        {L"a\\b", FILE_CREATE, kFolder, STATUS_OBJECT_NAME_INVALID, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << fs::path(c.name).string() << " disposition " << c.disposition);
        const auto opened = OpenInside(folder_->get(), c.name, FILE_LIST_DIRECTORY | DELETE,
                                       c.options, kShareAll, c.disposition);
        const Handle handle(opened.handle);
        EXPECT_EQ(opened.status, c.status);
        EXPECT_EQ(opened.information, c.information);
        if (opened.status == STATUS_SUCCESS) {
            // The handle is the folder made: names open inside it, and it is no link.
            EXPECT_EQ(InformationOf(handle.get()).dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
            const auto inner = OpenInside(handle.get(), L"x.txt", GENERIC_WRITE,
                                          FILE_NON_DIRECTORY_FILE, 0, FILE_OPEN_IF);
            const Handle inner_handle(inner.handle);
            EXPECT_EQ(inner.status, STATUS_SUCCESS);
            EXPECT_TRUE(fs::exists(dir_ / "folder" / c.name / "x.txt"));
        }
    }
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(dir_ / "folder" / "new")));
    EXPECT_TRUE(fs::is_symlink(dir_ / "folder" / "dangling"));
    ExpectOutsideUntouched();
}

TEST_F(FolderChanges, OpensOrMakesFilesWithOpenIf) {
    const struct Case {
        const wchar_t* name;
        ULONG options;
        NTSTATUS status;
        ULONG_PTR information;
    } cases[] = {
        {L"made.log", FILE_NON_DIRECTORY_FILE, STATUS_SUCCESS, FILE_CREATED},
        {L"file.log", FILE_NON_DIRECTORY_FILE, STATUS_SUCCESS, FILE_OPENED},
        {L"file-link", FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, STATUS_ACCESS_DENIED, 0},
        {L"dangling", FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, STATUS_ACCESS_DENIED, 0},
        {L"sub", FILE_NON_DIRECTORY_FILE, STATUS_FILE_IS_A_DIRECTORY, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(fs::path(c.name).string());
        const auto opened = OpenInside(folder_->get(), c.name, GENERIC_READ | GENERIC_WRITE,
                                       c.options, FILE_SHARE_READ, FILE_OPEN_IF);
        const Handle handle(opened.handle);
        EXPECT_EQ(opened.status, c.status);
        EXPECT_EQ(opened.information, c.information);
        if (opened.status == STATUS_SUCCESS) {
            DWORD written = 0;
            EXPECT_TRUE(::WriteFile(handle.get(), "new", 3, &written, nullptr));
        }
    }
    EXPECT_EQ(ReadFile(dir_ / "folder" / "made.log"), "new");
    EXPECT_EQ(ReadFile(dir_ / "folder" / "file.log"), "newide");  // opened, not emptied
    ExpectOutsideUntouched();
}

class Renames : public FolderChanges {
protected:
    // Renames what `handle` holds to `name` inside `root`.
    static bool Rename(HANDLE handle, HANDLE root, const std::wstring& name, bool replace) {
        std::vector<std::byte> buffer(offsetof(FILE_RENAME_INFO, FileName) +
                                      (name.size() + 1) * sizeof(WCHAR));
        auto* const information = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        information->ReplaceIfExists = replace ? TRUE : FALSE;
        information->RootDirectory = root;
        information->FileNameLength = static_cast<DWORD>(name.size() * sizeof(WCHAR));
        name.copy(information->FileName, name.size());
        return SetFileInformationByHandle(handle, FileRenameInfo, information,
                                          static_cast<DWORD>(buffer.size())) != FALSE;
    }
    Handle OpenForRename(const wchar_t* name, ULONG options = FILE_OPEN_REPARSE_POINT) {
        const auto opened = OpenInside(folder_->get(), name, DELETE, options);
        EXPECT_EQ(opened.status, STATUS_SUCCESS);
        return Handle(opened.handle);
    }
};

// Each case moves file.log (or sub) to a name of the folder that may hold something already.
TEST_F(Renames, ReplaceOnlyAPlainFileAndOnlyWhenAsked) {
    const struct Case {
        const char* what;
        const wchar_t* source;
        const wchar_t* target;
        bool replace;
        DWORD error;  // 0: renamed
    } cases[] = {
        {"a free name", L"file.log", L"moved.log", false, 0},
        {"a file, not asked to replace", L"file.log", L"other.log", false, ERROR_ALREADY_EXISTS},
        {"a file", L"file.log", L"other.log", true, 0},
        {"a read-only file", L"file.log", L"locked.log", true, ERROR_ACCESS_DENIED},
        {"a link, replaced itself", L"file.log", L"file-link", true, 0},
        {"a folder", L"file.log", L"empty", true, ERROR_ACCESS_DENIED},
        {"a folder over an empty folder", L"sub", L"empty", true, ERROR_ACCESS_DENIED},
        {"a held file", L"file.log", L"held.log", true, ERROR_ACCESS_DENIED},
        {"a name with a separator", L"file.log", L"sub\\x.log", true, ERROR_INVALID_NAME},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        folder_.reset();
        fs::remove_all(dir_ / "folder");
        fs::remove_all(dir_ / "outside");
        SetUp();
        WriteFile(dir_ / "folder" / "other.log", "other");
        WriteFile(dir_ / "folder" / "locked.log", "locked");
        fs::permissions(dir_ / "folder" / "locked.log", fs::perms::owner_read);
        WriteFile(dir_ / "folder" / "held.log", "held");
        fs::create_directory(dir_ / "folder" / "empty");
        const Handle holder(CreateFileW((dir_ / "folder" / "held.log").wstring().c_str(),
                                        GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                        nullptr));
        ASSERT_TRUE(holder);
        {
            const Handle source = OpenForRename(c.source);
            const std::string before = fs::path(c.source).string();
            const bool renamed = Rename(source.get(), folder_->get(), c.target, c.replace);
            EXPECT_EQ(renamed, c.error == 0);
            if (c.error != 0) {
                EXPECT_EQ(GetLastError(), c.error);
                EXPECT_TRUE(fs::exists(dir_ / "folder" / before));
            } else {
                EXPECT_FALSE(fs::exists(dir_ / "folder" / before));
                EXPECT_EQ(ReadFile(dir_ / "folder" / c.target), "inside");
                // The handle holds the object at its new name.
                EXPECT_TRUE(DeleteThrough(source.get()));
                EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "folder" / c.target)));
            }
        }
        EXPECT_EQ(ReadFile(dir_ / "folder" / "held.log"), "held");
        EXPECT_EQ(ReadFile(dir_ / "folder" / "locked.log"), "locked");
        EXPECT_TRUE(fs::is_directory(fs::symlink_status(dir_ / "folder" / "empty")));
        ExpectOutsideUntouched();
    }
}

TEST_F(Renames, MovesIntoAnotherFolderByItsHandle) {
    const auto sub = OpenInside(folder_->get(), L"sub", FILE_LIST_DIRECTORY,
                                FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
    const Handle sub_handle(sub.handle);
    ASSERT_EQ(sub.status, STATUS_SUCCESS);
    // Moved away and back again: the handle follows the object.
    const Handle source = OpenForRename(L"file.log", FILE_NON_DIRECTORY_FILE);
    ASSERT_TRUE(Rename(source.get(), sub_handle.get(), L"in-sub.log", false));
    EXPECT_EQ(ReadFile(dir_ / "folder" / "sub" / "in-sub.log"), "inside");
    ASSERT_TRUE(Rename(source.get(), folder_->get(), L"back.log", false));
    EXPECT_EQ(ReadFile(dir_ / "folder" / "back.log"), "inside");
    EXPECT_TRUE(fs::is_empty(dir_ / "folder" / "sub"));

    // A root that is no folder's handle, and a handle that may not delete.
    EXPECT_FALSE(Rename(source.get(), source.get(), L"x.log", false));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    const auto reader =
        OpenInside(folder_->get(), L"back.log", GENERIC_READ, FILE_NON_DIRECTORY_FILE);
    const Handle reader_handle(reader.handle);
    EXPECT_FALSE(Rename(reader_handle.get(), folder_->get(), L"x.log", false));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(fs::exists(dir_ / "folder" / "back.log"));
}

// The name swapped for another object after the open: that object is not moved.
TEST_F(Renames, OnlyWhileTheNameLeadsToTheObject) {
    const Handle source = OpenForRename(L"file.log", FILE_NON_DIRECTORY_FILE);
    fs::rename(dir_ / "folder" / "file.log", dir_ / "kept.log");
    fs::create_hard_link(dir_ / "outside" / "secret", dir_ / "folder" / "file.log");
    EXPECT_FALSE(Rename(source.get(), folder_->get(), L"moved.log", true));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(fs::exists(dir_ / "folder" / "moved.log"));
    EXPECT_EQ(fs::hard_link_count(dir_ / "outside" / "secret"), 2u);
}

// A duplicate holds the same object: it reads on where the first left off, and the object
// (with its sharing) lives until the last handle goes.
TEST_F(FolderChanges, DuplicateHandleSharesTheObject) {
    const fs::path path = dir_ / "folder" / "file.log";
    HANDLE first =
        CreateFileW(path.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    HANDLE second = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), first, GetCurrentProcess(), &second, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    const Handle second_handle(second);
    EXPECT_NE(second, first);
    char bytes[3] = {};
    DWORD got = 0;
    ASSERT_TRUE(::ReadFile(first, bytes, 2, &got, nullptr));
    ASSERT_TRUE(CloseHandle(first));
    ASSERT_TRUE(::ReadFile(second, bytes, 3, &got, nullptr));
    EXPECT_EQ(std::string(bytes, got), "sid");
    EXPECT_FALSE(Handle(CreateFileW(path.wstring().c_str(), GENERIC_READ, kShareAll, nullptr,
                                    OPEN_EXISTING, 0, nullptr)));  // still held without sharing

    HANDLE third = INVALID_HANDLE_VALUE;
    EXPECT_FALSE(DuplicateHandle(GetCurrentProcess(), first, GetCurrentProcess(), &third, 0, FALSE,
                                 DUPLICATE_SAME_ACCESS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(DuplicateHandle(GetCurrentProcess(), second, GetCurrentProcess(), &third,
                                 GENERIC_READ, FALSE, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(platform::testing::OpenHandleCount(), 2u);  // the folder and the duplicate
}

// The link count is the file's own, however it was opened, so that a hard link shows.
TEST_F(FolderChanges, TheLinkCountCountsHardLinks) {
    const auto made = OpenInside(folder_->get(), L"made.log", GENERIC_WRITE,
                                 FILE_NON_DIRECTORY_FILE, 0, FILE_CREATE);
    const Handle made_handle(made.handle);
    ASSERT_EQ(made.status, STATUS_SUCCESS);
    EXPECT_EQ(InformationOf(made_handle.get()).nNumberOfLinks, 1u);
    fs::create_hard_link(dir_ / "outside" / "secret", dir_ / "folder" / "hard");
    for (const ACCESS_MASK access : {GENERIC_READ, DELETE, ACCESS_MASK{0}}) {
        SCOPED_TRACE(access);
        const auto hard = OpenInside(folder_->get(), L"hard", access,
                                     FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
        const Handle handle(hard.handle);
        ASSERT_EQ(hard.status, STATUS_SUCCESS);
        EXPECT_EQ(InformationOf(handle.get()).nNumberOfLinks, 2u);
        fs::create_hard_link(dir_ / "outside" / "secret", dir_ / "outside" / "third");
        EXPECT_EQ(InformationOf(handle.get()).nNumberOfLinks, 3u);  // asked anew each time
        fs::remove(dir_ / "outside" / "third");
    }
    const auto by_path =
        Handle(CreateFileW((dir_ / "folder" / "hard").wstring().c_str(), GENERIC_READ, kShareAll,
                           nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(InformationOf(by_path.get()).nNumberOfLinks, 2u);
}

}  // namespace
