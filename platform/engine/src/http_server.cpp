#include "http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace engine_stand_in::detail {

namespace {

constexpr std::size_t kMaxHeader = 64 * 1024;
constexpr std::size_t kMaxBody = 16 * 1024 * 1024;

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
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 409: return "Conflict";
    default: return "Service Unavailable";
    }
}

bool SendAll(int socket, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = send(socket, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads one request; false when the peer sent none or something unreadable.
bool ReadRequest(int socket, HttpRequest& request) {
    std::string data;
    char buffer[8192];
    std::size_t header_end = std::string::npos;
    while ((header_end = data.find("\r\n\r\n")) == std::string::npos) {
        if (data.size() > kMaxHeader) {
            return false;
        }
        const ssize_t n = recv(socket, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return false;
        }
        data.append(buffer, static_cast<std::size_t>(n));
    }
    const std::string head = data.substr(0, header_end);
    std::size_t line_end = head.find("\r\n");
    const std::string request_line = head.substr(0, line_end);
    const auto space = request_line.find(' ');
    const auto second = request_line.find(' ', space + 1);
    if (space == std::string::npos || second == std::string::npos) {
        return false;
    }
    request.method = request_line.substr(0, space);
    request.target = request_line.substr(space + 1, second - space - 1);
    while (line_end != std::string::npos) {
        const std::size_t start = line_end + 2;
        line_end = head.find("\r\n", start);
        const std::string line = head.substr(start, line_end == std::string::npos ? line_end : line_end - start);
        const auto colon = line.find(':');
        if (colon != std::string::npos) {
            request.headers[Lower(Trim(line.substr(0, colon)))] = Trim(line.substr(colon + 1));
        }
    }
    std::size_t length = 0;
    try {
        const std::string declared = request.Header("content-length");
        length = declared.empty() ? 0 : std::stoul(declared);
    } catch (const std::exception&) {
        return false;
    }
    if (length > kMaxBody) {
        return false;
    }
    request.body = data.substr(header_end + 4);
    while (request.body.size() < length) {
        const ssize_t n = recv(socket, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return false;
        }
        request.body.append(buffer, static_cast<std::size_t>(n));
    }
    request.body.resize(length);
    return true;
}

}  // namespace

std::string HttpRequest::Header(const std::string& lower_case_name) const {
    const auto found = headers.find(lower_case_name);
    return found == headers.end() ? std::string() : found->second;
}

HttpServer::HttpServer(HttpHandler handler) : handler_(std::move(handler)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        throw std::runtime_error("no socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t size = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 64) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        close(listener_);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
}

HttpServer::~HttpServer() { Stop(); }

void HttpServer::Stop() {
    if (stopping_.exchange(true)) {
        return;
    }
    shutdown(listener_, SHUT_RDWR);
    if (acceptor_.joinable()) {
        acceptor_.join();
    }
    close(listener_);
    std::unique_lock lock(mutex_);
    for (const int connection : connections_) {
        shutdown(connection, SHUT_RDWR);
    }
    all_done_.wait(lock, [this] { return connections_.empty(); });
}

void HttpServer::Accept() {
    for (;;) {
        const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            if (stopping_ || (errno != EINTR && errno != ECONNABORTED)) {
                return;
            }
            continue;
        }
        const std::lock_guard lock(mutex_);
        if (stopping_) {
            close(connection);
            return;
        }
        connections_.push_back(connection);
        std::thread([this, connection] { Serve(connection); }).detach();
    }
}

void HttpServer::Serve(int connection) {
    HttpRequest request;
    if (ReadRequest(connection, request)) {
        const HttpResponse response = handler_(request);
        std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " +
                           Reason(response.status) + "\r\nContent-Length: " +
                           std::to_string(response.body.size()) +
                           "\r\nCache-Control: no-store\r\nConnection: close\r\n";
        if (!response.content_type.empty()) {
            head += "Content-Type: " + response.content_type + "\r\n";
        }
        SendAll(connection, head + "\r\n" + response.body);
    }
    shutdown(connection, SHUT_WR);
    const std::lock_guard lock(mutex_);
    connections_.erase(std::find(connections_.begin(), connections_.end(), connection));
    close(connection);
    all_done_.notify_all();  // the last touch of this object by the thread
}

}  // namespace engine_stand_in::detail
