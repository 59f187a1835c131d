// For tests only: a shorter stall bound for the uploads, so that a test can hold a transfer
// still past it, or trickle a reply over longer than it, without waiting the shipped minute.
#pragma once

#include <chrono>
#include <cstdint>

namespace upload::testing {

// While it lives, an upload that moves less than a byte per second for `window` ends as
// stalled. Not for concurrent use.
class ScopedStallWindow {
public:
    explicit ScopedStallWindow(std::chrono::seconds window);
    ScopedStallWindow(const ScopedStallWindow&) = delete;
    ScopedStallWindow& operator=(const ScopedStallWindow&) = delete;
    ~ScopedStallWindow();

private:
    std::int32_t previous_;
};

}  // namespace upload::testing
