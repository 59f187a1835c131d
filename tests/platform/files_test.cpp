#include <platform/testing.h>
#include <win_fs.h>
#include <windows.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/scoped_handle.h"
#include "tests/support/non_ascii_names.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::WriteFile;

using File = ScopedHandle;

File Open(const fs::path& path, DWORD access, DWORD share, DWORD disposition = OPEN_EXISTING,
          DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    return File(
        CreateFileW(path.wstring().c_str(), access, share, nullptr, disposition, flags, nullptr));
}

class Files : public ::testing::Test {
protected:
    void SetUp() override { platform::testing::Reset(); }
    void TearDown() override {
        platform::testing::Reset();
        EXPECT_EQ(platform::testing::OpenHandleCount(), 0u);
    }
    test_support::TempDir dir_;
};

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

TEST_F(Files, CreationDispositionsFollowWindows) {
    struct Case {
        const char* name;
        bool exists;
        DWORD disposition;
        bool opens;
        DWORD last_error;
        const char* content_after;  // nullptr: no file
    };
    const Case cases[] = {
        {"new on missing", false, CREATE_NEW, true, ERROR_SUCCESS, ""},
        {"new on existing", true, CREATE_NEW, false, ERROR_FILE_EXISTS, "old"},
        {"always on missing", false, CREATE_ALWAYS, true, ERROR_SUCCESS, ""},
        {"always on existing", true, CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, ""},
        {"existing on missing", false, OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND, nullptr},
        {"existing on existing", true, OPEN_EXISTING, true, ERROR_SUCCESS, "old"},
        {"open always on missing", false, OPEN_ALWAYS, true, ERROR_SUCCESS, ""},
        {"open always on existing", true, OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS, "old"},
        {"truncate on missing", false, TRUNCATE_EXISTING, false, ERROR_FILE_NOT_FOUND, nullptr},
        {"truncate on existing", true, TRUNCATE_EXISTING, true, ERROR_SUCCESS, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir_ / c.name;
        if (c.exists) {
            WriteFile(path, "old");
        }
        {
            const File file = Open(path, kReadWrite, 0, c.disposition);
            EXPECT_EQ(static_cast<bool>(file), c.opens);
            EXPECT_EQ(GetLastError(), c.last_error);
        }
        EXPECT_EQ(fs::exists(path), c.content_after != nullptr);
        if (c.content_after != nullptr) {
            EXPECT_EQ(ReadFile(path), c.content_after);
        }
    }
    SetLastError(0);
    EXPECT_FALSE(Open(dir_ / "no" / "such", GENERIC_READ, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(Files, ReadsWritesAndMovesThePointer) {
    const fs::path path = dir_ / "data.bin";
    const File file = Open(path, kReadWrite, 0, CREATE_ALWAYS);
    ASSERT_TRUE(file);
    DWORD count = 0;
    ASSERT_TRUE(::WriteFile(file.get(), "0123456789", 10, &count, nullptr));
    EXPECT_EQ(count, 10u);

    EXPECT_EQ(SetFilePointer(file.get(), 2, nullptr, FILE_BEGIN), 2u);
    ASSERT_TRUE(::WriteFile(file.get(), "ab", 2, &count, nullptr));
    EXPECT_EQ(SetFilePointer(file.get(), -3, nullptr, FILE_END), 7u);
    char buffer[16] = {};
    ASSERT_TRUE(::ReadFile(file.get(), buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(std::string(buffer, count), "789");
    ASSERT_TRUE(::ReadFile(file.get(), buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(count, 0u);  // the end is a successful empty read
    EXPECT_EQ(SetFilePointer(file.get(), -4, nullptr, FILE_CURRENT), 6u);

    LONG high = 0;
    EXPECT_EQ(SetFilePointer(file.get(), 0, &high, FILE_END), 10u);
    EXPECT_EQ(high, 0);
    EXPECT_EQ(SetFilePointer(file.get(), -11, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(ReadFile(path), "01ab456789");

    const File reader = Open(path, GENERIC_READ, kShareAll);
    ASSERT_FALSE(reader);  // the first handle shares nothing
    const File no_handle(reinterpret_cast<HANDLE>(0x4444));
    EXPECT_FALSE(::WriteFile(no_handle.get(), "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Files, AccessLimitsTheCallsAndAFullDiskWritesShort) {
    const fs::path path = dir_ / "file";
    WriteFile(path, "content");
    DWORD count = 0;
    char buffer[8];
    {
        const File reader = Open(path, GENERIC_READ, FILE_SHARE_READ);
        EXPECT_FALSE(::WriteFile(reader.get(), "x", 1, &count, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    const File writer = Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
    EXPECT_FALSE(::ReadFile(writer.get(), buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    platform::testing::SetWriteLimit(5);
    EXPECT_FALSE(::WriteFile(writer.get(), "0123456789", 10, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(ReadFile(path), "01234");
}

TEST_F(Files, InformationMapsLinuxFactsToWindowsOnes) {
    // 2021-03-04 10:15:17.5 UTC
    constexpr std::int64_t kSeconds = 1614852917;
    constexpr ULONGLONG kFileTime = (kSeconds + 11644473600ULL) * 10000000ULL + 5000000ULL;
    struct Case {
        const char* name;
        bool folder;
        mode_t mode;
        DWORD attributes;
    };
    const Case cases[] = {
        {"plain.txt", false, 0644, FILE_ATTRIBUTE_ARCHIVE},
        {"locked.txt", false, 0444, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},
        {".hidden", false, 0600, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN},
        {"folder", true, 0755, FILE_ATTRIBUTE_DIRECTORY},
        {".folder", true, 0555,
         FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir_ / c.name;
        if (c.folder) {
            fs::create_directory(path);
        } else {
            WriteFile(path, "twelve bytes");
        }
        const timespec times[2] = {{kSeconds - 60, 0}, {kSeconds, 500000000}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);

        const File file = Open(path, 0, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
        ASSERT_TRUE(file);
        BY_HANDLE_FILE_INFORMATION info{};
        ASSERT_TRUE(GetFileInformationByHandle(file.get(), &info));
        EXPECT_EQ(info.dwFileAttributes, c.attributes);
        const auto as_number = [](const FILETIME& t) {
            return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
        };
        EXPECT_EQ(as_number(info.ftLastWriteTime), kFileTime);
        EXPECT_EQ(as_number(info.ftLastAccessTime), kFileTime - 5000000ULL - 600000000ULL);
        EXPECT_GT(as_number(info.ftCreationTime), kFileTime);  // made just now
        if (!c.folder) {
            EXPECT_EQ(info.nFileSizeLow, 12u);
            EXPECT_EQ(info.nFileSizeHigh, 0u);
        }
        EXPECT_EQ(info.nNumberOfLinks, c.folder ? 2u : 1u);
    }
    // Windows refuses a folder without backup semantics and writing a read-only file.
    EXPECT_FALSE(Open(dir_ / "folder", GENERIC_READ, kShareAll));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(Open(dir_ / "locked.txt", GENERIC_WRITE, kShareAll));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(Files, ShareModesBetweenLayerHandles) {
    struct Case {
        DWORD first_access, first_share, second_access, second_share;
        bool second_opens;
    };
    constexpr DWORD R = GENERIC_READ, W = GENERIC_WRITE, SR = FILE_SHARE_READ,
                    SW = FILE_SHARE_WRITE, SD = FILE_SHARE_DELETE;
    const Case cases[] = {
        {R, SR, R, SR, true},
        {R, SR, W, SR | SW, false},      // the first does not share writing
        {W, SR | SW, R, SR, false},      // the second does not let the writer on
        {W, SR | SW, R, SR | SW, true},  // how a reader joins a log file
        {R | W, 0, R, SR | SW | SD, false},
        {R, SR | SW, R | W, SR | SW, true},
        {R, SR, R | W, SR, false},
        {DELETE, SR, R, SR, false},  // the reader must share deletion
        {DELETE, SR, R, SR | SD, true},
        {0, 0, R | W, 0, true},  // facts only: no access, no clash
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const auto& c = cases[i];
        const fs::path path = dir_ / ("shared" + std::to_string(i));
        WriteFile(path, "x");
        const File first = Open(path, c.first_access, c.first_share);
        ASSERT_TRUE(first);
        const File second = Open(path, c.second_access, c.second_share);
        EXPECT_EQ(static_cast<bool>(second), c.second_opens);
        if (!c.second_opens) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        }
    }
}

TEST_F(Files, DeletionNeedsDeleteSharingFromEveryHandle) {
    const fs::path path = dir_ / "file";
    WriteFile(path, "x");
    {
        const File held = Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
        EXPECT_FALSE(DeleteFileW(path.wstring().c_str()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        std::error_code error;
        EXPECT_FALSE(win_fs::remove(path, error));
        EXPECT_EQ(error, std::errc::device_or_resource_busy);
    }
    {
        const File shared = Open(path, GENERIC_READ, kShareAll);
        EXPECT_TRUE(DeleteFileW(path.wstring().c_str()));
    }
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(DeleteFileW(path.wstring().c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    fs::create_directories(dir_ / "folder" / "inner");
    EXPECT_FALSE(DeleteFileW((dir_ / "folder").wstring().c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(RemoveDirectoryW((dir_ / "folder").wstring().c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    {
        const File folder = Open(dir_ / "folder" / "inner", GENERIC_READ, FILE_SHARE_READ,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
        ASSERT_TRUE(folder);
        EXPECT_FALSE(RemoveDirectoryW((dir_ / "folder" / "inner").wstring().c_str()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    std::error_code error;
    EXPECT_EQ(win_fs::remove_all(dir_ / "folder", error), 2u);
    EXPECT_FALSE(error);
    EXPECT_EQ(win_fs::remove_all(dir_ / "folder", error), 0u);
    EXPECT_FALSE(error);
    EXPECT_FALSE(win_fs::remove(dir_ / "folder", error));
    EXPECT_FALSE(error);
}

// Names outside ASCII are deleted by their own bytes. A name that is not UTF-8 has no wide
// form: it cannot be deleted, nor its folder, and the file that its U+FFFD form names stays.
TEST_F(Files, RemovalOfNamesOutsideAscii) {
    const fs::path folder = dir_ / "folder";
    for (const auto& name : test_support::kNonAsciiNames) {
        SCOPED_TRACE(std::string(name.bytes));
        const fs::path file = folder / std::string(name.bytes);
        WriteFile(file, "x");
        // Made through the wide calls: for a name that is not UTF-8, another file.
        const std::wstring wide = folder.wstring() + L"/" + std::wstring(name.wide);
        const auto open_wide = [&wide](DWORD disposition) {
            return File(CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        };
        EXPECT_TRUE(open_wide(OPEN_ALWAYS));

        std::error_code error;
        EXPECT_EQ(win_fs::remove(file, error), name.utf8);
        EXPECT_EQ(error == std::errc::illegal_byte_sequence, !name.utf8) << error.message();
        EXPECT_EQ(fs::exists(file), !name.utf8);
        EXPECT_EQ(static_cast<bool>(open_wide(OPEN_EXISTING)), !name.utf8);

        EXPECT_EQ(win_fs::remove_all(folder, error) == static_cast<std::uintmax_t>(-1), !name.utf8);
        EXPECT_EQ(fs::exists(file), !name.utf8);
        fs::remove_all(folder);
    }
}

// The program's own log: spdlog's sink holds the file with a plain descriptor, not a handle.
TEST_F(Files, ALogFileThatSpdlogWritesIsHeldForWriting) {
    const fs::path logs = dir_ / "logs";
    fs::create_directories(logs / "sub");
    WriteFile(logs / "sub" / "old.txt", "old");
    const fs::path log_file = logs / "run.txt";
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
        WriteFile(logs / name, name);
    }
    auto sink =
        std::make_shared<spdlog::sinks::rotating_file_sink_mt>(log_file.string(), 1 << 20, 0, true);
    spdlog::logger logger("files_test", sink);
    logger.info("written");
    logger.flush();

    EXPECT_FALSE(Open(log_file, GENERIC_READ, FILE_SHARE_READ));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(Open(log_file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_FALSE(DeleteFileW(log_file.wstring().c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    std::vector<fs::path> listing;
    for (const auto& entry : fs::directory_iterator(logs)) {
        listing.push_back(entry.path());
    }
    std::error_code error;
    EXPECT_EQ(win_fs::remove_all(logs, error), static_cast<std::uintmax_t>(-1));
    EXPECT_EQ(error, std::errc::device_or_resource_busy);
    bool reached = false;
    for (const auto& entry : listing) {
        SCOPED_TRACE(entry.string());
        reached = reached || entry == log_file;
        EXPECT_EQ(fs::exists(entry), reached);  // gone before the log file, kept from it on
    }
    EXPECT_TRUE(fs::exists(logs));
    logger.info("still logging");
    logger.flush();
    EXPECT_NE(ReadFile(log_file).find("still logging"), std::string::npos);
}

// A child that holds a file open for appending (or, with `reading`, for reading) until it is
// killed.
class Holder {
public:
    explicit Holder(const fs::path& path, bool reading = false) {
        int ready[2];
        EXPECT_EQ(::pipe(ready), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(ready[1], STDOUT_FILENO);
            ::execl("/bin/sh", "sh", "-c",
                    reading ? "exec 3<\"$0\"; echo ready; exec sleep 60"
                            : "exec 3>>\"$0\"; echo ready; exec sleep 60",
                    path.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(ready[1]);
        char byte = 0;
        EXPECT_EQ(::read(ready[0], &byte, 1), 1);
        ::close(ready[0]);
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    ~Holder() { Stop(); }
    void Stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
};

TEST_F(Files, AFileThatAnotherProcessWritesIsHeld) {
    const fs::path path = dir_ / "shared.log";
    WriteFile(path, "x");
    Holder holder(path);
    EXPECT_FALSE(Open(path, GENERIC_READ, FILE_SHARE_READ));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_FALSE(DeleteFileW(path.wstring().c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    holder.Stop();
    EXPECT_TRUE(Open(path, GENERIC_READ, FILE_SHARE_READ));
    std::error_code error;
    EXPECT_TRUE(win_fs::remove(path, error));
}

// Another process that only reads shares reading and writing but not deletion.
TEST_F(Files, AFileThatAnotherProcessReadsCanBeReadButNotDeleted) {
    const fs::path path = dir_ / "read.log";
    WriteFile(path, "x");
    Holder holder(path, true);
    EXPECT_TRUE(Open(path, GENERIC_READ, FILE_SHARE_READ));
    EXPECT_FALSE(Open(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(DeleteFileW(path.wstring().c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    holder.Stop();
    EXPECT_TRUE(DeleteFileW(path.wstring().c_str()));
}

// A writer of the layer meets another process's reader or writer by its share mode, as a
// Windows handle that reads and writes with both shared would.
TEST_F(Files, AWriterMeetsAnotherProcessByItsShareMode) {
    struct Case {
        bool other_reads;
        DWORD share;
        bool opens;
    };
    const Case cases[] = {
        {true, FILE_SHARE_READ, true},
        {true, 0, false},
        {false, FILE_SHARE_READ, false},  // the other process writes
        {false, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const fs::path path = dir_ / ("writer" + std::to_string(i) + ".log");
        WriteFile(path, "x");
        {
            const Holder holder(path, cases[i].other_reads);
            const File writer = Open(path, GENERIC_WRITE, cases[i].share);
            EXPECT_EQ(static_cast<bool>(writer), cases[i].opens);
            if (!cases[i].opens) {
                EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
            }
        }
        EXPECT_TRUE(Open(path, GENERIC_WRITE, 0));  // alone again
    }
}

// The sharing is asked again when a handle deletes: another process that opened the file after
// the handle was opened for deletion keeps it. Handles of the layer that share deletion do not.
TEST_F(Files, DeletionThroughAHandleChecksSharingAgain) {
    const fs::path path = dir_ / "late.log";
    WriteFile(path, "x");
    const auto delete_through = [](const File& file) {
        FILE_DISPOSITION_INFO disposition{TRUE};
        return SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                          sizeof disposition) != FALSE;
    };
    const File deleter = Open(path, DELETE, kShareAll);
    ASSERT_TRUE(deleter);
    {
        const Holder holder(path, true);
        EXPECT_FALSE(delete_through(deleter));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_TRUE(fs::exists(path));
    }
    const File reader = Open(path, GENERIC_READ, kShareAll);
    const File other_deleter = Open(path, DELETE, kShareAll);
    ASSERT_TRUE(reader);
    ASSERT_TRUE(other_deleter);
    EXPECT_TRUE(delete_through(deleter));
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(Files, InjectedFailuresReachEveryCall) {
    const fs::path path = dir_ / "file";
    WriteFile(path, "x");
    platform::testing::FailCall("CreateFileW", ERROR_ACCESS_DENIED, 1);
    EXPECT_FALSE(Open(path, GENERIC_READ, FILE_SHARE_READ));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    const File file = Open(path, GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(file);
    platform::testing::FailCall("GetFileInformationByHandle", ERROR_INVALID_FUNCTION, 1);
    BY_HANDLE_FILE_INFORMATION info{};
    EXPECT_FALSE(GetFileInformationByHandle(file.get(), &info));
    EXPECT_TRUE(GetFileInformationByHandle(file.get(), &info));
}

}  // namespace
