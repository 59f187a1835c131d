// The scenario driver: plays the interface script's part from inside the program's message
// loop, one step per idle turn once the main window is shown, and writes a transcript line
// for every result (JSON lines, flushed as written, so a transcript is whole whatever ends the
// process). The scenario is a JSON array of steps; see engine_stand_in/windows.h for the
// variables and README for the format.
#include <windows.h>

#include <platform/window_registry.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine_stand_in/global_object.h"
#include "engine_stand_in/options.h"
#include "engine_stand_in/value.h"
#include "platform/engine/src/engine_window.h"
#include "platform/engine/src/text.h"

namespace engine_stand_in::detail {

namespace {

using nlohmann::json;

const char* TypeName(UINT type) {
    switch (type) {
        case T_UNDEFINED:
            return "undefined";
        case T_NULL:
            return "null";
        case T_BOOL:
            return "bool";
        case T_INT:
            return "int";
        case T_FLOAT:
            return "float";
        case T_STRING:
            return "string";
        case T_ARRAY:
            return "array";
        case T_FUNCTION:
            return "function";
        case T_OBJECT:
            return "object";
        default:
            return "other";
    }
}

json Describe(const Value& value) {
    return {{"type", TypeName(value.type())},
            {"units", value.units()},
            {"text", UnitsToUtf8(value.Text())}};
}

class Transcript {
public:
    explicit Transcript(const char* path) {
        if (path != nullptr && *path != 0) {
            file_.open(path, std::ios::trunc);
        }
    }
    void Write(const json& line) {
        const std::lock_guard lock(mutex_);
        if (file_) {
            file_ << line.dump() << '\n' << std::flush;
        }
    }

private:
    std::mutex mutex_;
    std::ofstream file_;
};

// A script function that writes each call into the transcript.
Value RecordingFunction(std::shared_ptr<Transcript> transcript, std::string label) {
    return Value::Function([transcript, label](const std::vector<Value>& arguments) {
        json described = json::array();
        for (const Value& argument : arguments) {
            described.push_back(Describe(argument));
        }
        transcript->Write({{"function", label}, {"arguments", described}});
        return Value();
    });
}

class Driver {
public:
    Driver(json steps, std::shared_ptr<Transcript> transcript, HWND window)
        : steps_(std::move(steps)), transcript_(std::move(transcript)), window_(window) {}

    // One idle turn: whether it did something.
    bool Turn() {
        if (!IsWindow(window_)) {
            if (!finished_) {
                finished_ = true;
                transcript_->Write(
                    {{"stopped", "window destroyed"}, {"remaining", steps_.size() - next_}});
            }
            return false;
        }
        if (!IsWindowVisible(window_)) {
            return false;  // the steps start once the window is shown
        }
        if (next_ < steps_.size()) {
            const std::size_t index = next_++;
            transcript_->Write(Run(index, steps_[index]));
            return true;
        }
        if (!finished_) {
            // Nothing left to play: close the window as a user would.
            finished_ = true;
            transcript_->Write({{"end", true}, {"steps", steps_.size()}});
            PostMessageW(window_, WM_CLOSE, 0, 0);
            return true;
        }
        // The window refused to close: end the loop rather than wait for ever.
        transcript_->Write({{"stopped", "window did not close"}});
        platform::SetIdleHandler({});
        PostQuitMessage(3);
        return true;
    }

    void Loaded(const EngineWindow& window) {
        json files = json::array();
        for (const FileRequest& request : window.last_load) {
            files.push_back({{"url", UnitsToUtf8(request.url)}, {"delivered", request.delivered}});
        }
        transcript_->Write({{"loaded", UnitsToUtf8(window.document_url)}, {"files", files}});
    }

    HWND window() const { return window_; }

private:
    json Run(std::size_t index, const json& step) {
        json line = step;
        line["step"] = index;
        try {
            const std::string action = step.at("do").get<std::string>();
            if (action == "call") {
                line["result"] = Describe(
                    Object(step).Call(step.at("method").get<std::string>(), Arguments(step)));
            } else if (action == "get") {
                line["result"] = Describe(Object(step).Get(step.at("property").get<std::string>()));
            } else if (action == "on") {
                const std::vector<Value> arguments{
                    Value::String(Utf8ToUnits(step.at("event").get<std::string>())),
                    RecordingFunction(transcript_,
                                      step.value("function", std::string("listener")))};
                line["result"] = Describe(Object(step).Call("on", arguments));
            } else if (action == "key") {
                line["handled"] =
                    SendKey(window_, KeyCommand(step), step.at("key_code").get<UINT>(),
                            KeyboardState(step)) != FALSE;
            } else if (action == "console") {
                EmitDebug(OT_TIS, ConsoleSeverity(step.value("level", std::string("log"))),
                          Utf8ToUnits(step.at("text").get<std::string>()));
            } else if (action == "reload") {
                const auto window = FindEngineWindow(window_);
                if (!window) {
                    throw std::runtime_error("no window");
                }
                LoadDocument(*window, window->document_url);
            } else if (action == "options") {
                line["options"] = Options();
            } else if (action == "close") {
                line["posted"] = PostMessageW(window_, WM_CLOSE, 0, 0) != FALSE;
            } else {
                throw std::runtime_error("unknown step: " + action);
            }
        } catch (const std::exception& error) {
            line["error"] = error.what();
        }
        return line;
    }

    // Every SciterSetOption call so far, in order; a window as its handle's number.
    static json Options() {
        json options = json::array();
        for (const RecordedOption& option : RecordedOptions()) {
            options.push_back({{"window", reinterpret_cast<std::uintptr_t>(option.window)},
                               {"option", option.option},
                               {"value", option.value}});
        }
        return options;
    }

    static GlobalObject Object(const json& step) {
        const std::string name = step.at("object").get<std::string>();
        auto object = GlobalObject::Find(name);
        if (!object) {
            throw std::runtime_error("no global object: " + name);
        }
        return std::move(*object);
    }

    std::vector<Value> Arguments(const json& step) const {
        std::vector<Value> arguments;
        for (const json& argument : step.value("arguments", json::array())) {
            arguments.push_back(ToValue(argument));
        }
        return arguments;
    }

    Value ToValue(const json& argument) const {
        switch (argument.type()) {
            case json::value_t::string:
                return Value::String(Utf8ToUnits(argument.get<std::string>()));
            case json::value_t::boolean:
                return Value::Boolean(argument.get<bool>());
            case json::value_t::number_integer:
            case json::value_t::number_unsigned:
                return Value::Integer(argument.get<int>());
            case json::value_t::number_float:
                return Value::Float(argument.get<double>());
            case json::value_t::null:
                return Value::Null();
            case json::value_t::object:
                if (argument.contains("function")) {
                    return RecordingFunction(transcript_, argument["function"].get<std::string>());
                }
                if (argument.value("undefined", false)) {
                    return Value();
                }
                return Value::Object();
            default:
                throw std::runtime_error("unsupported argument: " + argument.dump());
        }
    }

    static UINT KeyCommand(const json& step) {
        const json command = step.value("command", json("up"));
        if (command.is_number()) {
            return command.get<UINT>();
        }
        const std::string name = command.get<std::string>();
        if (name == "down") return KEY_DOWN;
        if (name == "up") return KEY_UP;
        if (name == "char") return KEY_CHAR;
        throw std::runtime_error("unknown key command: " + name);
    }

    static UINT KeyboardState(const json& step) {
        UINT state = 0;
        for (const json& key : step.value("keyboard_state", json::array())) {
            const std::string name = key.get<std::string>();
            if (name == "ctrl")
                state |= CONTROL_KEY_PRESSED;
            else if (name == "shift")
                state |= SHIFT_KEY_PRESSED;
            else if (name == "alt")
                state |= ALT_KEY_PRESSED;
            else
                throw std::runtime_error("unknown modifier: " + name);
        }
        return state;
    }

    // console.log / warn / error as the interface's script prints them.
    static UINT ConsoleSeverity(const std::string& level) {
        if (level == "log") return OS_INFO;
        if (level == "warn") return OS_WARNING;
        if (level == "error") return OS_ERROR;
        throw std::runtime_error("unknown console level: " + level);
    }

    const json steps_;
    const std::shared_ptr<Transcript> transcript_;
    const HWND window_;
    std::size_t next_ = 0;
    bool finished_ = false;
};

std::mutex g_driver_mutex;
std::shared_ptr<Driver> g_driver;

std::shared_ptr<Driver> ActiveDriver() {
    const std::lock_guard lock(g_driver_mutex);
    return g_driver;
}

}  // namespace

void StartScenarioIfAsked(HWND main_window) {
    const char* const scenario_path = std::getenv(kScenarioVariable);
    if (scenario_path == nullptr || *scenario_path == 0) {
        return;
    }
    const std::lock_guard lock(g_driver_mutex);
    if (g_driver) {
        return;
    }
    auto transcript = std::make_shared<Transcript>(std::getenv(kTranscriptVariable));
    json steps = json::array();
    try {
        std::ifstream file(scenario_path);
        steps = json::parse(file);
        if (!steps.is_array()) {
            throw std::runtime_error("a scenario is an array of steps");
        }
    } catch (const std::exception& error) {
        transcript->Write({{"scenario", scenario_path}, {"error", error.what()}});
        steps = json::array();
    }
    g_driver = std::make_shared<Driver>(std::move(steps), std::move(transcript), main_window);
    platform::SetIdleHandler([driver = g_driver] { return driver->Turn(); });
}

void ScenarioDocumentLoaded(const EngineWindow& window) {
    if (const auto driver = ActiveDriver(); driver && driver->window() == window.hwnd) {
        driver->Loaded(window);
    }
}

}  // namespace engine_stand_in::detail
