// Owns one kernel handle and closes it once, when it goes out of scope or is reset.
#pragma once

#include <windows.h>

#include <utility>

class ScopedHandle {
public:
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ScopedHandle(ScopedHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ~ScopedHandle() { Reset(); }

    HANDLE get() const { return handle_; }
    // Creation calls answer INVALID_HANDLE_VALUE on failure, never null.
    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }

    void Reset() {
        if (*this) {
            CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
        }
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};
