// The double itself: which builds it can stand in for, and a fixed port shared between
// processes.
#include "report_service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>

namespace {

using test_support::ReportService;
using test_support::ReportServiceOptions;

TEST(ReportServiceDouble, StandsInOnlyForTwoLoopbackPorts) {
    struct Case {
        const char* production;
        const char* staging;
        bool can;
    };
    const Case kCases[] = {
        {"https://127.0.0.1:44731/api", "https://127.0.0.1:44732/api", true},
        {"https://127.0.0.1:1/api", "https://127.0.0.1:65535", true},
        {"https://reports.quorbelin.invalid/api", "https://reports-staging.quorbelin.invalid/api", false},
        {"https://127.0.0.1:44731/api", "https://reports-staging.quorbelin.invalid/api", false},
        {"https://127.0.0.1:44731/api", "https://127.0.0.1:44731/api", false},
        {"https://127.0.0.1/api", "https://127.0.0.1:44732/api", false},
        {"https://127.0.0.1:65536/api", "https://127.0.0.1:44732/api", false},
        {"http://127.0.0.1:44731/api", "https://127.0.0.1:44732/api", false},
        {"https://localhost:44731/api", "https://127.0.0.1:44732/api", false},
        {"https://127.0.0.1:44731.example/api", "https://127.0.0.1:44732/api", false},
    };
    for (const auto& item : kCases) {
        SCOPED_TRACE(std::string(item.production) + " " + item.staging);
        const auto reason = test_support::WhyNotOnLoopback(item.production, item.staging);
        EXPECT_EQ(!reason.has_value(), item.can) << reason.value_or("");
    }
}

// Another clone's run that wants the same fixed port waits for it instead of failing to bind.
TEST(ReportServiceDouble, ProcessesTakeAFixedPortInTurns) {
    const int port = test_support::UnusedLoopbackPort();
    const std::filesystem::path lock_file = "/tmp/tallorin-port-" + std::to_string(port) + ".lock";
    const bool fresh = !std::filesystem::exists(lock_file);
    auto first = std::make_unique<ReportService>(ReportServiceOptions{.production_port = port});
    auto second = std::async(std::launch::async, [port] {
        return std::make_unique<ReportService>(ReportServiceOptions{.production_port = port});
    });
    // Longer than the double tries a busy port again before it gives up.
    EXPECT_EQ(second.wait_for(std::chrono::seconds(3)), std::future_status::timeout);
    first.reset();
    EXPECT_EQ(second.get()->production_port(), port);  // throws when it did not start
    if (fresh) {
        std::filesystem::remove(lock_file);  // made for this test: no other run uses it
    }
}

}  // namespace
