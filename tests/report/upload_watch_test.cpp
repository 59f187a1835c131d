// The watch over one upload, fed progress reports at chosen times with the shipped bounds.
#include "report/upload_watch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/upload_testing.h"

namespace {

using std::chrono::milliseconds;
using Clock = UploadWatch::Clock;

struct Report {
    milliseconds at;
    std::int64_t sent;
    std::int64_t received;
};

// Feeds the reports in order; the time and reason of the first that ends the upload.
struct Ending {
    milliseconds at{-1};
    std::string reason;
};
Ending Watch(std::size_t body_size, const std::vector<Report>& reports) {
    const auto start = Clock::time_point{} + std::chrono::hours(1);
    UploadWatch watch(upload::testing::ShippedBounds(), body_size, start);
    for (const auto& report : reports) {
        if (auto reason = watch.Check(start + report.at, report.sent, report.received)) {
            return {report.at, *reason};
        }
    }
    return {};
}

// Reports once a second from `from` to `to` seconds, `sent` growing by `rate` bytes a second.
void Steady(std::vector<Report>& reports, int from, int to, std::int64_t sent_at_from,
            std::int64_t rate) {
    for (int second = from; second <= to; ++second) {
        reports.push_back({std::chrono::seconds(second), sent_at_from + (second - from) * rate, 0});
    }
}

constexpr std::size_t kDumpReport = 2796202;  // a 2 MiB dump in Base64

TEST(UploadWatch, TheFloorIsAnAverageOverItsWindow) {
    // 16 KiB/s goes on (the body is not through yet at 170 s).
    std::vector<Report> steady;
    Steady(steady, 0, 170, 0, 16 * 1024);
    EXPECT_EQ(Watch(kDumpReport, steady).at, milliseconds(-1));

    // Bursts of 30 KiB every 59 s: each one fast, 0.5 KiB/s on average. The first window
    // holds two bursts, just the floor's 60 KiB; the next holds one.
    std::vector<Report> bursts;
    for (int second = 0; second <= 200; ++second) {
        bursts.push_back({std::chrono::seconds(second), (second / 59 + 1) * 30 * 1024, 0});
    }
    const auto ending = Watch(kDumpReport, bursts);
    EXPECT_EQ(ending.at, std::chrono::seconds(61));
    EXPECT_EQ(ending.reason, "less than 1024 bytes per second over 60 s");
}

TEST(UploadWatch, TheReplyClockStartsWhenTheWholeBodyHasGone) {
    // 200 s for the body at 16 KiB/s, then a reply at 2 KiB/s, above the floor.
    std::vector<Report> reports;
    const std::int64_t body = 200 * 16 * 1024;
    Steady(reports, 0, 200, 0, 16 * 1024);
    for (int second = 201; second <= 300; ++second) {
        reports.push_back({std::chrono::seconds(second), body, (second - 200) * 2048});
    }
    const auto ending = Watch(static_cast<std::size_t>(body), reports);
    EXPECT_EQ(ending.at, std::chrono::seconds(260));
    EXPECT_EQ(ending.reason, "no reply within 60 s of the request");

    // A redirect sends the body again and counts from 0: the reply's clock starts afresh, and
    // what the first request moved still counts as moved.
    std::vector<Report> redirected{{std::chrono::seconds(0), 0, 0}};
    for (int second = 1; second <= 30; ++second) {
        redirected.push_back({std::chrono::seconds(second), 40 * 1024, (second - 1) * 1536});
    }
    for (int second = 31; second <= 200; ++second) {
        redirected.push_back({std::chrono::seconds(second), 40 * 1024, (second - 31) * 1536});
    }
    redirected[31].sent = 0;
    const auto redirect_ending = Watch(40 * 1024, redirected);
    EXPECT_EQ(redirect_ending.at, std::chrono::seconds(92));
    EXPECT_EQ(redirect_ending.reason, "no reply within 60 s of the request");
}

TEST(UploadWatch, TheDeadlineGrowsWithTheBody) {
    const auto bounds = upload::testing::ShippedBounds();
    EXPECT_EQ(UploadDeadline(bounds, 0), std::chrono::minutes(2));
    EXPECT_EQ(UploadDeadline(bounds, 100 * 16 * 1024), std::chrono::seconds(220));

    // A body moving at 2 KiB/s, above the floor, for ever.
    std::vector<Report> reports;
    Steady(reports, 0, 400, 0, 2048);
    const auto ending = Watch(kDumpReport, reports);
    EXPECT_EQ(ending.at, std::chrono::seconds(291));
    EXPECT_EQ(ending.reason, "not done within 290.6 s, the deadline for 2796202 bytes");

    // The deadline itself ends it: 130 s for 10 s of body at 16 KiB/s, the body never through.
    std::vector<Report> to_the_second;
    Steady(to_the_second, 0, 140, 0, 1100);
    const auto at_deadline = Watch(10 * 16 * 1024, to_the_second);
    EXPECT_EQ(at_deadline.at, std::chrono::seconds(130));
    EXPECT_EQ(at_deadline.reason, "not done within 130 s, the deadline for 163840 bytes");
}

}  // namespace
