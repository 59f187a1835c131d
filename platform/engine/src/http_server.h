// A small HTTP/1.1 server on 127.0.0.1 for the browser front: one request per connection.
//
// Every local process can connect to it, so it stays answering and bounded whatever they send:
// - One thread accepts and reads the headers of every connection, without blocking, under
//   poll(). At most kMaxWaiting connections wait for their header; a new one beyond that
//   pushes out the one that has waited longest. A header must be complete within kHeaderTime
//   and kMaxHeader bytes.
// - The header alone decides: the gate admits the request or names the status to refuse it
//   with, before a byte of the body is read. A declared body above kMaxBody is refused (413),
//   a chunked one too (400).
// - Admitted requests are served by at most kMaxServing threads, made when needed and kept
//   until Stop; the rest of the body and the answer are bounded by kBodyTime each. A request
//   that finds every thread busy waits its turn; a thread that cannot be made is tried again.
// - Out of descriptors (EMFILE and the like), the acceptor drops the connection that has
//   waited longest for its header, or pauses, and goes on. No exception leaves its threads.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
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

// Runs on the accepting thread with the request's header only (no body): 0 admits it, any
// other value is the status it is refused with. Must not block.
using HttpGate = std::function<int(const HttpRequest&)>;
// Runs on a serving thread with the whole request; may block until Stop.
using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;
// Starts a thread running the function; throws std::system_error when it cannot (a seam for
// the tests of that failure).
using ThreadStarter = std::function<std::thread(std::function<void()>)>;

struct HttpLimits {
    std::size_t max_waiting = 64;
    std::size_t max_serving = 16;
    std::size_t max_queued = 64;  // admitted, waiting for a serving thread
    std::size_t max_header = 16 * 1024;
    std::size_t max_body = 1024 * 1024;
    std::chrono::milliseconds header_time{10000};
    std::chrono::milliseconds body_time{10000};
};

class HttpServer {
public:
    // Binds 127.0.0.1 on a port the system picks and starts accepting; throws
    // std::runtime_error when it cannot listen, std::system_error when it has no thread.
    HttpServer(HttpGate gate, HttpHandler handler, HttpLimits limits = {},
               ThreadStarter start = {});
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;
    ~HttpServer();

    int port() const { return port_; }
    // Stops accepting, breaks open connections and joins every thread. The handler must not
    // block for ever by then.
    void Stop();

private:
    struct Waiting;
    struct Admitted {
        int socket = -1;
        HttpRequest request;
        std::size_t length = 0;  // of the body, of which request.body holds the start
    };

    void Accept();
    void AcceptNew(std::deque<Waiting>& waiting, std::chrono::steady_clock::time_point& paused);
    bool ReadHeader(Waiting& connection);  // false: done with it (answered, admitted or dropped)
    void Decide(int socket, const std::string& data, std::size_t header_end);
    void StartServers();
    void Serve();
    void Answer(Admitted& admitted);

    const HttpGate gate_;
    const HttpHandler handler_;
    const HttpLimits limits_;
    const ThreadStarter start_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};  // a byte on it wakes the acceptor for Stop
    int port_ = 0;
    std::atomic<bool> stopping_{false};

    std::mutex mutex_;  // guards what follows
    std::condition_variable work_;
    std::deque<Admitted> queued_;
    std::size_t busy_ = 0;
    std::set<int> serving_;  // sockets that a serving thread holds
    std::vector<std::thread> servers_;

    // The acceptor's alone.
    std::chrono::steady_clock::time_point retry_start_{};  // after a thread could not be made

    std::thread acceptor_;
};

}  // namespace engine_stand_in::detail
