// The before-call seam: a test's callback runs just before a named file call acts on a named
// path, before any check the call makes, so that a swap lands at the worst moment.
#include <platform/testing.h>
#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/scoped_handle.h"
#include "tests/platform/folder_handles.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::WriteFile;

using Handle = ScopedHandle;

class BeforeCalls : public ::testing::Test {
protected:
    void SetUp() override {
        platform::testing::Reset();
        fs::create_directories(dir_ / "folder");
        fs::create_directories(dir_ / "outside");
        WriteFile(file_, "inside");
        WriteFile(dir_ / "outside" / "secret", "outside");
    }
    void TearDown() override {
        platform::testing::Reset();
        EXPECT_EQ(platform::testing::OpenHandleCount(), 0u);
    }
    Handle OpenFile(DWORD access = GENERIC_READ | GENERIC_WRITE | DELETE) const {
        return Handle(CreateFileW(file_.wstring().c_str(), access, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    }
    test_support::TempDir dir_;
    const fs::path file_ = dir_ / "folder" / "file.log";
};

// The file swapped for a hard link to an outside file just before the open: the open sees the
// link, so a check after it (the link count) is what tells.
TEST_F(BeforeCalls, ASwapLandsBeforeTheOpenLooks) {
    const auto swap = [this] {
        fs::remove(file_);
        fs::create_hard_link(dir_ / "outside" / "secret", file_);
    };
    platform::testing::BeforeCall("NtCreateFile", file_.string(), swap);
    const Handle folder(OpenFolder(dir_ / "folder"));
    const auto opened = OpenInside(folder.get(), L"file.log", GENERIC_READ,
                                   FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
    const Handle file(opened.handle);
    ASSERT_EQ(opened.status, STATUS_SUCCESS);
    EXPECT_EQ(InformationOf(file.get()).nNumberOfLinks, 2u);

    // A link put at a path just before CreateFileW opens it as itself.
    platform::testing::BeforeCall("CreateFileW", file_.string(), [this] {
        fs::remove(file_);
        fs::create_symlink(dir_ / "outside" / "secret", file_);
    });
    const Handle link = OpenFile(0);
    ASSERT_TRUE(link);
    EXPECT_NE(InformationOf(link.get()).dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
}

// Every call on a handle runs its callbacks by the path the handle was opened at: `times`
// calls, then no more; times < 0, every call.
TEST_F(BeforeCalls, EveryCallOnAHandleRunsItsCallbacks) {
    const Handle folder(OpenFolder(dir_ / "folder"));
    const auto calls = std::map<std::string, std::function<void(HANDLE)>>{
        {"ReadFile",
         [](HANDLE file) {
             char byte = 0;
             DWORD got = 0;
             ::ReadFile(file, &byte, 1, &got, nullptr);
         }},
        {"WriteFile",
         [](HANDLE file) {
             DWORD put = 0;
             ::WriteFile(file, "x", 1, &put, nullptr);
         }},
        {"SetFilePointer", [](HANDLE file) { SetFilePointer(file, 0, nullptr, FILE_BEGIN); }},
        {"SetEndOfFile", [](HANDLE file) { SetEndOfFile(file); }},
        {"GetFileInformationByHandle", [](HANDLE file) { InformationOf(file); }},
        {"GetFileInformationByHandleEx",
         [](HANDLE file) {
             std::byte buffer[512];
             GetFileInformationByHandleEx(file, FileIdBothDirectoryRestartInfo, buffer,
                                          sizeof buffer);
         }},
        {"SetFileInformationByHandle",
         [](HANDLE file) {
             FILE_DISPOSITION_INFO keep{FALSE};
             SetFileInformationByHandle(file, FileDispositionInfo, &keep, sizeof keep);
         }},
    };
    for (const auto& [function, call] : calls) {
        for (const int times : {2, -1}) {
            SCOPED_TRACE(function + " times " + std::to_string(times));
            const auto opened =
                OpenInside(folder.get(), L"file.log", GENERIC_READ | GENERIC_WRITE | DELETE, 0);
            const Handle file(opened.handle);
            ASSERT_EQ(opened.status, STATUS_SUCCESS);
            int ran = 0;
            platform::testing::BeforeCall(
                function, file_.string(), [&ran] { ++ran; }, times);
            // Another call, or another path, runs nothing.
            platform::testing::BeforeCall(
                function, file_.string() + "x", [] { ADD_FAILURE(); }, -1);
            platform::testing::BeforeCall(
                function == "ReadFile" ? "WriteFile" : "ReadFile", file_.string(),
                [] { ADD_FAILURE(); }, -1);
            for (int round = 0; round < 4; ++round) {
                call(file.get());
            }
            EXPECT_EQ(ran, times < 0 ? 4 : times);
            platform::testing::ClearBeforeCalls();
            call(file.get());
            EXPECT_EQ(ran, times < 0 ? 4 : times);
        }
    }
}

// Paths as they are matched: CreateFileW's made absolute with '\' as '/', the registration's
// trailing slash dropped, a handle's path where a rename through it took it.
TEST_F(BeforeCalls, PathsAreFullPaths) {
    int ran = 0;
    const auto count = [&ran] { ++ran; };
    platform::testing::BeforeCall("CreateFileW", file_.string(), count);
    const fs::path relative = fs::relative(file_);
    ASSERT_TRUE(relative.is_relative());
    std::wstring backslashed = relative.wstring();
    std::replace(backslashed.begin(), backslashed.end(), L'/', L'\\');
    EXPECT_TRUE(Handle(CreateFileW(backslashed.c_str(), GENERIC_READ, kShareAll, nullptr,
                                   OPEN_EXISTING, 0, nullptr)));
    EXPECT_EQ(ran, 1);

    platform::testing::BeforeCall("GetFileInformationByHandle", (dir_ / "folder" / "").string(),
                                  count, -1);
    const Handle folder(OpenFolder(dir_ / "folder"));
    InformationOf(folder.get());
    EXPECT_EQ(ran, 2);

    const Handle file = OpenFile();
    platform::testing::BeforeCall("ReadFile", (dir_ / "folder" / "moved.log").string(), count, -1);
    std::vector<std::byte> buffer(offsetof(FILE_RENAME_INFO, FileName) + 9 * sizeof(WCHAR));
    auto* const rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->RootDirectory = folder.get();
    rename->FileNameLength = 9 * sizeof(WCHAR);
    std::wstring(L"moved.log").copy(rename->FileName, 9);
    ASSERT_TRUE(SetFileInformationByHandle(file.get(), FileRenameInfo, rename,
                                           static_cast<DWORD>(buffer.size())));
    char byte = 0;
    DWORD got = 0;
    EXPECT_TRUE(::ReadFile(file.get(), &byte, 1, &got, nullptr));
    EXPECT_EQ(ran, 3);
}

// A callback may use the file calls and register more; the calls it makes run no callbacks,
// so one that calls what it watches runs once per call of the program's.
TEST_F(BeforeCalls, ACallbackMayUseTheFileCalls) {
    const Handle file = OpenFile(GENERIC_READ);
    int ran = 0;
    int later = 0;
    platform::testing::BeforeCall(
        "ReadFile", file_.string(),
        [&] {
            if (++ran > 1) {
                return;  // run again by its own call: stop that here
            }
            char byte = 0;
            DWORD got = 0;
            EXPECT_TRUE(::ReadFile(file.get(), &byte, 1, &got, nullptr));
            SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
            platform::testing::BeforeCall("SetFilePointer", file_.string(), [&] { ++later; });
        },
        -1);
    char bytes[6] = {};
    DWORD got = 0;
    ASSERT_TRUE(::ReadFile(file.get(), bytes, sizeof bytes, &got, nullptr));
    EXPECT_EQ(std::string(bytes, got), "inside");
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(later, 0);  // registered, not yet reached
    SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
    EXPECT_EQ(later, 1);
}

// Threads that read the same file at once each run the callback for their own call.
TEST_F(BeforeCalls, CallsOnManyThreadsEachRunTheirCallback) {
    constexpr int kThreads = 8;
    constexpr int kReads = 200;
    std::atomic<int> ran{0};
    platform::testing::BeforeCall(
        "ReadFile", file_.string(), [&ran] { ++ran; }, -1);
    std::vector<std::thread> threads;
    for (int index = 0; index < kThreads; ++index) {
        threads.emplace_back([this] {
            const Handle file = OpenFile(GENERIC_READ);
            for (int read = 0; read < kReads; ++read) {
                char byte = 0;
                DWORD got = 0;
                ::ReadFile(file.get(), &byte, 1, &got, nullptr);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(ran.load(), kThreads * kReads);
}

// A real run takes its callbacks from the file that PLATFORM_BEFORE_CALL names: each runs a
// shell command, and the program goes on once it is done.
TEST_F(BeforeCalls, ARealRunTakesThemFromTheEnvironment) {
    const fs::path probe = test_support::BinaryFolder() / "before_call_probe";
    const auto run = [&](const std::string& json) {
        const fs::path file = dir_ / "before.json";
        std::ofstream(file) << json;
        test_support::ChildOptions options;
        options.arguments = {(dir_ / "folder").string(), "file.log"};
        options.environment["PLATFORM_BEFORE_CALL"] = file.string();
        options.timeout_seconds = 60;
        return test_support::RunChild(probe, options);
    };
    const std::string path = file_.string();
    const std::string secret = (dir_ / "outside" / "secret").string();
    const struct Case {
        const char* what;
        std::string json;
        const char* output;
    } cases[] = {
        {"nothing registered", "[]", "inside"},
        {"a hard link before the open",
         R"([{"call": "NtCreateFile", "path": ")" + path + R"(", "run": "ln -f ')" + secret +
             "' '" + path + R"('"}])",
         "refused"},
        {"new content before the read, once",
         R"([{"call": "ReadFile", "path": ")" + path + R"(", "run": "printf swapped > ')" + path +
             R"('", "times": 1}])",
         "swapped"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(file_);  // it may be a hard link of the outside file now
        WriteFile(file_, "inside");
        const auto result = run(c.json);
        EXPECT_EQ(result.exit_code, 0) << result.output;
        EXPECT_EQ(result.output, c.output);
    }
    EXPECT_EQ(ReadFile(dir_ / "outside" / "secret"), "outside");

    // A file that cannot be read ends the run rather than running it without its swaps.
    const auto broken = run(R"([{"call": "ReadFile"}])");
    EXPECT_TRUE(broken.signalled) << broken.output;
    EXPECT_NE(broken.output.find("PLATFORM_BEFORE_CALL"), std::string::npos);
}

}  // namespace
