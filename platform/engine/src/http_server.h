// A small HTTP/1.1 server on 127.0.0.1 for the browser front: one thread accepts, one thread
// per connection reads a request, asks the handler for the answer and closes the connection.
// The handler runs on the connection's thread and may block; Stop() must be able to end it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace engine_stand_in::detail {

struct HttpRequest {
    std::string method;
    std::string target;                          // the path with its query, as sent
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;

    std::string Header(const std::string& lower_case_name) const;
};

struct HttpResponse {
    int status = 200;
    std::string content_type;
    std::string body;
};

using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

class HttpServer {
public:
    // Binds 127.0.0.1 on a port the system picks and starts accepting; throws
    // std::runtime_error when it cannot listen.
    explicit HttpServer(HttpHandler handler);
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;
    ~HttpServer();

    int port() const { return port_; }
    // Stops accepting, breaks open connections and joins every thread. The handler must not
    // block for ever by then.
    void Stop();

private:
    void Accept();
    void Serve(int connection);

    const HttpHandler handler_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable all_done_;
    std::vector<int> connections_;  // each served by a detached thread of its own
    std::thread acceptor_;
};

}  // namespace engine_stand_in::detail
