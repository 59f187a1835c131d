#include "chromium.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
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

#include "engine_stand_in/windows.h"
#include "engine_window.h"
#include "text.h"

extern char** environ;

namespace engine_stand_in::detail {

namespace {

using namespace std::chrono_literals;

constexpr char kChromium[] = "/usr/bin/chromium";
constexpr auto kPoll = 200ms;

// A plain GET to the browser's debugging port; the body, or empty.
std::string DevToolsGet(int port, const std::string& path) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        return {};
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    timeval timeout{2, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string answer;
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                                    std::to_string(port) + "\r\nConnection: close\r\n\r\n";
        if (send(s, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            char buffer[8192];
            ssize_t n = 0;
            while ((n = recv(s, buffer, sizeof buffer, 0)) > 0) {
                answer.append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    close(s);
    const auto body = answer.find("\r\n\r\n");
    return answer.starts_with("HTTP/1.1 200") && body != std::string::npos ? answer.substr(body + 4)
                                                                         : std::string();
}

void Announce(int port) {
    const std::string endpoint = "http://127.0.0.1:" + std::to_string(port);
    EmitDebug(OT_DOM, OS_INFO, Utf8ToUnits("browser front: DevTools at " + endpoint));
    if (const char* const file = std::getenv(kDevToolsFileVariable); file != nullptr && *file != 0) {
        const std::string temporary = std::string(file) + ".tmp";
        std::ofstream(temporary, std::ios::trunc) << endpoint << '\n';
        std::filesystem::rename(temporary, file);
    }
}

}  // namespace

Chromium::Chromium(const ChromiumWindow& window, std::string page_prefix,
                   std::function<void()> gone)
    : page_prefix_(std::move(page_prefix)), gone_(std::move(gone)), headless_(window.headless) {
    std::string folder = (std::filesystem::temp_directory_path() / "stand-in-chromium-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) {
        throw std::runtime_error("no profile folder for chromium");
    }
    profile_ = folder;
    std::vector<std::string> arguments{
        kChromium, "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
        "--disable-background-networking", "--disable-component-update", "--disable-sync",
        "--no-default-browser-check", "--user-data-dir=" + profile_,
        "--window-size=" + std::to_string(window.width) + "," + std::to_string(window.height)};
    if (headless_) {
        arguments.insert(arguments.end(),
                         {"--headless", "--remote-debugging-address=127.0.0.1",
                          "--remote-debugging-port=0", window.url});
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
    const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_ = fork();
    if (pid_ == 0) {
        // A browser whose program was killed would live on: it dies with the program.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        setpgid(0, 0);
        if (quiet >= 0) {
            // Chromium talks a lot on its own streams; the program's output is not the place.
            dup2(quiet, 1);
            dup2(quiet, 2);
        }
        execve(kChromium, argv.data(), environ);
        _exit(127);
    }
    if (quiet >= 0) {
        close(quiet);
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

bool Chromium::PageListed() {
    const std::string list = DevToolsGet(devtools_port_, "/json/list");
    if (list.empty()) {
        return true;  // no answer is not an answer that the page is gone
    }
    try {
        for (const auto& target : nlohmann::json::parse(list)) {
            if (target.value("type", "") != "iframe" &&
                target.value("url", "").starts_with(page_prefix_)) {
                return true;
            }
        }
    } catch (const std::exception&) {
        return true;
    }
    return false;
}

void Chromium::Watch() {
    bool seen = false;
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
        if (!headless_) {
            continue;
        }
        if (devtools_port_ == 0) {
            std::ifstream active(std::filesystem::path(profile_) / "DevToolsActivePort");
            int port = 0;
            if (active >> port && port > 0) {
                devtools_port_ = port;
                Announce(port);
            }
            continue;
        }
        const bool listed = PageListed();
        if (listed) {
            seen = true;
        } else if (seen) {
            break;  // the page's window was closed
        }
    }
    gone_();
}

}  // namespace engine_stand_in::detail
