#include "platform/engine/src/browser_front.h"

#include <bit>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <string_view>
#include <utility>

#include <platform/screen.h>

#include "engine_stand_in/global_object.h"
#include "engine_stand_in/windows.h"
#include "platform/engine/front_scripts.h"
#include "platform/engine/src/engine_window.h"
#include "platform/engine/src/text.h"
#include "platform/engine/src/value_functions.h"
#include "platform/engine/src/value_store.h"
#include "platform/engine/src/x_screen.h"

namespace engine_stand_in::detail {

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr char kBridgePath[] = "__front__/bridge";
constexpr char kResourcePrefix[] = "__res__/";

struct FileKind {
    const char* extension;
    UINT data_type;
    const char* content_type;
};
constexpr FileKind kFileKinds[] = {
    {".html", RT_DATA_HTML, "text/html; charset=utf-8"},
    {".htm", RT_DATA_HTML, "text/html; charset=utf-8"},
    {".css", RT_DATA_STYLE, "text/css; charset=utf-8"},
    {".js", RT_DATA_SCRIPT, "text/javascript; charset=utf-8"},
    {".mjs", RT_DATA_SCRIPT, "text/javascript; charset=utf-8"},
    {".svg", RT_DATA_IMAGE, "image/svg+xml"},
    {".png", RT_DATA_IMAGE, "image/png"},
    {".jpg", RT_DATA_IMAGE, "image/jpeg"},
    {".gif", RT_DATA_IMAGE, "image/gif"},
    {".ico", RT_DATA_IMAGE, "image/x-icon"},
};
constexpr FileKind kOtherFile{"", RT_DATA_RAW, "application/octet-stream"};

const FileKind& KindOf(const std::string& path) {
    std::string lower;
    for (const char c : path) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (const FileKind& kind : kFileKinds) {
        if (lower.ends_with(kind.extension)) {
            return kind;
        }
    }
    return kOtherFile;
}

std::string PercentDecoded(const std::string& text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() &&
            std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            decoded += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

std::string NewSecret() {
    std::ifstream random("/dev/urandom", std::ios::binary);
    unsigned char bytes[16] = {};
    if (!random.read(reinterpret_cast<char*>(bytes), sizeof bytes)) {
        throw std::runtime_error("no random source");
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string secret;
    for (const unsigned char byte : bytes) {
        secret += kHex[byte >> 4];
        secret += kHex[byte & 15];
    }
    return secret;
}

// A classic script inlined into a page: "</script" would end it early.
std::string Inlined(std::string script) {
    for (std::size_t at = 0; (at = script.find("</", at)) != std::string::npos; at += 3) {
        script.replace(at, 2, "<\\/");
    }
    return "<script>" + script + "</script>";
}

HttpResponse Refused(int status) { return {status, "", ""}; }

// Compared in a time that does not tell how much of a guess was right (its length is no secret).
bool SameSecret(std::string_view given, std::string_view secret) {
    if (given.size() != secret.size()) {
        return false;
    }
    unsigned char differ = 0;
    for (std::size_t i = 0; i < secret.size(); ++i) {
        differ |= static_cast<unsigned char>(given[i] ^ secret[i]);
    }
    return differ == 0;
}

HttpResponse JsonReply(const json& body) {
    return {200, "application/json", body.dump(-1, ' ', false, json::error_handler_t::replace)};
}

json Undefined() { return {{"$", "undefined"}}; }

UINT ConsoleSeverity(const std::string& level) {
    if (level == "warn") return OS_WARNING;
    if (level == "error") return OS_ERROR;
    return OS_INFO;
}

}  // namespace

struct BrowserFront::Reply {
    std::mutex mutex;
    std::condition_variable given;
    std::optional<HttpResponse> response;

    void Give(HttpResponse answer) {
        {
            const std::lock_guard lock(mutex);
            if (response) {
                return;
            }
            response = std::move(answer);
        }
        given.notify_all();
    }
};

std::shared_ptr<BrowserFront> BrowserFront::MakeIfAsked(EngineWindow& window) {
    const char* const front = std::getenv(kFrontVariable);
    const std::string asked = front == nullptr ? "" : front;
    if (asked != "browser" && asked != "browser-headless") {
        return nullptr;
    }
    const char* const display = std::getenv("DISPLAY");
    const bool headless = asked == "browser-headless" || display == nullptr || *display == 0;
    if (!headless) {
        // The window is centred on the screen it shows on; a headless one keeps the default.
        if (const auto screen = XScreenSize()) {
            platform::SetPrimaryScreenSize(screen->first, screen->second);
        } else {
            EmitDebug(OT_DOM, OS_WARNING,
                      Utf8ToUnits("browser front: no size of the X screen " + std::string(display) +
                                  "; the screen stays 1920 x 1080"));
        }
    }
    try {
        return std::make_shared<BrowserFront>(window, headless);
    } catch (const std::exception& error) {
        EmitDebug(OT_DOM, OS_ERROR, Utf8ToUnits(std::string("browser front: ") + error.what()));
        return nullptr;
    }
}

BrowserFront::BrowserFront(EngineWindow& window, bool headless)
    : window_(window),
      hwnd_(window.hwnd),
      headless_(headless),
      secret_(NewSecret()),
      program_thread_(std::this_thread::get_id()),
      server_(std::make_unique<HttpServer>([this](const HttpRequest& r) { return Admit(r); },
                                           [this](const HttpRequest& r) { return Handle(r); })) {
    port_ = server_->port();
}

BrowserFront::~BrowserFront() { Stop(); }

std::string BrowserFront::Base() const {
    return "http://127.0.0.1:" + std::to_string(server_->port()) + "/" + secret_ + "/";
}

std::string BrowserFront::HttpUrl(const std::u16string& url) const {
    if (url.starts_with(u"this://app/")) {
        return Base() + UnitsToUtf8(url.substr(11));
    }
    if (url.starts_with(u"res:")) {
        return Base() + kResourcePrefix + UnitsToUtf8(url.substr(4));
    }
    return UnitsToUtf8(url);
}

void BrowserFront::Load(const std::u16string& url) {
    auto bytes = AskHost(window_, url, RT_DATA_HTML);
    window_.last_load = {{url, RT_DATA_HTML, bytes.has_value(), bytes ? bytes->size() : 0}};
    window_.document_url = url;
    loaded_page_.reset();
    if (bytes) {
        SizeWindowAsThePageSays(hwnd_, std::string(bytes->begin(), bytes->end()));
        loaded_page_.emplace(url, std::move(*bytes));
    } else {
        ReportMissing(url, RT_DATA_HTML, u"");
    }
    if (chromium_) {
        navigate_ = HttpUrl(url);
    }
}

void BrowserFront::Show() {
    if (chromium_ || stopping_) {
        return;
    }
    RECT rect{};
    GetWindowRect(hwnd_, &rect);
    const ChromiumWindow shown{
        HttpUrl(window_.document_url), rect.left, rect.top, rect.right - rect.left,
        rect.bottom - rect.top,        headless_};
    try {
        chromium_ = std::make_unique<Chromium>(shown, [front = weak_from_this()] {
            if (const auto alive = front.lock()) {
                alive->Gone();
            }
        });
    } catch (const std::exception& error) {
        EmitDebug(OT_DOM, OS_ERROR, Utf8ToUnits(std::string("browser front: ") + error.what()));
        PostMessageW(hwnd_, WM_CLOSE, 0, 0);  // nobody could ever close a window not shown
    }
}

void BrowserFront::Gone() {
    {
        const std::lock_guard lock(mutex_);
        gone_ = true;
    }
    arrived_.notify_all();
    PostMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void BrowserFront::Stop() {
    std::deque<Work> queued;
    {
        const std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
        queued.swap(queue_);
    }
    arrived_.notify_all();
    for (Work& work : queued) {
        work.reply->Give(Refused(503));
    }
    for (Exchange* exchange : exchanges_) {
        exchange->reply->Give(Refused(503));
    }
    if (chromium_) {
        chromium_->End();
    }
    server_->Stop();
}

// From the header alone, before any body is read: the Host that the page uses, a path below the
// secret's folder, and for the bridge a POST with the secret in its header. Anything else is
// refused; so is a file request with a body.
int BrowserFront::Admit(const HttpRequest& head) const {
    const int port = port_;
    if (port == 0) {
        return 503;  // not yet told its own port
    }
    if (head.Header("host") != "127.0.0.1:" + std::to_string(port)) {
        return 403;
    }
    const std::string path = head.target.substr(0, head.target.find_first_of("?#"));
    const std::string prefix = "/" + secret_ + "/";
    if (!SameSecret(std::string_view(path).substr(0, prefix.size()), prefix)) {
        return 403;
    }
    if (PercentDecoded(path.substr(prefix.size())) == kBridgePath) {
        const bool allowed =
            head.method == "POST" && SameSecret(head.Header("x-tallorin-secret"), secret_);
        return allowed ? 0 : 403;
    }
    if (head.method != "GET" && head.method != "HEAD") {
        return 403;
    }
    const std::string length = head.Header("content-length");
    return length.empty() || length == "0" ? 0 : 400;
}

HttpResponse BrowserFront::Handle(const HttpRequest& request) {
    const std::string path = request.target.substr(0, request.target.find_first_of("?#"));
    Work work;
    work.path = PercentDecoded(path.substr(secret_.size() + 2));
    if (work.path == kBridgePath) {
        work.bridge = true;
        work.message = json::parse(request.body, nullptr, false);
        if (!work.message.is_object()) {
            return Refused(400);
        }
    }
    const auto reply = work.reply = std::make_shared<Reply>();
    {
        const std::lock_guard lock(mutex_);
        if (stopping_) {
            return Refused(503);
        }
        queue_.push_back(std::move(work));
    }
    arrived_.notify_all();
    PostMessageW(hwnd_, kFrontWorkMessage, 0, 0);
    std::unique_lock lock(reply->mutex);
    while (!reply->given.wait_for(lock, 100ms, [&] { return reply->response.has_value(); })) {
        if (stopping_) {
            return Refused(503);
        }
    }
    HttpResponse response = std::move(*reply->response);
    if (request.method == "HEAD") {
        response.body.clear();
    }
    return response;
}

std::optional<BrowserFront::Work> BrowserFront::Take(bool wait) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stopping_) {
            return std::nullopt;
        }
        if (!queue_.empty()) {
            Work work = std::move(queue_.front());
            queue_.pop_front();
            return work;
        }
        if (!wait || gone_) {
            return std::nullopt;
        }
        arrived_.wait(lock);
    }
}

void BrowserFront::RunWork() {
    while (auto work = Take(false)) {
        Process(*work);
    }
}

void BrowserFront::Process(Work& work) {
    if (!work.bridge) {
        work.reply->Give(ServeFile(work.path));
        return;
    }
    if (work.message.value("op", "") == "return") {
        work.reply->Give(Refused(409));  // no function of the page is running
        return;
    }
    Exchange exchange{work.reply};
    exchanges_.push_back(&exchange);
    json answer;
    try {
        page_ = work.message.value("page", "");
        CallPending(page_);
        answer = Answer(work.message);
    } catch (const std::exception& error) {
        answer = {{"error", error.what()}};
    }
    exchanges_.pop_back();
    if (navigate_) {
        answer["navigate"] = *std::exchange(navigate_, std::nullopt);
    }
    exchange.reply->Give(JsonReply(answer));
}

HttpResponse BrowserFront::ServeFile(const std::string& path) {
    const FileKind& kind = KindOf(path);
    const std::u16string url = path.starts_with(kResourcePrefix)
                                   ? u"res:" + Utf8ToUnits(path.substr(sizeof kResourcePrefix - 1))
                                   : u"this://app/" + Utf8ToUnits(path);
    std::optional<std::vector<BYTE>> bytes;
    if (loaded_page_ && loaded_page_->first == url) {
        bytes = std::move(loaded_page_->second);  // asked for by the load already
        loaded_page_.reset();
    } else {
        bytes = AskHost(window_, url, kind.data_type);
    }
    if (!bytes) {
        ReportMissing(url, kind.data_type, u"");
        return Refused(404);
    }
    std::string body(bytes->begin(), bytes->end());
    if (kind.data_type == RT_DATA_HTML) {
        static const std::regex head(R"(<head\b[^>]*>)", std::regex::icase);
        static const std::regex html(R"(<html\b[^>]*>)", std::regex::icase);
        std::smatch at;
        std::size_t position = 0;
        if (std::regex_search(body, at, head) || std::regex_search(body, at, html)) {
            position = static_cast<std::size_t>(at.position(0) + at.length(0));
        }
        body.insert(position, "<script>window.__tallorinFront = " + FrontDescription() +
                                  ";</script>" + Inlined(kCssRewriteScript) +
                                  Inlined(kBootstrapScript));
    }
    return {200, kind.content_type, std::move(body)};
}

std::string BrowserFront::FrontDescription() const {
    json objects = json::array();
    for (const std::string& name : GlobalObject::Names()) {
        if (const auto object = GlobalObject::Find(name)) {
            objects.push_back({{"name", name},
                               {"methods", object->MethodNames()},
                               {"properties", object->PropertyNames()}});
        }
    }
    std::string text = json{
        {"secret", secret_},
        {"bridge", "/" + secret_ + "/" + kBridgePath},
        {"parameters", nullptr},
        {"objects",
         objects}}.dump();
    for (std::size_t at = 0; (at = text.find("</", at)) != std::string::npos; at += 3) {
        text.replace(at, 2, "<\\/");
    }
    return text;
}

json BrowserFront::Answer(const json& message) {
    const std::string op = message.value("op", "");
    if (op == "console") {
        EmitDebug(OT_TIS, ConsoleSeverity(message.value("level", "log")),
                  Utf8ToUnits(message.value("text", "")));
        return {{"result", Undefined()}};
    }
    if (op == "close") {
        PostMessageW(hwnd_, WM_CLOSE, 0, 0);
        return {{"result", Undefined()}};
    }
    if (op == "key") {
        const std::string command = message.value("command", "");
        UINT state = 0;
        state |= message.value("ctrl", false) ? UINT{CONTROL_KEY_PRESSED} : 0U;
        state |= message.value("shift", false) ? UINT{SHIFT_KEY_PRESSED} : 0U;
        state |= message.value("alt", false) ? UINT{ALT_KEY_PRESSED} : 0U;
        const BOOL handled =
            SendKey(hwnd_, command == "down" ? KEY_DOWN : KEY_UP, message.value("code", 0U), state);
        return {{"result", handled != FALSE}};
    }
    if (op != "call" && op != "get") {
        return {{"error", "unknown request: " + op}};
    }
    const std::string name = message.value("object", "");
    const auto object = GlobalObject::Find(name);
    if (!object) {
        return {{"error", "no global object: " + name}};
    }
    if (op == "get") {
        return {{"result", Encode(object->Get(message.value("name", "")))}};
    }
    std::vector<Value> arguments;
    for (const json& argument : message.value("args", json::array())) {
        arguments.push_back(Decode(argument, message.value("page", "")));
    }
    return {{"result", Encode(object->Call(message.value("name", ""), arguments))}};
}

Value BrowserFront::Invoke(const std::string& page, int function,
                           const std::vector<Value>& arguments) {
    json encoded = json::array();
    for (const Value& argument : arguments) {
        encoded.push_back(Encode(argument));
    }
    if (stopping_) {
        return Value();
    }
    if (std::this_thread::get_id() != program_thread_ || exchanges_.empty()) {
        // Nothing of the page's is open now: it runs at the start of the page's next request.
        const std::lock_guard lock(mutex_);
        pending_.push_back({page, function, std::move(encoded)});
        return Value();
    }
    if (page != page_) {
        return Value();  // a page that is gone
    }
    return Decode(CallInPage(function, std::move(encoded)), page);
}

void BrowserFront::CallPending(const std::string& page) {
    std::deque<PendingCall> calls;
    {
        const std::lock_guard lock(mutex_);
        calls.swap(pending_);
    }
    for (PendingCall& call : calls) {
        if (call.page == page) {
            try {
                CallInPage(call.function, std::move(call.arguments));
            } catch (const std::exception&) {
                // the page has already reported what its function threw
            }
        }
    }
}

json BrowserFront::CallInPage(int function, json arguments) {
    Exchange& exchange = *exchanges_.back();
    exchange.reply->Give(
        JsonReply({{"invoke", {{"function", function}, {"args", std::move(arguments)}}}}));
    for (;;) {
        auto work = Take(true);
        if (!work) {
            return Undefined();  // the page or the window went while it ran
        }
        if (work->bridge && work->message.value("op", "") == "return") {
            exchange.reply = work->reply;
            if (work->message.contains("error")) {
                throw std::runtime_error(work->message["error"].dump());
            }
            return work->message.value("value", Undefined());
        }
        Process(*work);
    }
}

json BrowserFront::Encode(const Value& value) const {
    const VALUE& raw = value.raw();
    switch (raw.t) {
        case T_NULL:
            return nullptr;
        case T_BOOL:
            return raw.d != 0;
        case T_INT:
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(raw.d));
        case T_FLOAT: {
            const double number = std::bit_cast<double>(raw.d);
            if (std::isfinite(number)) {
                return number;
            }
            return {{"$", "number"}, {"text", UnitsToUtf8(value.Text())}};
        }
        case T_STRING:
            if (raw.u == UT_STRING_ERROR) {
                return {{"$", "error"}, {"text", UnitsToUtf8(value.Text())}};
            }
            return UnitsToUtf8(value.Text());
        case T_ARRAY: {
            json elements = json::array();
            for (const VALUE& element : NodeAs<ArrayNode>(raw)->elements) {
                elements.push_back(Encode(Value(element)));
            }
            return elements;
        }
        case T_OBJECT:
            return json::object();  // the stand-in's objects hold no fields
        default:
            return Undefined();  // native functions stay with the program
    }
}

Value BrowserFront::Decode(const json& value, const std::string& page) {
    switch (value.type()) {
        case json::value_t::null:
            return Value::Null();
        case json::value_t::boolean:
            return Value::Boolean(value.get<bool>());
        case json::value_t::number_integer:
        case json::value_t::number_unsigned: {
            const auto number = value.get<std::int64_t>();
            if (number >= INT32_MIN && number <= INT32_MAX) {
                return Value::Integer(static_cast<int>(number));
            }
            return Value::Float(static_cast<double>(number));
        }
        case json::value_t::number_float:
            return Value::Float(value.get<double>());
        case json::value_t::string:
            return Value::String(Utf8ToUnits(value.get<std::string>()));
        case json::value_t::array: {
            Value array;
            Hold(*array.slot(), T_ARRAY, 0, new ArrayNode());
            INT index = 0;
            for (const json& element : value) {
                const Value decoded = Decode(element, page);
                ValueNthElementValueSet(array.slot(), index++, &decoded.raw());
            }
            return array;
        }
        case json::value_t::object: {
            const std::string kind = value.value("$", "");
            if (kind == "undefined") {
                return Value();
            }
            if (kind == "number") {
                return Value::Float(std::strtod(value.value("text", "NaN").c_str(), nullptr));
            }
            if (kind == "error") {
                return Value::String(Utf8ToUnits(value.value("text", "")), UT_STRING_ERROR);
            }
            if (kind == "function") {
                const int id = value.value("id", 0);
                return Value::Function(
                    [front = weak_from_this(), page, id](const std::vector<Value>& arguments) {
                        const auto alive = front.lock();
                        return alive ? alive->Invoke(page, id, arguments) : Value();
                    });
            }
            return Value::Object();
        }
        default:
            return Value();
    }
}

}  // namespace engine_stand_in::detail
