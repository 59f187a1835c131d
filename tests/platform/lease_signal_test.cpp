// The layer asks the kernel about other opens of a file with a lease. A lease break is signalled;
// whatever signal comes, it must never end the process, while a program's own SIGIO handler
// stays its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class LeaseSignals : public ::testing::Test {
protected:
    void SetUp() override { test_support::WriteFile(file_, "x"); }
    test_support::ChildResult Loop(int rounds, const std::string& mode) const {
        test_support::ChildOptions options;
        options.arguments = {file_.string(), std::to_string(rounds), mode};
        options.timeout_seconds = 120;
        return test_support::RunChild(test_support::BinaryFolder() / "lease_probe_loop", options);
    }
    test_support::TempDir dir_;
    const fs::path file_ = dir_ / "shared.log";
};

// SIGIO raised after the layer's probes, in a process that starts with its default: it is
// ignored. A process that handles SIGIO itself keeps its handler.
TEST_F(LeaseSignals, SigioAfterAProbeEndsNothing) {
    for (const char* mode : {"default", "handled"}) {
        SCOPED_TRACE(mode);
        const auto result = Loop(1, mode);
        EXPECT_FALSE(result.signalled) << result.exit_code;
        EXPECT_EQ(result.exit_code, 0) << result.output;
    }
}

// Two processes probe the same file while this one opens it plainly, so that opens land inside
// leases: neither ends by a signal.
TEST_F(LeaseSignals, TwoProcessesProbingOneFileSurvive) {
    std::atomic<bool> done{false};
    std::thread opener([&] {
        while (!done) {
            const int plain = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
            if (plain >= 0) {
                ::close(plain);
            }
        }
    });
    std::vector<std::thread> runs;
    std::vector<test_support::ChildResult> results(2);
    for (auto& result : results) {
        runs.emplace_back([&] { result = Loop(20000, "default"); });
    }
    for (auto& run : runs) {
        run.join();
    }
    done = true;
    opener.join();
    for (const auto& result : results) {
        EXPECT_FALSE(result.signalled) << "exit " << result.exit_code;
        EXPECT_EQ(result.exit_code, 0) << result.output;
    }
}

}  // namespace
