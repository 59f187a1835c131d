// The bounds that end an upload which would hold the window longer than its body needs, and
// the watch that applies them to one transfer from its progress reports.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

struct UploadBounds {
    // Fewer bytes than this per second, sent and received together, on average over the
    // window ends the transfer.
    std::int64_t floor_bytes_per_second = 0;
    std::chrono::milliseconds floor_window{0};
    // How long the reply may take once the whole body has been sent.
    std::chrono::milliseconds reply{0};
    // The whole upload's deadline: the base, plus the body's size at this rate.
    std::chrono::milliseconds deadline_base{0};
    std::int64_t deadline_bytes_per_second = 1;
};

// The time a body of `body_size` bytes may take as a whole.
std::chrono::milliseconds UploadDeadline(const UploadBounds& bounds, std::size_t body_size);

class UploadWatch {
public:
    using Clock = std::chrono::steady_clock;

    UploadWatch(const UploadBounds& bounds, std::size_t body_size, Clock::time_point start);

    // Takes one progress report of the transfer (the body's bytes sent, the reply's bytes
    // received, both counted afresh by a redirected request) and answers why it must end now,
    // or nothing while it may go on.
    std::optional<std::string> Check(Clock::time_point now, std::int64_t sent,
                                     std::int64_t received);

private:
    struct Sample {
        Clock::time_point time;
        std::int64_t moved;  // bytes moved since the start, every request counted
    };

    const UploadBounds bounds_;
    const std::int64_t body_size_;
    const Clock::time_point start_;
    const std::chrono::milliseconds deadline_;
    std::int64_t last_total_ = 0;
    std::int64_t moved_ = 0;
    std::deque<Sample> samples_;  // the floor's window, and the last sample before it
    std::optional<Clock::time_point> body_sent_;
};
