#include "chromium.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <vector>

#include "devtools_pipe.h"
#include "engine_stand_in/windows.h"
#include "engine_window.h"
#include "text.h"

extern char** environ;

namespace engine_stand_in::detail {

namespace {

using namespace std::chrono_literals;

constexpr char kChromium[] = "/usr/bin/chromium";
constexpr auto kPoll = 200ms;
constexpr auto kAnswerTime = 2s;

// The file that a test names to be told the remote-debugging endpoint; empty when none asked.
std::string DevToolsFile() {
    const char* const file = std::getenv(kDevToolsFileVariable);
    return file != nullptr ? file : "";
}

}  // namespace

Chromium::Chromium(const ChromiumWindow& window, std::string page_prefix,
                   std::function<void()> gone)
    : page_prefix_(std::move(page_prefix)),
      gone_(std::move(gone)),
      width_(window.width),
      height_(window.height),
      port_asked_(!DevToolsFile().empty()) {
    std::string folder = (std::filesystem::temp_directory_path() / "stand-in-chromium-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) {
        throw std::runtime_error("no profile folder for chromium");
    }
    profile_ = folder;
    std::vector<std::string> arguments{
        kChromium, "--disable-gpu", "--disable-quic", "--no-first-run",
        "--disable-background-networking", "--disable-component-update", "--disable-sync",
        "--no-default-browser-check", "--user-data-dir=" + profile_,
        // The window size is the page area's; the watcher makes it so once the page is there.
        "--window-size=" + std::to_string(window.width) + "," + std::to_string(window.height),
        "--remote-debugging-pipe"};
    if (geteuid() == 0) {
        // Chromium refuses root without it; --test-type keeps its warning bar off the window.
        arguments.insert(arguments.end(), {"--no-sandbox", "--test-type"});
    }
    if (port_asked_) {
        // Any local process can reach this port: only tests and demos that drive the page ask.
        arguments.insert(arguments.end(),
                         {"--remote-debugging-address=127.0.0.1", "--remote-debugging-port=0"});
    }
    if (window.headless) {
        arguments.insert(arguments.end(), {"--headless", window.url});
    } else {
        arguments.insert(arguments.end(),
                         {"--window-position=" + std::to_string(window.x) + "," +
                              std::to_string(window.y),
                          "--app=" + window.url});
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    // Prepared before the fork: the child only makes async-signal-safe calls.
    int channel[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0) {
        std::filesystem::remove_all(profile_);
        throw std::runtime_error("no DevTools channel for chromium");
    }
    devtools_ = std::make_unique<DevToolsPipe>(channel[0]);
    // Above 4, so that putting it on 3 and 4 in the child cannot overwrite it first.
    const int browser_end = fcntl(channel[1], F_DUPFD_CLOEXEC, 5);
    close(channel[1]);
    const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_ = browser_end < 0 ? -1 : fork();
    if (pid_ == 0) {
        // A browser whose program was killed would live on: it dies with the program.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        setpgid(0, 0);
        if (quiet >= 0) {
            // Chromium talks a lot on its own streams; the program's output is not the place.
            dup2(quiet, 1);
            dup2(quiet, 2);
        }
        // --remote-debugging-pipe: commands come in on 3, answers go out on 4.
        dup2(browser_end, 3);
        dup2(browser_end, 4);
        execve(kChromium, argv.data(), environ);
        _exit(127);
    }
    if (quiet >= 0) {
        close(quiet);
    }
    if (browser_end >= 0) {
        close(browser_end);
    }
    if (pid_ < 0) {
        pid_ = -1;
        std::filesystem::remove_all(profile_);
        throw std::runtime_error("cannot start " + std::string(kChromium));
    }
    setpgid(pid_, pid_);  // also here: End may come before the child has run
    group_ = pid_;
    watcher_ = std::thread([this] { Watch(); });
}

Chromium::~Chromium() { End(); }

void Chromium::End() {
    {
        const std::lock_guard lock(mutex_);
        if (ending_) {
            return;
        }
        ending_ = true;
    }
    wake_.notify_all();
    if (watcher_.joinable()) {
        watcher_.join();
    }
    if (pid_ > 0) {
        kill(-group_, SIGTERM);  // the browser and its helper processes
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(-group_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(20ms);
        }
        pid_ = -1;
    }
    if (group_ > 0) {
        kill(-group_, SIGKILL);  // helpers that outlived the browser
    }
    std::error_code ignored;
    std::filesystem::remove_all(profile_, ignored);
}

std::optional<std::string> Chromium::PageTarget(const std::string& seen) {
    std::string error;
    const auto answer = devtools_->Call("Target.getTargets", nlohmann::json::object(), kAnswerTime, error);
    if (!answer || !answer->contains("targetInfos") || !(*answer)["targetInfos"].is_array()) {
        return std::nullopt;  // no answer is not an answer that the page is gone
    }
    for (const auto& target : (*answer)["targetInfos"]) {
        if (!target.is_object() || target.value("type", "") != "page") {
            continue;
        }
        const std::string id = target.value("targetId", "");
        if (seen.empty() ? target.value("url", "").starts_with(page_prefix_) : id == seen) {
            return id;
        }
    }
    return std::string();
}

// Chromium's window size is its outer size: an app window adds its bars, a headless one takes
// a browser's bars off. The page area is what the window's size rules give.
void Chromium::SizePageArea(const std::string& target) {
    std::string error;
    const auto window = devtools_->Call("Browser.getWindowForTarget", {{"targetId", target}},
                                        kAnswerTime, error);
    if (window && window->contains("windowId")) {
        const nlohmann::json size{{"windowId", (*window)["windowId"]}, {"width", width_},
                                  {"height", height_}};
        if (devtools_->Call("Browser.setContentsSize", size, kAnswerTime, error)) {
            return;
        }
    }
    EmitDebug(OT_DOM, OS_WARNING,
              Utf8ToUnits("browser front: the page area keeps the browser's size: " + error));
}

// The asked-for port, once Chromium has opened it, goes to the debug output and the test's file.
void Chromium::Announce() {
    std::ifstream active(std::filesystem::path(profile_) / "DevToolsActivePort");
    int port = 0;
    if (!(active >> port) || port <= 0) {
        return;
    }
    const std::string endpoint = "http://127.0.0.1:" + std::to_string(port);
    EmitDebug(OT_DOM, OS_INFO, Utf8ToUnits("browser front: DevTools at " + endpoint));
    if (const std::string file = DevToolsFile(); !file.empty()) {
        const std::string temporary = file + ".tmp";
        std::ofstream(temporary, std::ios::trunc) << endpoint << '\n';
        std::error_code ignored;
        std::filesystem::rename(temporary, file, ignored);
    }
    port_asked_ = false;
}

void Chromium::Watch() {
    std::string seen;  // the page's target id once it showed the window
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            if (wake_.wait_for(lock, kPoll, [this] { return ending_; })) {
                return;
            }
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            break;  // the browser ended: its window went with it
        }
        const auto page = PageTarget(seen);
        if (!page) {
            continue;
        }
        if (page->empty()) {
            if (!seen.empty()) {
                break;  // the page's window was closed
            }
            continue;
        }
        if (seen.empty()) {
            seen = *page;
            SizePageArea(*page);
        }
        if (port_asked_) {
            Announce();  // after the sizing: a test sees the window as the program made it
        }
    }
    gone_();
}

}  // namespace engine_stand_in::detail
