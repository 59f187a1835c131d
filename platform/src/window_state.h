// State shared by the window registry and the message queue: each window knows the queue of
// the thread it belongs to.
#pragma once

#include <platform/window_registry.h>
#include <windows.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace platform::detail {

// Which messages a GetMessageW or PeekMessageW call takes.
struct MessageFilter {
    HWND window = nullptr;
    UINT min = 0;
    UINT max = 0;

    bool Passes(const MSG& message) const;
};

// One thread's queue. Any thread posts; only the owner takes.
class MessageQueue {
public:
    void Post(const MSG& message);
    void PostQuit(WPARAM exit_code);
    // The first posted message that passes the filter, else the quit message (any filter).
    std::optional<MSG> Take(const MessageFilter& filter, bool remove);
    // Returns once Take would find something.
    void Wait(const MessageFilter& filter);
    void Clear();

private:
    bool HasMessage(const MessageFilter& filter) const;  // caller holds mutex_

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<MSG> posted_;
    std::optional<WPARAM> quit_;
};

std::shared_ptr<MessageQueue> ThisThreadQueue();

// What the message calls need of a window; geometry stays inside the registry.
struct WindowTarget {
    std::thread::id owner;
    std::shared_ptr<MessageQueue> queue;
    std::shared_ptr<const WindowProcedure> procedure;
};

// Empty for a handle that is not (any more) a window.
std::optional<WindowTarget> FindWindowTarget(HWND window);

}  // namespace platform::detail

namespace platform::detail {

// A thread that ends takes its windows with it; their procedures are not called.
void DropWindowsOfThread(std::thread::id thread);

}  // namespace platform::detail
