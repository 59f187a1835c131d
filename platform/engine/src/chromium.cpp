#include "platform/engine/src/chromium.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "engine_stand_in/windows.h"
#include "platform/engine/src/browser_guard.h"
#include "platform/engine/src/devtools_pipe.h"
#include "platform/engine/src/engine_window.h"
#include "platform/engine/src/text.h"

extern char** environ;

namespace engine_stand_in::detail {

namespace {

using namespace std::chrono_literals;

constexpr char kChromium[] = "/usr/bin/chromium";
constexpr auto kPoll = 200ms;
constexpr auto kAnswerTime = 2s;
constexpr auto kGuardTime = 10s;  // the guard's own grace for the browser is 3 s
// A blank page that both modes accept: an app window takes no "about:" address.
constexpr char kBlankPage[] = "data:text/html,";
constexpr int kNavigationTries = 25;

// The file that a test names to be told the remote-debugging endpoint; empty when none asked.
std::string DevToolsFile() {
    const char* const file = std::getenv(kDevToolsFileVariable);
    return file != nullptr ? file : "";
}

}  // namespace

Chromium::Chromium(const ChromiumWindow& window, std::function<void()> gone)
    : url_(window.url),
      gone_(std::move(gone)),
      width_(window.width),
      height_(window.height),
      port_asked_(!DevToolsFile().empty()) {
    // mkdtemp makes it 0700: what Chromium keeps there (the page's address among it) is the
    // user's alone.
    std::string folder =
        (std::filesystem::temp_directory_path() / "stand-in-chromium-XXXXXX").string();
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
    // The window's own address goes through the pipe: a command line is everyone's to read.
    if (window.headless) {
        arguments.insert(arguments.end(), {"--headless", kBlankPage});
    } else {
        arguments.insert(arguments.end(), {"--window-position=" + std::to_string(window.x) + "," +
                                               std::to_string(window.y),
                                           std::string("--app=") + kBlankPage});
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    // What Chromium makes in the temporary folder (its singleton socket's folder, scratch
    // folders) goes inside the profile folder, and with it.
    const std::string scratch = profile_ + "/t";
    std::string scratch_variable = "TMPDIR=" + scratch;
    std::vector<char*> envp;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::string_view(*variable).substr(0, 7) != "TMPDIR=") {
            envp.push_back(*variable);
        }
    }
    if (mkdir(scratch.c_str(), 0700) == 0) {
        envp.push_back(scratch_variable.data());
    }
    envp.push_back(nullptr);
    // Prepared before the fork: the guard only makes async-signal-safe calls.
    int channel[2] = {-1, -1};
    int lifeline[2] = {-1, -1};
    const auto fail = [&](const char* what) {
        for (const int descriptor : {channel[0], channel[1], lifeline[0], lifeline[1]}) {
            if (descriptor >= 0) {
                close(descriptor);
            }
        }
        std::error_code ignored;
        std::filesystem::remove_all(profile_, ignored);
        throw std::runtime_error(what);
    };
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0) {
        fail("no DevTools channel for chromium");
    }
    // A socket pair rather than a pipe: a byte sent to a guard that is gone is an error, not a
    // SIGPIPE to the program.
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, lifeline) != 0) {
        fail("no lifeline for chromium's guard");
    }
    const int profile = open(profile_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const GuardPlan plan{argv.data(), envp.data(), channel[1],      quiet,
                         lifeline[0], profile,     profile_.c_str()};
    guard_ = fork();
    if (guard_ == 0) {
        RunGuard(plan);
    }
    for (const int descriptor : {channel[1], lifeline[0], profile, quiet}) {
        if (descriptor >= 0) {
            close(descriptor);
        }
    }
    channel[1] = lifeline[0] = -1;
    if (guard_ < 0) {
        guard_ = -1;
        fail("cannot start chromium's guard");
    }
    devtools_ = std::make_unique<DevToolsPipe>(channel[0]);
    lifeline_ = lifeline[1];
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
    if (lifeline_ >= 0) {
        // The guard ends the browser, gracefully since the window ends in order, and removes
        // the profile folder.
        const char in_order = 'E';
        (void)send(lifeline_, &in_order, 1, MSG_NOSIGNAL);
        close(lifeline_);
        lifeline_ = -1;
    }
    if (guard_ > 0) {
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + kGuardTime;
        while (waitpid(guard_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(guard_, SIGKILL);  // the browser dies with it
                waitpid(guard_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(20ms);
        }
        guard_ = -1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(profile_, ignored);  // when the guard could not
}

std::optional<std::string> Chromium::PageTarget(const std::string& seen) {
    std::string error;
    const auto answer =
        devtools_->Call("Target.getTargets", nlohmann::json::object(), kAnswerTime, error);
    if (!answer || !answer->contains("targetInfos") || !(*answer)["targetInfos"].is_array()) {
        return std::nullopt;  // no answer is not an answer that the page is gone
    }
    for (const auto& target : (*answer)["targetInfos"]) {
        if (!target.is_object() || target.value("type", "") != "page") {
            continue;
        }
        const std::string id = target.value("targetId", "");
        if (seen.empty() ? target.value("url", "") == kBlankPage : id == seen) {
            return id;
        }
    }
    return std::string();
}

// Chromium's window size is its outer size: an app window adds its bars, a headless one takes
// a browser's bars off. The page area is what the window's size rules give.
void Chromium::SizePageArea(const std::string& target) {
    std::string error;
    const auto window =
        devtools_->Call("Browser.getWindowForTarget", {{"targetId", target}}, kAnswerTime, error);
    if (window && window->contains("windowId")) {
        const nlohmann::json size{
            {"windowId", (*window)["windowId"]}, {"width", width_}, {"height", height_}};
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

// Sends the page to the window's address through a session of its own on the pipe.
bool Chromium::Navigate(const std::string& target) {
    std::string error;
    const auto attached = devtools_->Call(
        "Target.attachToTarget", {{"targetId", target}, {"flatten", true}}, kAnswerTime, error);
    if (!attached || !attached->contains("sessionId") || !(*attached)["sessionId"].is_string()) {
        return false;
    }
    const std::string session = (*attached)["sessionId"].get<std::string>();
    const auto navigated =
        devtools_->Call("Page.navigate", {{"url", url_}}, kAnswerTime, error, session);
    devtools_->Call("Target.detachFromTarget", {{"sessionId", session}}, kAnswerTime, error);
    return navigated && !navigated->contains("errorText");
}

bool Chromium::PageCrashed(const std::string& target) {
    bool crashed = false;
    for (const auto& event : devtools_->TakeEvents()) {
        const auto& params = event.value("params", nlohmann::json::object());
        crashed = crashed || (params.is_object() && params.value("targetId", "") == target);
    }
    return crashed;
}

void Chromium::Watch() {
    std::string seen;  // the page's target id once the browser listed it
    bool navigated = false;
    int tries = 0;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            // Quick until the page is on its way; then a poll, which is also how closing
            // Chromium's window is seen.
            if (wake_.wait_for(lock, navigated ? kPoll : kPoll / 4, [this] { return ending_; })) {
                return;
            }
        }
        const auto page = PageTarget(seen);
        if (devtools_->Gone()) {
            break;  // the browser ended: its window went with it
        }
        if (!seen.empty() && PageCrashed(seen)) {
            // The browser would keep its window open on a crash page nobody can leave.
            EmitDebug(OT_DOM, OS_ERROR,
                      u"browser front: the page's process has ended; the window closes");
            break;
        }
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
            // The browser tells of a crashed page only to a client that watches its targets.
            devtools_->KeepEvents("Target.targetCrashed");
            std::string error;
            devtools_->Call("Target.setDiscoverTargets", {{"discover", true}}, kAnswerTime, error);
        }
        if (!navigated) {
            navigated = Navigate(seen);
            if (!navigated && ++tries >= kNavigationTries) {
                EmitDebug(OT_DOM, OS_ERROR,
                          u"browser front: the browser does not go to the window's page");
                break;
            }
            continue;
        }
        if (port_asked_) {
            Announce();  // after the sizing: a test sees the window as the program made it
        }
    }
    gone_();
}

}  // namespace engine_stand_in::detail
