#include "src/sciter_logger.h"

#include <algorithm>
#include <array>
#include <string>

#include "common/log_call.h"
#include "common/log_tag.h"
#include "common/text_conversion.h"
#include "sciter/sapi.h"

namespace {

constexpr std::array<const char*, 5> kSubsystemNames = {"DOM", "CSSS", "CSS", "SCRIPT",
                                                        "UNKNOWN-SUBSYSTEM"};

struct Severity {
    const char* name;
    spdlog::level::level_enum level;
};
constexpr std::array<Severity, 4> kSeverities = {{
    {"INFO", spdlog::level::info},
    {"WARNING", spdlog::level::warn},
    {"ERROR", spdlog::level::err},
    {"UNKNOWN-SEVERITY", spdlog::level::err},
}};

}  // namespace

SciterLogger::SciterLogger() {
    SAPI()->SciterSetupDebugOutput(nullptr, static_cast<sciter::debug_output*>(this),
                                   &sciter::debug_output::output_proc);
    LOG_AT(kLogTag, spdlog::level::debug, "created");
}

void SciterLogger::output(UINT subsystem, UINT severity, const wchar_t* text, UINT length) {
    const char* const subsystem_name =
        kSubsystemNames[std::min<std::size_t>(subsystem, kSubsystemNames.size() - 1)];
    const Severity& row = kSeverities[std::min<std::size_t>(severity, kSeverities.size() - 1)];
    const std::string message =
        text == nullptr || length == 0 ? std::string() : Utf16ToUtf8(std::wstring(text, length));
    // Unlike the program's own records, these carry the compiler's full path of this file.
    LOG_AT_SOURCE_PATH(row.level, "{}: {}: {}", row.name, subsystem_name, message);
}
