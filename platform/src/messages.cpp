#include <windows.h>

#include <platform/window_registry.h>

#include <chrono>
#include <utility>

#include "platform/src/fault_injection.h"
#include "platform/src/window_state.h"

namespace platform::detail {

bool MessageFilter::Passes(const MSG& message) const {
    if (window == reinterpret_cast<HWND>(-1)) {
        if (message.hwnd != nullptr) {
            return false;
        }
    } else if (window != nullptr && message.hwnd != window) {
        return false;
    }
    if (min == 0 && max == 0) {
        return true;
    }
    return message.message >= min && message.message <= max;
}

void MessageQueue::Post(const MSG& message) {
    {
        const std::lock_guard lock(mutex_);
        posted_.push_back(message);
    }
    arrived_.notify_all();
}

void MessageQueue::PostQuit(WPARAM exit_code) {
    {
        const std::lock_guard lock(mutex_);
        quit_ = exit_code;
    }
    arrived_.notify_all();
}

std::optional<MSG> MessageQueue::Take(const MessageFilter& filter, bool remove) {
    const std::lock_guard lock(mutex_);
    for (auto it = posted_.begin(); it != posted_.end(); ++it) {
        if (filter.Passes(*it)) {
            const MSG message = *it;
            if (remove) {
                posted_.erase(it);
            }
            return message;
        }
    }
    if (quit_) {
        const MSG quit{nullptr, WM_QUIT, *quit_, 0, 0, {0, 0}};
        if (remove) {
            quit_.reset();
        }
        return quit;
    }
    return std::nullopt;
}

bool MessageQueue::HasMessage(const MessageFilter& filter) const {
    if (quit_) {
        return true;
    }
    for (const auto& message : posted_) {
        if (filter.Passes(message)) {
            return true;
        }
    }
    return false;
}

void MessageQueue::Wait(const MessageFilter& filter) {
    std::unique_lock lock(mutex_);
    arrived_.wait(lock, [&] { return HasMessage(filter); });
}

void MessageQueue::Clear() {
    const std::lock_guard lock(mutex_);
    posted_.clear();
    quit_.reset();
}

namespace {

struct ThreadState {
    ThreadState() = default;
    ThreadState(const ThreadState&) = delete;
    ThreadState& operator=(const ThreadState&) = delete;
    ~ThreadState() { DropWindowsOfThread(std::this_thread::get_id()); }

    std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>();
    IdleHandler idle;
    bool idle_running = false;
};

ThreadState& ThisThread() {
    thread_local ThreadState state;
    return state;
}

// Runs the idle handler unless there is none or it is already running; answers its answer.
bool RunIdleHandler() {
    auto& state = ThisThread();
    if (!state.idle || state.idle_running) {
        return false;
    }
    // A copy: the handler may replace or remove itself.
    const IdleHandler handler = state.idle;
    struct Running {
        explicit Running(bool& flag) : flag(flag) { flag = true; }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
        ~Running() { flag = false; }
        bool& flag;
    } running(state.idle_running);
    return handler();
}

DWORD TickCount() {
    using namespace std::chrono;
    return static_cast<DWORD>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// -1 is the filter for messages posted to no window.
bool IsValidFilterWindow(HWND window) {
    return window == nullptr || window == reinterpret_cast<HWND>(-1) ||
           FindWindowTarget(window).has_value();
}

const ResetRegistration kResetThisThread([] {
    auto& state = ThisThread();
    state.queue->Clear();
    state.idle = nullptr;
});

}  // namespace

std::shared_ptr<MessageQueue> ThisThreadQueue() { return ThisThread().queue; }

}  // namespace platform::detail

namespace platform {

void SetIdleHandler(IdleHandler handler) { detail::ThisThread().idle = std::move(handler); }

}  // namespace platform

extern "C" {

BOOL WINAPI GetMessageW(LPMSG message, HWND window, UINT filter_min, UINT filter_max) {
    using namespace platform::detail;
    if (TakeInjectedFailure("GetMessageW")) {
        return -1;
    }
    if (message == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (!IsValidFilterWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    const MessageFilter filter{window, filter_min, filter_max};
    const auto queue = ThisThreadQueue();
    for (;;) {
        if (const auto taken = queue->Take(filter, true)) {
            *message = *taken;
            return taken->message == WM_QUIT ? 0 : 1;
        }
        if (!RunIdleHandler()) {
            queue->Wait(filter);
        }
    }
}

BOOL WINAPI PeekMessageW(LPMSG message, HWND window, UINT filter_min, UINT filter_max,
                         UINT remove) {
    using namespace platform::detail;
    if (TakeInjectedFailure("PeekMessageW")) {
        return FALSE;
    }
    if (message == nullptr || !IsValidFilterWindow(window)) {
        SetLastError(message == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    const auto taken =
        ThisThreadQueue()->Take({window, filter_min, filter_max}, (remove & PM_REMOVE) != 0);
    if (!taken) {
        return FALSE;
    }
    *message = *taken;
    return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG* message) {
    if (message == nullptr) {
        return FALSE;
    }
    switch (message->message) {
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_SYSKEYDOWN:
        case WM_SYSKEYUP:
            return TRUE;
        default:
            return FALSE;
    }
}

LRESULT WINAPI DispatchMessageW(const MSG* message) {
    if (message == nullptr || message->hwnd == nullptr) {
        return 0;
    }
    const auto target = platform::detail::FindWindowTarget(message->hwnd);
    if (!target) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return (*target->procedure)(message->hwnd, message->message, message->wParam, message->lParam);
}

BOOL WINAPI PostMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    using namespace platform::detail;
    if (TakeInjectedFailure("PostMessageW")) {
        return FALSE;
    }
    const MSG posted{window, message, wparam, lparam, TickCount(), {0, 0}};
    if (window == nullptr) {
        ThisThreadQueue()->Post(posted);
        return TRUE;
    }
    const auto target = FindWindowTarget(window);
    if (!target) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    target->queue->Post(posted);
    return TRUE;
}

LRESULT WINAPI SendMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    const auto target = platform::detail::FindWindowTarget(window);
    if (!target) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (target->owner != std::this_thread::get_id()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    return (*target->procedure)(window, message, wparam, lparam);
}

void WINAPI PostQuitMessage(int exit_code) {
    platform::detail::ThisThreadQueue()->PostQuit(
        static_cast<WPARAM>(static_cast<INT_PTR>(exit_code)));
}
}
