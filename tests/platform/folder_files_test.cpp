// Files reached through a folder's handle: NtCreateFile inside a folder, the listing by handle,
// deletion through a handle, and FILE_FLAG_OPEN_REPARSE_POINT: a link is this platform's
// reparse point, and none of these calls follows one.
#include <platform/testing.h>
#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <string>
#include <utility>

#include "common/scoped_handle.h"
#include "tests/platform/folder_handles.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::WriteFile;

using Handle = ScopedHandle;

DWORD AttributesOf(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information{};
    EXPECT_TRUE(GetFileInformationByHandle(handle, &information));
    return information.dwFileAttributes;
}

bool Delete(HANDLE handle) { return DeleteThrough(handle); }

class FolderFiles : public ::testing::Test {
protected:
    void SetUp() override {
        platform::testing::Reset();
        LayOutFolderWithLinks(dir_.path());
    }
    void TearDown() override {
        platform::testing::Reset();
        EXPECT_EQ(platform::testing::OpenHandleCount(), 0u);
    }
    test_support::TempDir dir_;
};

TEST_F(FolderFiles, OpensOnlySingleNamesInsideTheFolder) {
    const Handle folder(OpenFolder(dir_ / "folder"));
    ASSERT_TRUE(folder);
    const struct {
        const wchar_t* name;
        NTSTATUS status;
    } cases[] = {
        {L"file.log", STATUS_SUCCESS},
        {L"missing", STATUS_OBJECT_NAME_NOT_FOUND},
        {L"sub\\..\\file.log", STATUS_OBJECT_NAME_INVALID},
        {L"../outside/secret", STATUS_OBJECT_NAME_INVALID},
        {L"..", STATUS_OBJECT_NAME_INVALID},
        {L".", STATUS_OBJECT_NAME_INVALID},
        {L"", STATUS_OBJECT_NAME_INVALID},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(testing::Message() << std::wstring(each.name).size() << " units");
        const auto opened = OpenInside(folder.get(), each.name, GENERIC_READ,
                                       FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
        const Handle handle(opened.handle);
        EXPECT_EQ(opened.status, each.status);
        EXPECT_EQ(static_cast<bool>(handle), each.status == STATUS_SUCCESS);
    }
    // A handle that is not a folder's is no root.
    const auto file = OpenInside(folder.get(), L"file.log", GENERIC_READ, FILE_NON_DIRECTORY_FILE);
    const Handle file_handle(file.handle);
    EXPECT_EQ(OpenInside(file.handle, L"x", GENERIC_READ, 0).status, STATUS_INVALID_HANDLE);
}

// With FILE_OPEN_REPARSE_POINT a link is opened as itself: a reparse point, with no data to
// read. Without it the link is followed, as on Windows.
TEST_F(FolderFiles, ALinkIsOpenedAsItselfOnlyWhenAsked) {
    const Handle folder(OpenFolder(dir_ / "folder"));
    for (const wchar_t* name : {L"file-link", L"dangling"}) {
        const auto link = OpenInside(folder.get(), name, GENERIC_READ,
                                     FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
        const Handle handle(link.handle);
        ASSERT_EQ(link.status, STATUS_SUCCESS);
        EXPECT_NE(AttributesOf(handle.get()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
        char byte = 0;
        DWORD got = 0;
        EXPECT_FALSE(::ReadFile(handle.get(), &byte, 1, &got, nullptr));
    }
    const auto file_link_as_folder = OpenInside(folder.get(), L"file-link", FILE_LIST_DIRECTORY,
                                                FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
    const Handle file_link_as_folder_handle(file_link_as_folder.handle);
    EXPECT_EQ(file_link_as_folder.status, STATUS_NOT_A_DIRECTORY);

    const auto followed =
        OpenInside(folder.get(), L"file-link", GENERIC_READ, FILE_NON_DIRECTORY_FILE);
    const Handle followed_handle(followed.handle);
    ASSERT_EQ(followed.status, STATUS_SUCCESS);
    EXPECT_EQ(AttributesOf(followed_handle.get()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
}

TEST_F(FolderFiles, CreateFileWithTheFlagNeverWritesThroughALink) {
    const fs::path link = dir_ / "folder" / "file-link";
    for (const DWORD disposition : {CREATE_ALWAYS, OPEN_ALWAYS, TRUNCATE_EXISTING, OPEN_EXISTING}) {
        SCOPED_TRACE(disposition);
        const Handle handle(CreateFileW(link.wstring().c_str(), GENERIC_WRITE, 0, nullptr,
                                        disposition, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        EXPECT_FALSE(handle);
    }
    const Handle dangling(CreateFileW((dir_ / "folder" / "dangling").wstring().c_str(),
                                      GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    EXPECT_FALSE(dangling);
    EXPECT_FALSE(fs::exists(dir_ / "nowhere"));
    EXPECT_EQ(ReadFile(dir_ / "outside" / "secret"), "outside");

    const Handle facts(CreateFileW(link.wstring().c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    ASSERT_TRUE(facts);
    EXPECT_NE(AttributesOf(facts.get()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
}

// A link to a folder is what Windows makes of a junction or folder link: a folder that is a
// reparse point (0x410), wherever it is opened as itself. So it is the caller's reparse check,
// not a folder check, that keeps it from being walked. It is opened, never followed or used.
TEST_F(FolderFiles, ALinkToAFolderIsAFolderThatIsAReparsePoint) {
    constexpr DWORD kJunction = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    const Handle by_path(OpenFolder(dir_ / "folder" / "folder-link"));
    ASSERT_TRUE(by_path);
    EXPECT_EQ(AttributesOf(by_path.get()), kJunction);
    const Handle folder(OpenFolder(dir_ / "folder"));
    for (const ACCESS_MASK access : {FILE_LIST_DIRECTORY, DELETE}) {
        SCOPED_TRACE(access);
        const auto link = OpenInside(folder.get(), L"folder-link", access,
                                     FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
        const Handle handle(link.handle);
        ASSERT_EQ(link.status, STATUS_SUCCESS);
        EXPECT_EQ(AttributesOf(handle.get()), kJunction);
        // Not its target: nothing opens or lists through it.
        EXPECT_EQ(OpenInside(handle.get(), L"secret", GENERIC_READ, 0).status,
                  STATUS_INVALID_HANDLE);
        std::array<std::byte, 4096> listing{};
        EXPECT_FALSE(GetFileInformationByHandleEx(handle.get(), FileIdBothDirectoryRestartInfo,
                                                  listing.data(), listing.size()));
    }
    // Without asking for a folder it is refused as a folder, as a junction is.
    const auto as_file = OpenInside(folder.get(), L"folder-link", GENERIC_READ,
                                    FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
    const Handle as_file_handle(as_file.handle);
    EXPECT_EQ(as_file.status, STATUS_FILE_IS_A_DIRECTORY);
    EXPECT_FALSE(
        Handle(CreateFileW((dir_ / "folder" / "folder-link").wstring().c_str(), 0, kShareAll,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // Followed, it is its target, a plain folder.
    const auto followed =
        OpenInside(folder.get(), L"folder-link", FILE_LIST_DIRECTORY, FILE_DIRECTORY_FILE);
    const Handle followed_handle(followed.handle);
    ASSERT_EQ(followed.status, STATUS_SUCCESS);
    EXPECT_EQ(AttributesOf(followed_handle.get()), FILE_ATTRIBUTE_DIRECTORY);
    // A link to a file, or to nothing, stays a reparse point only.
    for (const wchar_t* name : {L"file-link", L"dangling"}) {
        const auto link = OpenInside(folder.get(), name, 0, FILE_OPEN_REPARSE_POINT);
        const Handle handle(link.handle);
        ASSERT_EQ(link.status, STATUS_SUCCESS);
        EXPECT_EQ(AttributesOf(handle.get()), FILE_ATTRIBUTE_REPARSE_POINT);
    }
    EXPECT_EQ(ReadFile(dir_ / "outside" / "secret"), "outside");
}

// Every entry once, links as themselves; a buffer too small for the next entry keeps it for
// the next call, and one too small for any entry says so.
TEST_F(FolderFiles, ListsAFolderByItsHandle) {
    for (int index = 0; index < 40; ++index) {
        WriteFile(dir_ / "folder" / ("many-" + std::to_string(index) + "-" + std::string(60, 'n')),
                  "");
    }
    const Handle folder(OpenFolder(dir_ / "folder"));
    for (const DWORD size : {65536u, 600u}) {
        SCOPED_TRACE(size);
        std::map<std::wstring, FILE_ID_BOTH_DIR_INFO> seen;
        std::vector<std::byte> buffer(size);
        auto information_class = FileIdBothDirectoryRestartInfo;
        while (GetFileInformationByHandleEx(folder.get(), information_class, buffer.data(), size)) {
            information_class = FileIdBothDirectoryInfo;
            for (std::size_t offset = 0;;) {
                const auto* record =
                    reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
                const std::wstring name(record->FileName, record->FileNameLength / sizeof(WCHAR));
                EXPECT_TRUE(seen.emplace(name, *record).second) << "twice";
                if (record->NextEntryOffset == 0) {
                    break;
                }
                offset += record->NextEntryOffset;
            }
        }
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
        EXPECT_EQ(seen.size(), 45u);  // 40, file.log, sub and three links
        EXPECT_FALSE(seen.contains(L".") || seen.contains(L".."));
        EXPECT_EQ(seen.at(L"sub").FileAttributes & FILE_ATTRIBUTE_DIRECTORY,
                  FILE_ATTRIBUTE_DIRECTORY);
        // A link to a folder is listed as Windows lists a junction: a folder that is a
        // reparse point.
        for (const auto& [link, attributes] :
             {std::pair{L"file-link", FILE_ATTRIBUTE_REPARSE_POINT},
              std::pair{L"folder-link", FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY},
              std::pair{L"dangling", FILE_ATTRIBUTE_REPARSE_POINT}}) {
            EXPECT_EQ(seen.at(link).FileAttributes, attributes);
            EXPECT_EQ(seen.at(link).EaSize, IO_REPARSE_TAG_SYMLINK);
        }
        struct stat facts {};
        ASSERT_EQ(::lstat((dir_ / "folder" / "file.log").c_str(), &facts), 0);
        EXPECT_EQ(seen.at(L"file.log").FileId.QuadPart, static_cast<LONGLONG>(facts.st_ino));
        EXPECT_EQ(seen.at(L"file.log").EndOfFile.QuadPart, 6);
    }
    std::array<std::byte, 32> tiny{};
    EXPECT_FALSE(GetFileInformationByHandleEx(folder.get(), FileIdBothDirectoryRestartInfo,
                                              tiny.data(), tiny.size()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
}

// Deletion through a handle takes the object the handle holds and nothing else: a link as
// itself, never a name that now leads elsewhere.
TEST_F(FolderFiles, DeletesWhatTheHandleHoldsOnly) {
    const Handle folder(OpenFolder(dir_ / "folder"));
    const auto link = OpenInside(folder.get(), L"file-link", DELETE, FILE_OPEN_REPARSE_POINT);
    {
        const Handle handle(link.handle);
        ASSERT_TRUE(Delete(handle.get()));
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "folder" / "file-link")));
    EXPECT_EQ(ReadFile(dir_ / "outside" / "secret"), "outside");

    // The folder swapped for a link after it was opened: its name leads elsewhere now.
    const auto sub =
        OpenInside(folder.get(), L"sub", DELETE, FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
    const Handle sub_handle(sub.handle);
    ASSERT_EQ(sub.status, STATUS_SUCCESS);
    fs::rename(dir_ / "folder" / "sub", dir_ / "moved");
    fs::create_directory_symlink(dir_ / "outside", dir_ / "folder" / "sub");
    EXPECT_FALSE(Delete(sub_handle.get()));
    EXPECT_TRUE(fs::exists(dir_ / "outside" / "secret"));
    EXPECT_TRUE(fs::exists(dir_ / "moved"));

    // Without DELETE access nothing is deleted; a folder with content stays.
    const auto readable =
        OpenInside(folder.get(), L"file.log", GENERIC_READ, FILE_NON_DIRECTORY_FILE);
    const Handle readable_handle(readable.handle);
    EXPECT_FALSE(Delete(readable_handle.get()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    const Handle whole(OpenFolder(dir_ / "folder", DELETE));
    EXPECT_FALSE(Delete(whole.get()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_TRUE(fs::exists(dir_ / "folder" / "file.log"));
}

// A file that another handle writes without delete sharing cannot be opened for deletion.
TEST_F(FolderFiles, AFileHeldWithoutDeleteSharingCannotBeOpenedForDeletion) {
    const Handle writer(CreateFileW((dir_ / "folder" / "file.log").wstring().c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer);
    const Handle folder(OpenFolder(dir_ / "folder"));
    const auto opened = OpenInside(folder.get(), L"file.log", DELETE, FILE_OPEN_REPARSE_POINT);
    const Handle handle(opened.handle);
    EXPECT_EQ(opened.status, STATUS_SHARING_VIOLATION);
    const auto reader = OpenInside(folder.get(), L"file.log", GENERIC_READ, FILE_NON_DIRECTORY_FILE,
                                   FILE_SHARE_READ);
    const Handle reader_handle(reader.handle);
    EXPECT_EQ(reader.status, STATUS_SHARING_VIOLATION);
}

// Windows keeps no fifos among files: one is refused at once instead of holding the open.
TEST_F(FolderFiles, AFifoIsRefusedWithoutWaiting) {
    ASSERT_EQ(::mkfifo((dir_ / "folder" / "pipe").c_str(), 0600), 0);
    const Handle folder(OpenFolder(dir_ / "folder"));
    const auto opened = OpenInside(folder.get(), L"pipe", GENERIC_READ, FILE_NON_DIRECTORY_FILE);
    const Handle handle(opened.handle);
    EXPECT_EQ(opened.status, STATUS_ACCESS_DENIED);
    const Handle by_path(CreateFileW((dir_ / "folder" / "pipe").wstring().c_str(), GENERIC_READ,
                                     FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(by_path);
}

TEST_F(FolderFiles, SetEndOfFileCutsAtThePosition) {
    const Handle file(CreateFileW((dir_ / "folder" / "file.log").wstring().c_str(),
                                  GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    ASSERT_NE(SetFilePointer(file.get(), 2, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_TRUE(SetEndOfFile(file.get()));
    EXPECT_EQ(ReadFile(dir_ / "folder" / "file.log"), "in");
}

}  // namespace
