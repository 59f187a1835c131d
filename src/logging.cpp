#include "src/logging.h"

#include <windows.h>

#include <spdlog/spdlog.h>
#include <boost/algorithm/string/case_conv.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <array>
#include <ctime>
#include <iomanip>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "common/module_path.h"
#include "common/path_conversion.h"
#include "common/text_conversion.h"
#include "src/log_file_sink.h"
#include "src/product_paths.h"

namespace {

constexpr std::size_t kMaxLogFileSize = 20 * 1024 * 1024;
constexpr char kLogPattern[] = "[%D %H:%M:%S %e] [%^%l%$] [%t] [%@][%!]: %v";

std::wstring ReadEnvironmentVariable(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::vector<wchar_t> buffer(size, L'\0');
    GetEnvironmentVariableW(name, buffer.data(), size);
    return std::wstring(buffer.data(), size - 1);
}

std::wstring TimeText() {
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);  // the program logs from one thread
    if (local == nullptr) {
        return L"-invalid-date-";
    }
    std::wostringstream text;
    text << std::put_time(local, L"%Y.%m.%d_%H.%M.%S_");
    return text.str();
}

}  // namespace

int LogLevelFromEnvironment() {
    const std::wstring value = ReadEnvironmentVariable(L"VELMORA_LOG_LEVEL");
    if (value.empty()) {
        return 2;
    }
    // The global locale is still the classic one here, so only A to Z change.
    const std::wstring word = boost::algorithm::to_lower_copy(value, std::locale());
    constexpr std::array<const wchar_t*, 5> kWords = {L"trace", L"debug", L"info", L"warn",
                                                      L"error"};
    for (std::size_t level = 0; level < kWords.size(); ++level) {
        if (word == kWords[level]) {
            return static_cast<int>(level);
        }
    }
    return 2;
}

void InitLogging() {
    LoggerSettings settings;
    settings.log_dir_path = GetLogsFolder();
    settings.level = LogLevelFromEnvironment();
    settings.max_file_size = kMaxLogFileSize;
    settings.create_console = false;
    SetupDefaultLogger(settings);
}

std::wstring MakeLogFileName(const std::wstring& module_path, unsigned long process_id) {
    const std::wstring stem = PathToWide(WideToPath(module_path).stem());
    return TimeText() + stem + L"_pid=" + std::to_wstring(process_id) + L".txt";
}

void SetupDefaultLogger(const LoggerSettings& settings) {
    // The console would only exist: no sink writes to it.
    if (settings.create_console && AllocConsole() == FALSE) {
        throw std::runtime_error("Failed to create console");
    }

    const std::wstring file_name = MakeLogFileName(ModuleFileName(), GetCurrentProcessId());
    const std::filesystem::path folder = WideToPath(settings.log_dir_path);
    const std::string full_path = Utf16ToUtf8(PathToWide(folder / WideToPath(file_name)));

    // Makes the missing folders and empties a file that already has content; at the maximum
    // size the file is emptied again, so nothing earlier survives.
    std::vector<spdlog::sink_ptr> sinks{std::make_shared<LogFileSink>(
        OpenLogFile(folder, file_name), full_path, settings.max_file_size)};
    for (const auto& sink : sinks) {
        sink->set_pattern(kLogPattern);
    }

    // The name only has to be unique in spdlog's registry; it appears in no record.
    const std::string name = boost::uuids::to_string(boost::uuids::random_generator()());
    auto logger = std::make_shared<spdlog::logger>(name, sinks.begin(), sinks.end());
    logger->set_level(static_cast<spdlog::level::level_enum>(settings.level));
    logger->flush_on(spdlog::level::trace);
    spdlog::set_default_logger(std::move(logger));
}
