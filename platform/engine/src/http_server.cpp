#include "platform/engine/src/http_server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace engine_stand_in::detail {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t kAcceptsPerRound = 16;  // then the waiting headers are read again
constexpr auto kPause = 100ms;                // out of descriptors or threads: wait, go on

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 409:
            return "Conflict";
        case 413:
            return "Content Too Large";
        case 431:
            return "Request Header Fields Too Large";
        default:
            return "Service Unavailable";
    }
}

std::string Serialized(const HttpResponse& response) {
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " +
                       Reason(response.status) +
                       "\r\nContent-Length: " + std::to_string(response.body.size()) +
                       "\r\nCache-Control: no-store\r\nConnection: close\r\n";
    if (!response.content_type.empty()) {
        head += "Content-Type: " + response.content_type + "\r\n";
    }
    return head + "\r\n" + response.body;
}

bool SendAll(int socket, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = send(socket, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;  // gone, or the send timeout passed
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// A refusal is sent without waiting (it is small; a peer that reads nothing gets nothing) and
// what the peer already sent is read away, so that the close does not reset the answer.
void Refuse(int socket, int status) {
    const std::string answer = Serialized({status, "", ""});
    (void)send(socket, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    shutdown(socket, SHUT_WR);
    char buffer[4096];
    for (int i = 0; i < 16 && recv(socket, buffer, sizeof buffer, MSG_DONTWAIT) > 0; ++i) {
    }
    close(socket);
}

// The request line and the header fields; false when they are not a request. A repeated field
// that decides about the request is not one either.
bool ParseHead(const std::string& head, HttpRequest& request) {
    std::size_t line_end = head.find("\r\n");
    const std::string request_line = head.substr(0, line_end);
    const auto space = request_line.find(' ');
    const auto second =
        space == std::string::npos ? std::string::npos : request_line.find(' ', space + 1);
    if (space == 0 || second == std::string::npos || second == space + 1) {
        return false;
    }
    request.method = request_line.substr(0, space);
    request.target = request_line.substr(space + 1, second - space - 1);
    while (line_end != std::string::npos) {
        const std::size_t start = line_end + 2;
        line_end = head.find("\r\n", start);
        const std::string line =
            head.substr(start, line_end == std::string::npos ? line_end : line_end - start);
        const auto colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        const std::string name = Lower(Trim(line.substr(0, colon)));
        const bool decisive = name == "host" || name == "content-length" ||
                              name == "transfer-encoding" || name == "x-tallorin-secret";
        if (decisive && request.headers.contains(name)) {
            return false;
        }
        request.headers[name] = Trim(line.substr(colon + 1));
    }
    return true;
}

// The declared body length: none when it is not a plain decimal number.
std::optional<std::size_t> DeclaredLength(const HttpRequest& request) {
    const std::string declared = request.Header("content-length");
    if (declared.empty()) {
        return 0;
    }
    if (declared.size() > 12 || !std::all_of(declared.begin(), declared.end(), [](unsigned char c) {
            return std::isdigit(c) != 0;
        })) {
        return std::nullopt;
    }
    return std::stoull(declared);
}

void SetTimeout(int socket, int option, std::chrono::milliseconds time) {
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(time.count() / 1000);
    limit.tv_usec = static_cast<suseconds_t>((time.count() % 1000) * 1000);
    setsockopt(socket, SOL_SOCKET, option, &limit, sizeof limit);
}

}  // namespace

struct HttpServer::Waiting {
    int socket = -1;
    std::string data;
    Clock::time_point since;
};

std::string HttpRequest::Header(const std::string& lower_case_name) const {
    const auto found = headers.find(lower_case_name);
    return found == headers.end() ? std::string() : found->second;
}

HttpServer::HttpServer(HttpGate gate, HttpHandler handler, HttpLimits limits, ThreadStarter start)
    : gate_(std::move(gate)),
      handler_(std::move(handler)),
      limits_(limits),
      start_(start ? std::move(start) : ThreadStarter([](std::function<void()> run) {
          return std::thread(std::move(run));
      })) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener_ < 0) {
        throw std::runtime_error("no socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t size = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, SOMAXCONN) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        close(listener_);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    servers_.reserve(limits_.max_serving);  // adding a started thread must not fail
    try {
        acceptor_ = std::thread([this] { Accept(); });
    } catch (...) {
        close(listener_);
        close(wake_[0]);
        close(wake_[1]);
        throw;
    }
}

HttpServer::~HttpServer() { Stop(); }

void HttpServer::Stop() {
    if (stopping_.exchange(true)) {
        return;
    }
    const char byte = 0;
    (void)write(wake_[1], &byte, 1);
    if (acceptor_.joinable()) {
        acceptor_.join();
    }
    std::vector<std::thread> servers;
    {
        const std::lock_guard lock(mutex_);
        for (const int socket : serving_) {
            shutdown(socket, SHUT_RDWR);  // a read or write of a serving thread ends now
        }
        servers.swap(servers_);
    }
    work_.notify_all();
    for (std::thread& server : servers) {
        server.join();
    }
    for (Admitted& admitted : queued_) {
        close(admitted.socket);
    }
    queued_.clear();
    close(listener_);
    close(wake_[0]);
    close(wake_[1]);
}

void HttpServer::Accept() {
    std::deque<Waiting> waiting;  // oldest first
    Clock::time_point paused{};   // no accepting before then
    std::vector<pollfd> polled;
    while (!stopping_) {
        try {
            const auto now = Clock::now();
            // Headers that took too long, the oldest first.
            while (!waiting.empty() && now - waiting.front().since > limits_.header_time) {
                close(waiting.front().socket);
                waiting.pop_front();
            }
            polled.clear();
            polled.push_back({wake_[0], POLLIN, 0});
            const bool accepting = now >= paused;
            polled.push_back({accepting ? listener_ : -1, POLLIN, 0});
            for (const Waiting& connection : waiting) {
                polled.push_back({connection.socket, POLLIN, 0});
            }
            auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(limits_.header_time);
            if (!waiting.empty()) {
                wait = std::chrono::duration_cast<std::chrono::milliseconds>(
                    waiting.front().since + limits_.header_time - now + 1ms);
            }
            if (!accepting || retry_start_ != Clock::time_point{}) {
                wait = std::min<std::chrono::milliseconds>(wait, kPause);
            }
            const int ready = poll(polled.data(), polled.size(),
                                   static_cast<int>(std::max<long>(wait.count(), 1)));
            if (ready < 0) {
                continue;  // a signal
            }
            // Headers first: the connections that waited get their turn before new ones.
            std::deque<Waiting> still;
            for (std::size_t i = 0; i < waiting.size(); ++i) {
                if (polled[i + 2].revents != 0 && !ReadHeader(waiting[i])) {
                    continue;
                }
                still.push_back(std::move(waiting[i]));
            }
            waiting.swap(still);
            if (accepting && (polled[1].revents & POLLIN) != 0) {
                AcceptNew(waiting, paused);
            }
            StartServers();
        } catch (...) {
            // Out of memory, most likely: drop what waits and go on after a pause.
            for (const Waiting& connection : waiting) {
                close(connection.socket);
            }
            waiting.clear();
            std::this_thread::sleep_for(kPause);
        }
    }
    for (const Waiting& connection : waiting) {
        close(connection.socket);
    }
}

void HttpServer::AcceptNew(std::deque<Waiting>& waiting, Clock::time_point& paused) {
    for (std::size_t accepted = 0; accepted < kAcceptsPerRound; ++accepted) {
        const int socket = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (socket >= 0) {
            if (waiting.size() >= limits_.max_waiting) {
                close(waiting.front().socket);  // the one that has taken longest to say anything
                waiting.pop_front();
            }
            waiting.push_back({socket, {}, Clock::now()});
            continue;
        }
        switch (errno) {
            case EINTR:
            case ECONNABORTED:
            case EPROTO:
                continue;
            case EMFILE:
            case ENFILE:
            case ENOBUFS:
            case ENOMEM:
                // A descriptor for the new one: the connection that has waited longest gives its
                // own; with none to give, wait.
                if (!waiting.empty()) {
                    close(waiting.front().socket);
                    waiting.pop_front();
                    continue;
                }
                paused = Clock::now() + kPause;
                return;
            default:
                return;  // EAGAIN: nobody else is knocking
        }
    }
}

bool HttpServer::ReadHeader(Waiting& connection) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = recv(connection.socket, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;  // more to come
        }
        if (n <= 0) {
            close(connection.socket);
            return false;
        }
        // Only what is new can end the header.
        const std::size_t from = connection.data.size() < 3 ? 0 : connection.data.size() - 3;
        connection.data.append(buffer, static_cast<std::size_t>(n));
        const auto end = connection.data.find("\r\n\r\n", from);
        if (end != std::string::npos && end <= limits_.max_header) {
            Decide(connection.socket, connection.data, end);
            return false;
        }
        if (connection.data.size() > limits_.max_header) {
            Refuse(connection.socket, 431);
            return false;
        }
    }
}

void HttpServer::Decide(int socket, const std::string& data, std::size_t header_end) {
    Admitted admitted;
    admitted.socket = socket;
    HttpRequest& request = admitted.request;
    if (!ParseHead(data.substr(0, header_end), request)) {
        Refuse(socket, 400);
        return;
    }
    if (const int refusal = gate_(request); refusal != 0) {
        Refuse(socket, refusal);
        return;
    }
    const auto length = DeclaredLength(request);
    if (!length || !request.Header("transfer-encoding").empty()) {
        Refuse(socket, 400);
        return;
    }
    if (*length > limits_.max_body) {
        Refuse(socket, 413);
        return;
    }
    admitted.length = *length;
    request.body = data.substr(header_end + 4, *length);
    // A serving thread reads the rest and answers, blocking, within the time allowed.
    const int flags = fcntl(socket, F_GETFL);
    fcntl(socket, F_SETFL, flags & ~O_NONBLOCK);
    SetTimeout(socket, SO_RCVTIMEO, limits_.body_time);
    SetTimeout(socket, SO_SNDTIMEO, limits_.body_time);
    {
        const std::lock_guard lock(mutex_);
        if (queued_.size() < limits_.max_queued) {
            queued_.push_back(std::move(admitted));
            socket = -1;
        }
    }
    if (socket >= 0) {
        Refuse(socket, 503);
        return;
    }
    work_.notify_one();
}

// As many serving threads as the queued and busy requests need, up to the limit; one that
// cannot be made now is tried again after a pause.
void HttpServer::StartServers() {
    const std::lock_guard lock(mutex_);
    if (retry_start_ != Clock::time_point{} && Clock::now() < retry_start_) {
        return;
    }
    retry_start_ = {};
    const std::size_t wanted = std::min(limits_.max_serving, busy_ + queued_.size());
    while (servers_.size() < wanted) {
        try {
            servers_.push_back(start_([this] { Serve(); }));
        } catch (...) {
            retry_start_ = Clock::now() + kPause;
            return;
        }
    }
}

void HttpServer::Serve() {
    for (;;) {
        Admitted admitted;
        {
            std::unique_lock lock(mutex_);
            work_.wait(lock, [this] { return stopping_ || !queued_.empty(); });
            if (stopping_) {
                return;  // Stop closes what is still queued
            }
            admitted = std::move(queued_.front());
            queued_.pop_front();
            ++busy_;
            try {
                serving_.insert(admitted.socket);
            } catch (...) {
                // out of memory: Stop cannot break this one's reads, which time out by themselves
            }
        }
        try {
            Answer(admitted);
        } catch (...) {
            // out of memory for this request: it goes unanswered
        }
        const std::lock_guard lock(mutex_);
        serving_.erase(admitted.socket);
        close(admitted.socket);
        --busy_;
    }
}

void HttpServer::Answer(Admitted& admitted) {
    HttpRequest& request = admitted.request;
    char buffer[16384];
    while (request.body.size() < admitted.length) {
        const ssize_t n = recv(admitted.socket, buffer,
                               std::min(sizeof buffer, admitted.length - request.body.size()), 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;  // gone, or too slow
        }
        request.body.append(buffer, static_cast<std::size_t>(n));
    }
    const HttpResponse response = handler_(request);
    if (SendAll(admitted.socket, Serialized(response))) {
        shutdown(admitted.socket, SHUT_WR);
    }
}

}  // namespace engine_stand_in::detail
