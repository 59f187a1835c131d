#include <windows.h>

#include <platform/testing.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <iterator>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "platform/src/command_line.h"
#include "platform/src/fault_injection.h"
#include "platform/src/modules.h"
#include "platform/src/utf.h"

extern char** environ;

namespace {

struct CommandLineState {
    std::mutex mutex;
    std::vector<std::wstring> override_arguments;
    // Every text handed out stays alive: callers keep the pointers for the whole process.
    std::list<std::wstring> wide_texts;
    std::list<std::string> ansi_texts;
};

CommandLineState& CommandLine() {
    static CommandLineState state;
    return state;
}

std::vector<std::wstring> ProcessArguments() {
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::wstring> arguments;
    std::size_t start = 0;
    while (start < raw.size()) {
        const auto end = raw.find('\0', start);
        const auto stop = end == std::string::npos ? raw.size() : end;
        arguments.push_back(
            platform::detail::Utf8ToWide(std::string_view(raw).substr(start, stop - start)));
        start = stop + 1;
    }
    return arguments;
}

std::wstring BuildCommandLine(const std::vector<std::wstring>& arguments) {
    std::wstring line;
    for (const auto& argument : arguments) {
        if (!line.empty()) {
            line += L' ';
        }
        line += platform::detail::QuoteArgument(argument);
    }
    return line;
}

// Caller holds the state's mutex.
const std::wstring& CurrentCommandLine(CommandLineState& state) {
    const auto arguments =
        state.override_arguments.empty() ? ProcessArguments() : state.override_arguments;
    auto line = BuildCommandLine(arguments);
    if (state.wide_texts.empty() || state.wide_texts.back() != line) {
        state.wide_texts.push_back(std::move(line));
    }
    return state.wide_texts.back();
}

const platform::detail::ResetRegistration kResetCommandLine([] {
    auto& state = CommandLine();
    const std::lock_guard lock(state.mutex);
    state.override_arguments.clear();
});

std::string EnvironmentValue(const std::string& name, bool& found) {
    if (const char* value = std::getenv(name.c_str())) {
        found = true;
        return value;
    }
    // Windows compares names without regard to case.
    auto lower = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return text;
    };
    const auto wanted = lower(name);
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const auto equals = text.find('=');
        if (equals != std::string_view::npos &&
            lower(std::string(text.substr(0, equals))) == wanted) {
            found = true;
            return std::string(text.substr(equals + 1));
        }
    }
    found = false;
    return {};
}

// Copies text and terminator when it fits; otherwise answers the size needed, terminator included.
DWORD CopyOut(const std::wstring& text, LPWSTR buffer, DWORD size) {
    if (buffer == nullptr || size <= text.size()) {
        return static_cast<DWORD>(text.size() + 1);
    }
    std::wmemcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

}  // namespace

namespace platform::testing {

void SetCommandLineArguments(std::vector<std::wstring> arguments) {
    auto& state = CommandLine();
    const std::lock_guard lock(state.mutex);
    state.override_arguments = std::move(arguments);
}

}  // namespace platform::testing

extern "C" {

LPWSTR WINAPI GetCommandLineW() {
    auto& state = CommandLine();
    const std::lock_guard lock(state.mutex);
    return const_cast<LPWSTR>(CurrentCommandLine(state).c_str());
}

LPSTR WINAPI GetCommandLineA() {
    auto& state = CommandLine();
    const std::lock_guard lock(state.mutex);
    auto ansi = platform::detail::WideToUtf8(CurrentCommandLine(state));
    if (state.ansi_texts.empty() || state.ansi_texts.back() != ansi) {
        state.ansi_texts.push_back(std::move(ansi));
    }
    return state.ansi_texts.back().data();
}

DWORD WINAPI GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    if (platform::detail::TakeInjectedFailure("GetEnvironmentVariableW")) {
        return 0;
    }
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    bool found = false;
    const auto value = EnvironmentValue(platform::detail::WideToUtf8(name), found);
    if (!found) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    return CopyOut(platform::detail::Utf8ToWide(value), buffer, size);
}

DWORD WINAPI GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR file_name, DWORD size) {
    if (platform::detail::TakeInjectedFailure("GetModuleFileNameW")) {
        return 0;
    }
    const auto path = platform::detail::ModulePath(module);
    if (!path) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (file_name == nullptr || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Too long: the truncated, terminated path, the full size and ERROR_INSUFFICIENT_BUFFER.
    if (path->size() >= size) {
        std::wmemcpy(file_name, path->c_str(), size - 1);
        file_name[size - 1] = L'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::wmemcpy(file_name, path->c_str(), path->size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path->size());
}
}
