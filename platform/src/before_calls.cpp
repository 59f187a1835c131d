#include "platform/src/before_calls.h"

#include <platform/testing.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "platform/src/fault_injection.h"

extern char** environ;

namespace platform::detail {
namespace {

struct Registration {
    std::string function;
    std::string path;
    std::shared_ptr<const std::function<void()>> callback;
    int remaining;  // < 0: every time
};

struct Registrations {
    std::mutex mutex;
    std::vector<Registration> entries;
    std::atomic<bool> any{false};  // keeps the common call free of the lock
};

Registrations& TheRegistrations() {
    static Registrations registrations;
    return registrations;
}

const ResetRegistration kResetBeforeCalls([] { platform::testing::ClearBeforeCalls(); });

// Whether the calling thread is running a callback: the calls it makes run none.
thread_local bool t_in_callback = false;

// Runs `/bin/sh -c command` and waits for it.
void RunShell(const std::string& command) {
    const char* const arguments[] = {"sh", "-c", command.c_str(), nullptr};
    // The layer may ignore SIGIO for itself; the command starts with its default.
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGIO);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t child = 0;
    const int spawned = ::posix_spawn(&child, "/bin/sh", nullptr, &attributes,
                                      const_cast<char* const*>(arguments), environ);
    ::posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        std::fprintf(stderr, "PLATFORM_BEFORE_CALL: cannot run /bin/sh\n");
        return;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

// A real run's registrations, from the file that PLATFORM_BEFORE_CALL names. A file that is
// not what it should be ends the run: a test would otherwise pass without its swaps.
void RegisterFromEnvironment() {
    const char* const file = std::getenv("PLATFORM_BEFORE_CALL");
    if (file == nullptr || *file == '\0') {
        return;
    }
    try {
        std::ifstream in(file);
        const auto entries = nlohmann::json::parse(in);
        for (const auto& entry : entries.get_ref<const nlohmann::json::array_t&>()) {
            const std::string run = entry.at("run").get<std::string>();
            platform::testing::BeforeCall(
                entry.at("call").get<std::string>(), entry.at("path").get<std::string>(),
                [run] { RunShell(run); }, entry.value("times", 1));
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "PLATFORM_BEFORE_CALL=%s: %s\n", file, error.what());
        std::abort();
    }
}

}  // namespace

void RunBeforeCall(std::string_view function, const std::function<std::string()>& path) {
    static std::once_flag from_environment;
    std::call_once(from_environment, RegisterFromEnvironment);
    auto& registrations = TheRegistrations();
    if (!registrations.any.load(std::memory_order_acquire) || t_in_callback) {
        return;
    }
    std::optional<std::string> where;
    std::vector<std::shared_ptr<const std::function<void()>>> due;
    {
        const std::lock_guard lock(registrations.mutex);
        for (auto& entry : registrations.entries) {
            if (entry.function != function) {
                continue;
            }
            if (!where) {
                where = path();
            }
            if (entry.path == *where && entry.remaining != 0) {
                due.push_back(entry.callback);
                if (entry.remaining > 0) {
                    --entry.remaining;
                }
            }
        }
        std::erase_if(registrations.entries,
                      [](const Registration& entry) { return entry.remaining == 0; });
        registrations.any.store(!registrations.entries.empty(), std::memory_order_release);
    }
    // Run outside the lock: a callback may use the file calls, or register more.
    struct InCallback {
        InCallback() { t_in_callback = true; }
        InCallback(const InCallback&) = delete;
        InCallback& operator=(const InCallback&) = delete;
        ~InCallback() { t_in_callback = false; }
    } const in_callback;
    for (const auto& callback : due) {
        (*callback)();
    }
}

}  // namespace platform::detail

namespace platform::testing {

void BeforeCall(std::string_view function, std::string path, std::function<void()> callback,
                int times) {
    if (times == 0) {
        return;
    }
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    auto& registrations = detail::TheRegistrations();
    const std::lock_guard lock(registrations.mutex);
    registrations.entries.push_back(
        {std::string(function), std::move(path),
         std::make_shared<const std::function<void()>>(std::move(callback)), times});
    registrations.any.store(true, std::memory_order_release);
}

void ClearBeforeCalls() {
    auto& registrations = detail::TheRegistrations();
    const std::lock_guard lock(registrations.mutex);
    registrations.entries.clear();
    registrations.any.store(false, std::memory_order_release);
}

}  // namespace platform::testing
