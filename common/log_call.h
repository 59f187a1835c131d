// The one way the program's own code logs: a level, an fmt message and the source location,
// whose file is the component's tag with the source file's name (GetSourceTag) and whose
// function is the caller's qualified name; the engine's debug messages alone
// (LOG_AT_SOURCE_PATH) carry the compiler's full source path as the file instead. The default
// logger is fetched on every call, the message is formatted only when the level passes the
// threshold, and a log call never throws.
//
//     LOG_AT(kLogTag, spdlog::level::debug, "crash_uuid={}", crash_uuid);
//
// where kLogTag is the component's one tag (the application's is in common/log_tag.h).
#pragma once

#include <spdlog/spdlog.h>

#include <string>
#include <string_view>
#include <utility>

#include "common/source_tag.h"

namespace logging {

// "void Localization::Localizer::Init(const LocalizerConfig&)" -> "Localization::Localizer::Init".
std::string QualifiedFunctionName(std::string_view pretty_function);

// One record. Its file field is the component's tag with the file's name, or, without a tag,
// the file's path as the compiler gave it.
template <typename... Args>
void Write(const char* tag, const char* file, int line, const char* pretty_function,
           spdlog::level::level_enum level, fmt::format_string<Args...> format,
           Args&&... args) noexcept {
    try {
        const auto logger = spdlog::default_logger();
        if (!logger || !logger->should_log(level)) {
            return;
        }
        const std::string function = QualifiedFunctionName(pretty_function);
        const char* const source = tag != nullptr ? GetSourceTag(tag, file).c_str() : file;
        const spdlog::source_loc location{source, line, function.c_str()};
        logger->log(location, level, format, std::forward<Args>(args)...);
    } catch (...) {
        // Logging must never take its caller down.
    }
}

}  // namespace logging

#define LOG_AT(tag, level, ...) \
    ::logging::Write((tag), __FILE__, __LINE__, __PRETTY_FUNCTION__, (level), __VA_ARGS__)

// Only for the engine's debug messages, whose records carry the compiler's full source path.
#define LOG_AT_SOURCE_PATH(level, ...) \
    ::logging::Write(nullptr, __FILE__, __LINE__, __PRETTY_FUNCTION__, (level), __VA_ARGS__)
