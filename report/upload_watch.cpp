#include "report/upload_watch.h"

#include <algorithm>

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kSampleSpacing{100};

// "2 s", "290.7 s".
std::string Text(milliseconds duration) {
    const auto tenths = duration.count() / 100;
    return std::to_string(tenths / 10) +
           (tenths % 10 == 0 ? std::string() : "." + std::to_string(tenths % 10)) + " s";
}

}  // namespace

milliseconds UploadDeadline(const UploadBounds& bounds, std::size_t body_size) {
    const auto rate = std::max<std::int64_t>(bounds.deadline_bytes_per_second, 1);
    return bounds.deadline_base + milliseconds(static_cast<std::int64_t>(body_size) * 1000 / rate);
}

UploadWatch::UploadWatch(const UploadBounds& bounds, std::size_t body_size, Clock::time_point start)
    : bounds_(bounds),
      body_size_(static_cast<std::int64_t>(body_size)),
      start_(start),
      deadline_(UploadDeadline(bounds, body_size)),
      samples_{{start, 0}} {}

std::optional<std::string> UploadWatch::Check(Clock::time_point now, std::int64_t sent,
                                              std::int64_t received) {
    const std::int64_t total = sent + received;
    // A redirected request counts from 0 again; what the earlier ones moved stays moved.
    moved_ += total >= last_total_ ? total - last_total_ : total;
    last_total_ = total;

    if (now - start_ >= deadline_) {
        return "not done within " + Text(deadline_) + ", the deadline for " +
               std::to_string(body_size_) + " bytes";
    }

    if (sent < body_size_) {
        body_sent_.reset();
    } else if (!body_sent_) {
        body_sent_ = now;
    }
    if (body_sent_ && now - *body_sent_ >= bounds_.reply) {
        return "no reply within " + Text(bounds_.reply) + " of the request";
    }

    // A sample a tenth of a second is plenty for a window of seconds, and keeps the window's
    // samples few however often libcurl reports.
    if (now - samples_.back().time >= kSampleSpacing) {
        samples_.push_back({now, moved_});
    }
    const auto window_start = now - bounds_.floor_window;
    while (samples_.size() > 1 && samples_[1].time <= window_start) {
        samples_.pop_front();
    }
    const std::int64_t floor = bounds_.floor_bytes_per_second * bounds_.floor_window.count() / 1000;
    if (now - start_ >= bounds_.floor_window && moved_ - samples_.front().moved < floor) {
        return "less than " + std::to_string(bounds_.floor_bytes_per_second) +
               " bytes per second over " + Text(bounds_.floor_window);
    }
    return std::nullopt;
}
