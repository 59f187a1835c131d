// Debian's Chromium as the browser front's window: started with a fresh profile folder, shown
// as an app window on a display or run headless with a remote-debugging port, watched until
// its window is gone, and ended with its window.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include <sys/types.h>

namespace engine_stand_in::detail {

struct ChromiumWindow {
    std::string url;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool headless = true;
};

class Chromium {
public:
    // Starts the browser at the window's page; `gone` is called once, from a thread of its own,
    // when the page's window has been closed (or the browser ended) by other means than End.
    // Throws std::runtime_error when it cannot start.
    Chromium(const ChromiumWindow& window, std::string page_prefix, std::function<void()> gone);
    Chromium(const Chromium&) = delete;
    Chromium& operator=(const Chromium&) = delete;
    ~Chromium();

    // Ends the browser and removes its profile folder.
    void End();

private:
    void Watch();
    bool PageListed();

    const std::string page_prefix_;
    const std::function<void()> gone_;
    const bool headless_;
    std::string profile_;
    pid_t pid_ = -1;    // until reaped
    pid_t group_ = -1;  // the browser's process group: its helpers too
    int devtools_port_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool ending_ = false;
    std::thread watcher_;
};

}  // namespace engine_stand_in::detail
