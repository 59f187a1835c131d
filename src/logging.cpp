#include "logging.h"

#include <windows.h>

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>
#include <boost/algorithm/string/case_conv.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <algorithm>
#include <array>
#include <ctime>
#include <iomanip>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "common/module_path.h"
#include "common/path_conversion.h"
#include "common/text_conversion.h"
#include "product_paths.h"

namespace {

constexpr std::size_t kMaxLogFileSize = 20 * 1024 * 1024;
// The longest path Windows has: a module name that does not fit is refused.
constexpr std::size_t kNoBackupFiles = 0;
constexpr bool kRotateOnOpen = true;
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

class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ~ScopedHandle() {
        if (*this) {
            CloseHandle(handle_);
        }
    }
    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

private:
    const HANDLE handle_;
};

// The facts of what is at `path`, the object itself and not where a reparse point leads;
// nothing when nothing is there.
std::optional<BY_HANDLE_FILE_INFORMATION> FactsWithoutFollowing(const std::wstring& path) {
    const ScopedHandle object(CreateFileW(
        path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!object) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return std::nullopt;
        }
        throw std::runtime_error("failed to create log file. error=" + std::to_string(error) +
                                 ". path=" + Utf16ToUtf8(path));
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(object.get(), &information) == FALSE) {
        throw std::runtime_error("failed to create log file. error=" +
                                 std::to_string(GetLastError()) + ". path=" + Utf16ToUtf8(path));
    }
    return information;
}

bool IsReparsePoint(const BY_HANDLE_FILE_INFORMATION& information) {
    return (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The sink opens and empties its file by path, following links. The program may run with
// more rights than the user who can write the product's folders, so whatever would lead the
// sink outside them fails the set-up instead: a reparse point at the log folder or at the
// file's name, or a file there that has another name too (a hard link). Nothing there is
// fine: the sink makes it.
void RefuseLinks(const std::wstring& folder, const std::wstring& file) {
    if (const auto facts = FactsWithoutFollowing(folder); facts && IsReparsePoint(*facts)) {
        throw std::runtime_error("failed to create log file. reparse point. path=" +
                                 Utf16ToUtf8(folder));
    }
    if (const auto facts = FactsWithoutFollowing(file)) {
        if (IsReparsePoint(*facts)) {
            throw std::runtime_error("failed to create log file. reparse point. path=" +
                                     Utf16ToUtf8(file));
        }
        if (facts->nNumberOfLinks > 1) {
            throw std::runtime_error("failed to create log file. hard link. path=" +
                                     Utf16ToUtf8(file));
        }
    }
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
    const std::wstring wide_path =
        PathToWide(WideToPath(settings.log_dir_path) / WideToPath(file_name));
    RefuseLinks(settings.log_dir_path, wide_path);
    const std::string full_path = Utf16ToUtf8(wide_path);

    // Creates missing folders and empties a file that already has content; at the maximum size
    // the file is emptied again, and with no backups nothing earlier survives.
    std::vector<spdlog::sink_ptr> sinks{std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
        full_path, settings.max_file_size, kNoBackupFiles, kRotateOnOpen)};
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
