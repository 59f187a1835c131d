// Runs a program as a child process and collects its exit code and output.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

struct ChildResult {
    int exit_code = -1;  // the exit status, or 128 + signal number when killed
    bool signalled = false;
    std::string output;  // standard output and standard error together
};

struct ChildOptions {
    std::vector<std::string> arguments;                             // after the program path
    std::map<std::string, std::optional<std::string>> environment;  // set, or unset when empty
    std::optional<std::filesystem::path> working_directory;
    int timeout_seconds = 120;
};

ChildResult RunChild(const std::filesystem::path& program, const ChildOptions& options);

// The folder of the running test executable, where the build puts every program.
std::filesystem::path BinaryFolder();

}  // namespace test_support
