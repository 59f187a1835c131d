// Debian's Chromium as the browser front's window: started with a fresh profile folder, shown
// as an app window on a display or run headless, its page area sized to the window's size,
// watched until its window is gone or its page's process ends, and ended with its window. The
// engine drives it through a DevTools pipe of its own; a remote-debugging port is opened only when
// a test asks for one.
//
// The window's address carries the run's secret, and every local user can read a process's
// command line: Chromium starts on a blank page and is sent to the address through the pipe.
// A guard process (browser_guard.h) starts it and ends it, and removes its profile folder,
// however the program ends.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <sys/types.h>

namespace engine_stand_in::detail {

class DevToolsPipe;

struct ChromiumWindow {
    std::string url;  // never on Chromium's command line
    int x = 0;
    int y = 0;
    int width = 0;  // of the page area
    int height = 0;
    bool headless = true;
};

class Chromium {
public:
    // Starts the browser and sends it to the window's page; `gone` is called once, from a thread
    // of its own, when the page's window has been closed, its page's process ended, or the
    // browser ended, by other means than End. Throws std::runtime_error when it cannot start.
    Chromium(const ChromiumWindow& window, std::function<void()> gone);
    Chromium(const Chromium&) = delete;
    Chromium& operator=(const Chromium&) = delete;
    ~Chromium();

    // Ends the browser and removes its profile folder; returns once both are done (the guard's
    // grace for the browser at most).
    void End();

private:
    void Watch();
    // The id of the window's page among the browser's targets: before it was seen, the blank
    // page the browser started on; after, the target with the id `seen`, whatever its address
    // (while it loads again it shows none). Empty when it is not listed, none when the browser
    // did not answer.
    std::optional<std::string> PageTarget(const std::string& seen);
    void SizePageArea(const std::string& target);
    // Whether the browser told, since the last look, that the target's page process ended.
    bool PageCrashed(const std::string& target);
    bool Navigate(const std::string& target);
    void Announce();

    const std::string url_;
    const std::function<void()> gone_;
    const int width_;
    const int height_;
    std::string profile_;
    std::unique_ptr<DevToolsPipe> devtools_;  // the watcher's alone
    bool port_asked_ = false;
    pid_t guard_ = -1;   // until reaped
    int lifeline_ = -1;  // the guard's lifeline, write end: closed, the guard ends the browser
    std::mutex mutex_;
    std::condition_variable wake_;
    bool ending_ = false;
    std::thread watcher_;
};

}  // namespace engine_stand_in::detail
