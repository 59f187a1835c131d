// A helper program (a test server, a proxy) that runs beside a test and is stopped with it.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace test_support {

class BackgroundProcess {
public:
    // Starts `program` with `arguments`; its standard output and error go to `output_file`.
    // The process also ends when the test program dies.
    BackgroundProcess(const std::filesystem::path& program,
                      const std::vector<std::string>& arguments,
                      const std::filesystem::path& output_file);
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;
    // SIGTERM, then SIGKILL when it has not ended within five seconds.
    ~BackgroundProcess();

    bool Running() const;

private:
    int pid_ = -1;
};

// Waits until `file` exists or the process has ended or the time is up; true when it exists.
bool WaitForFile(const std::filesystem::path& file, const BackgroundProcess& process,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20));

}  // namespace test_support
