// The browser front: the main window's pages shown in Chromium. An HTTP server on 127.0.0.1
// serves "this://app/" under a path made of the run's secret; every request is answered on
// the program's thread through the host callback or the global objects (see
// ../browser/README.md for the page's side and the bridge).
//
// Threads: a connection's thread parses its request, queues it and posts the window a
// message of the engine's own; the window's procedure, run by the program's message loop,
// takes the queued requests and answers them; the connection's thread waits for that answer.
// While the program calls a function of the page, the program's thread waits for the page's
// "return" and answers the requests that arrive meanwhile itself.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine_stand_in/value.h"
#include "platform/engine/src/chromium.h"
#include "platform/engine/src/http_server.h"

namespace engine_stand_in::detail {

struct EngineWindow;

// The window message that makes the procedure take the queued requests.
inline constexpr UINT kFrontWorkMessage = WM_APP + 0x3A51;

class BrowserFront : public std::enable_shared_from_this<BrowserFront> {
public:
    // A front for the main window when the engine's front variable asks for the browser.
    static std::shared_ptr<BrowserFront> MakeIfAsked(EngineWindow& window);

    BrowserFront(EngineWindow& window, bool headless);
    BrowserFront(const BrowserFront&) = delete;
    BrowserFront& operator=(const BrowserFront&) = delete;
    ~BrowserFront();

    // SciterLoadFile: asks the host for the page, sizes the window; a shown page is told to
    // go there with the reply to its next request.
    void Load(const std::u16string& url);
    // The window is shown: Chromium opens the page (once).
    void Show();
    // The procedure's part: answers every queued request.
    void RunWork();
    // The window is going: Chromium ends, the server stops, waiting requests are refused.
    void Stop();

    // The program calls a function of the page `page`.
    Value Invoke(const std::string& page, int function, const std::vector<Value>& arguments);

private:
    struct Reply;
    struct Work {
        bool bridge = false;
        std::string path;        // a file: below the secret's folder
        nlohmann::json message;  // a bridge request
        std::shared_ptr<Reply> reply;
    };
    struct Exchange {
        std::shared_ptr<Reply> reply;  // where the next answer of this request goes
    };
    struct PendingCall {
        std::string page;
        int function = 0;
        nlohmann::json arguments;
    };

    int Admit(const HttpRequest& head) const;         // the server's accepting thread
    HttpResponse Handle(const HttpRequest& request);  // a connection's thread
    std::optional<Work> Take(bool wait);
    void Process(Work& work);
    HttpResponse ServeFile(const std::string& path);
    nlohmann::json Answer(const nlohmann::json& message);
    void CallPending(const std::string& page);
    nlohmann::json CallInPage(int function, nlohmann::json arguments);
    std::string Base() const;  // "http://127.0.0.1:PORT/SECRET/", which is "this://app/"
    std::string HttpUrl(const std::u16string& url) const;
    std::string FrontDescription() const;
    nlohmann::json Encode(const Value& value) const;
    Value Decode(const nlohmann::json& value, const std::string& page);
    void Gone();

    EngineWindow& window_;
    const HWND hwnd_;
    const bool headless_;
    const std::string secret_;
    const std::thread::id program_thread_;
    std::atomic<int> port_{0};  // the server's, once it has one: its gate runs from the start
    std::unique_ptr<HttpServer> server_;
    std::unique_ptr<Chromium> chromium_;

    std::mutex mutex_;  // guards queue_, gone_, pending_
    std::condition_variable arrived_;
    std::deque<Work> queue_;
    std::atomic<bool> stopping_{false};
    bool gone_ = false;
    std::deque<PendingCall> pending_;

    // The program's thread only.
    std::vector<Exchange*> exchanges_;  // innermost last
    std::string page_;                  // the page that spoke last
    std::optional<std::string> navigate_;
    std::optional<std::pair<std::u16string, std::vector<BYTE>>> loaded_page_;
};

}  // namespace engine_stand_in::detail
