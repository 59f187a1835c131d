// The run's log: one file in the product's log folder through spdlog's default logger.
#pragma once

#include <cstddef>
#include <string>

struct LoggerSettings {
    std::wstring log_dir_path;
    int level = 2;  // spdlog level number: 0 trace .. 4 error
    std::size_t max_file_size = 0;
    bool create_console = false;
};

// The threshold named by VELMORA_LOG_LEVEL: a word of trace, debug, info, warn, error after
// lower-casing; anything else, empty or unset means info (2).
int LogLevelFromEnvironment();

// Fills the settings from the environment and the log folder, then SetupDefaultLogger.
// Throws when the log folder or the file cannot be had.
void InitLogging();

// Builds the logger over the log file's sink and makes it spdlog's default. Throws
// std::runtime_error ("Failed to create console", "failed to get module file name. error=N"),
// or spdlog's own exception ("Failed opening file ..." naming what was found when the log file
// cannot be made safely: see OpenLogFile).
void SetupDefaultLogger(const LoggerSettings& settings);

// "<time>_<program stem>_pid=<pid>.txt", the time as "%Y.%m.%d_%H.%M.%S_" or "-invalid-date-".
std::wstring MakeLogFileName(const std::wstring& module_path, unsigned long process_id);
