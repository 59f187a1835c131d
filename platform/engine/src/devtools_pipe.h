// Chromium's DevTools protocol over the channel that `--remote-debugging-pipe` gives: the browser
// reads commands on its descriptor 3 and writes answers and events on 4, each message a JSON
// text ended by a zero byte. Only the process that made the channel holds it: no port is opened.
#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace engine_stand_in::detail {

class DevToolsPipe {
public:
    // Takes one end of a connected stream socket; the browser has the other as 3 and 4.
    explicit DevToolsPipe(int end);
    DevToolsPipe(const DevToolsPipe&) = delete;
    DevToolsPipe& operator=(const DevToolsPipe&) = delete;
    ~DevToolsPipe();

    // Sends a command and waits for its answer, dropping the events and late answers on the
    // way. The answer's "result", or none with `error` set: the browser refused the command,
    // went away, or said nothing within the timeout. A `session` (of Target.attachToTarget
    // with flatten) sends the command to that target instead of the browser.
    std::optional<nlohmann::json> Call(const std::string& method, const nlohmann::json& params,
                                       std::chrono::milliseconds timeout, std::string& error,
                                       const std::string& session = {});

    // The browser closed its end: it has ended.
    bool Gone() const { return gone_; }

    // Events of `method` that arrived while calls waited for their answers are kept, the
    // others dropped; TakeEvents hands over what was kept.
    void KeepEvents(const std::string& method) { kept_methods_.push_back(method); }
    std::vector<nlohmann::json> TakeEvents() { return std::exchange(kept_, {}); }

private:
    // The next whole message, or none when the time is up or the browser has gone.
    std::optional<std::string> Next(std::chrono::steady_clock::time_point deadline);

    int end_ = -1;
    long next_id_ = 1;
    std::string received_;
    bool gone_ = false;
    std::vector<std::string> kept_methods_;
    std::vector<nlohmann::json> kept_;
};

}  // namespace engine_stand_in::detail
