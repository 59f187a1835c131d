// The browser front's HTTP server against clients that do not play fair, on loopback.
#include "platform/engine/src/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace {

using engine_stand_in::detail::HttpLimits;
using engine_stand_in::detail::HttpRequest;
using engine_stand_in::detail::HttpResponse;
using engine_stand_in::detail::HttpServer;

// A connected client socket, closed with the object.
class Client {
public:
    explicit Client(int port) : socket_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        timeval limit{10, 0};  // a server that never answers fails the test, not the run
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        connected_ = connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    ~Client() { close(socket_); }

    bool connected() const { return connected_; }
    void Send(const std::string& data) const {
        (void)send(socket_, data.data(), data.size(), MSG_NOSIGNAL);
    }

    // The answer's status, 0 when the connection ended without one.
    int Status() const {
        std::string answer;
        char buffer[4096];
        for (ssize_t n; (n = recv(socket_, buffer, sizeof buffer, 0)) > 0;) {
            answer.append(buffer, static_cast<std::size_t>(n));
        }
        return answer.starts_with("HTTP/1.1 ") ? std::stoi(answer.substr(9, 3)) : 0;
    }

private:
    int socket_;
    bool connected_ = false;
};

std::string Post(const std::string& path, std::size_t length, const std::string& extra = "") {
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra +
           "Content-Length: " + std::to_string(length) + "\r\n\r\n";
}

int ThreadsOfThisProcess() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("Threads:")) {
            return std::stoi(line.substr(8));
        }
    }
    return -1;
}

// Admits "/open/..." only; answers the body it was given.
struct Recorder {
    std::atomic<int> handled{0};
    HttpServer Start(HttpLimits limits = {}, engine_stand_in::detail::ThreadStarter start = {}) {
        return HttpServer(
            [](const HttpRequest& head) { return head.target.starts_with("/open/") ? 0 : 403; },
            [this](const HttpRequest& request) {
                ++handled;
                return HttpResponse{200, "text/plain", request.body};
            },
            limits, std::move(start));
    }
};

TEST(HttpServer, DecidesFromTheHeaderBeforeReadingAnyBody) {
    Recorder recorder;
    HttpServer server = recorder.Start();
    struct Case {
        const char* what;
        std::string head;
        int status;
    };
    const std::vector<Case> cases = {
        {"refused path, 16 MiB announced and never sent", Post("/closed/x", 16u << 20), 403},
        {"admitted path, a body above the cap", Post("/open/x", (1u << 20) + 1), 413},
        {"a chunked body", Post("/open/x", 0, "Transfer-Encoding: chunked\r\n"), 400},
        {"two lengths", Post("/open/x", 3, "Content-Length: 3\r\n"), 400},
        {"no request line", "\r\n\r\n", 400},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        Client client(server.port());
        ASSERT_TRUE(client.connected());
        client.Send(cases[i].head);
        EXPECT_EQ(client.Status(), cases[i].status);
    }
    EXPECT_EQ(recorder.handled, 0);
    Client client(server.port());
    client.Send(Post("/open/x", 5) + "hello");
    EXPECT_EQ(client.Status(), 200);
    EXPECT_EQ(recorder.handled, 1);
}

TEST(HttpServer, IdleAndEndlessHeadersNeitherStarveOthersNorGrowTheThreads) {
    Recorder recorder;
    HttpLimits limits;
    limits.max_waiting = 8;
    limits.header_time = std::chrono::milliseconds(300);
    const int threads_before = ThreadsOfThisProcess();
    HttpServer server = recorder.Start(limits);
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < 200; ++i) {
        idle.push_back(std::make_unique<Client>(server.port()));
        if (i % 2 == 0) {
            idle.back()->Send("GET /open/x HTTP/1.1\r\nX-Slow: ");  // a header that never ends
        }
    }
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        Client client(server.port());
        client.Send(Post("/open/x", 2) + "ok");
        EXPECT_EQ(client.Status(), 200);
    }
    EXPECT_LE(ThreadsOfThisProcess(), threads_before + 1 + static_cast<int>(limits.max_serving));
    // Past the header time the server has let go of them.
    EXPECT_EQ(idle.front()->Status(), 0);
}

TEST(HttpServer, ThreadsThatCannotBeMadeAreMadeLater) {
    Recorder recorder;
    std::atomic<int> tries{0};
    HttpServer server = recorder.Start({}, [&tries](std::function<void()> run) {
        if (++tries <= 3) {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        return std::thread(std::move(run));
    });
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        Client client(server.port());
        client.Send(Post("/open/x", 2) + "ok");
        EXPECT_EQ(client.Status(), 200);
    }
    EXPECT_GE(tries, 4);
}

}  // namespace
