#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace test_support {

ChildResult RunChild(const std::filesystem::path& program, const ChildOptions& options) {
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        ::dup2(pipe_fds[1], STDOUT_FILENO);
        ::dup2(pipe_fds[1], STDERR_FILENO);
        for (const auto& [name, value] : options.environment) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
        if (options.working_directory && ::chdir(options.working_directory->c_str()) != 0) {
            ::_exit(126);
        }
        std::vector<std::string> argv_text{program.string()};
        argv_text.insert(argv_text.end(), options.arguments.begin(), options.arguments.end());
        std::vector<char*> argv;
        for (auto& text : argv_text) {
            argv.push_back(text.data());
        }
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipe_fds[1]);

    ChildResult result;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
    char buffer[4096];
    for (;;) {
        pollfd fd{pipe_fds[0], POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        const ssize_t got = ::read(pipe_fds[0], buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        result.output.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipe_fds[0]);

    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status)) {
        // Exit codes are 8 bits here; -1 arrives as 255.
        result.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signalled = true;
        result.exit_code = 128 + WTERMSIG(status);
    }
    return result;
}

std::filesystem::path BinaryFolder() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

}  // namespace test_support
