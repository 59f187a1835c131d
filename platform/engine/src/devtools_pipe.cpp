#include "platform/engine/src/devtools_pipe.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace engine_stand_in::detail {

DevToolsPipe::DevToolsPipe(int end) : end_(end) {}

DevToolsPipe::~DevToolsPipe() {
    if (end_ >= 0) {
        close(end_);
    }
}

std::optional<nlohmann::json> DevToolsPipe::Call(const std::string& method,
                                                 const nlohmann::json& params,
                                                 std::chrono::milliseconds timeout,
                                                 std::string& error, const std::string& session) {
    const long id = next_id_++;
    nlohmann::json command{{"id", id}, {"method", method}, {"params", params}};
    if (!session.empty()) {
        command["sessionId"] = session;
    }
    std::string message = command.dump();
    message.push_back('\0');
    for (std::size_t sent = 0; sent < message.size() && !gone_;) {
        // A socket, so that a browser gone away is an error here and not a SIGPIPE.
        const ssize_t n = send(end_, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            gone_ = true;
        } else {
            sent += static_cast<std::size_t>(n);
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!gone_) {
        const auto text = Next(deadline);
        if (!text) {
            break;
        }
        const auto answer = nlohmann::json::parse(*text, nullptr, false);
        const bool ours = answer.is_object() && answer.contains("id") &&
                          answer["id"].is_number_integer() && answer["id"].get<long>() == id;
        if (!ours) {
            // An event, or the answer to a call that timed out.
            if (answer.is_object() && answer.contains("method") && answer["method"].is_string() &&
                std::find(kept_methods_.begin(), kept_methods_.end(), answer["method"]) !=
                    kept_methods_.end()) {
                kept_.push_back(answer);
            }
            continue;
        }
        if (answer.contains("result")) {
            return answer["result"];
        }
        const auto& refusal = answer.contains("error") ? answer["error"] : nlohmann::json();
        error = refusal.is_object() && refusal.contains("message") && refusal["message"].is_string()
                    ? refusal["message"].get<std::string>()
                    : "refused";
        return std::nullopt;
    }
    error = gone_ ? "the browser has gone" : "no answer from the browser";
    return std::nullopt;
}

std::optional<std::string> DevToolsPipe::Next(std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        if (const auto end = received_.find('\0'); end != std::string::npos) {
            std::string message = received_.substr(0, end);
            received_.erase(0, end + 1);
            return message;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        pollfd readable{end_, POLLIN, 0};
        const int ready = poll(&readable, 1, static_cast<int>(left.count()));
        if (ready < 0) {
            continue;  // a signal: the deadline still holds
        }
        if (ready == 0) {
            return std::nullopt;
        }
        char buffer[16384];
        const ssize_t n = recv(end_, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            gone_ = true;
            return std::nullopt;
        }
        received_.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace engine_stand_in::detail
