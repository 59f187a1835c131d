#include "platform/engine/src/browser_guard.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

namespace engine_stand_in::detail {

namespace {

constexpr int kSignalsToOutlive[] = {SIGINT, SIGHUP, SIGTERM, SIGQUIT, SIGPIPE};
constexpr int kGraceSteps = 150;  // of 20 ms: Chromium's time to end by itself
constexpr int kMaxDepth = 24;     // of folders below the profile; a profile has a handful
constexpr int kMaxPasses = 16;    // over one folder whose entries change meanwhile

void Nap(long milliseconds) {
    timespec pause{0, milliseconds * 1000 * 1000};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

void SetDisposition(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

// Closes every descriptor the program had, except the `count` in `keep`: the guard must not hold
// the lifeline's write end, nor keep the program's sockets open after the program.
void KeepOnly(const int* keep, int count) {
    int sorted[8];
    int n = 0;
    for (int i = 0; i < count && n < 8; ++i) {
        if (keep[i] >= 0) {
            sorted[n++] = keep[i];
        }
    }
    for (int i = 1; i < n; ++i) {
        for (int j = i; j > 0 && sorted[j - 1] > sorted[j]; --j) {
            const int swap = sorted[j];
            sorted[j] = sorted[j - 1];
            sorted[j - 1] = swap;
        }
    }
    unsigned first = 3;
    for (int i = 0; i < n; ++i) {
        if (static_cast<unsigned>(sorted[i]) > first) {
            close_range(first, static_cast<unsigned>(sorted[i]) - 1, 0);
        }
        if (static_cast<unsigned>(sorted[i]) + 1 > first) {
            first = static_cast<unsigned>(sorted[i]) + 1;
        }
    }
    close_range(first, ~0U, 0);
}

bool EmptyFolderAt(int folder, int depth) {
    // getdents64 records: inode (8), offset (8), record length (2), type (1), name.
    alignas(8) char buffer[4096];
    for (int pass = 0; pass < kMaxPasses; ++pass) {
        if (lseek(folder, 0, SEEK_SET) < 0) {
            return false;
        }
        bool found = false;
        bool removed = false;
        for (;;) {
            const long read = syscall(SYS_getdents64, folder, buffer, sizeof buffer);
            if (read <= 0) {
                if (read < 0) {
                    return false;
                }
                break;
            }
            for (long at = 0; at < read;) {
                unsigned short length = 0;
                std::memcpy(&length, buffer + at + 16, sizeof length);
                const char* const name = buffer + at + 19;
                at += length;
                if (length == 0) {
                    return false;
                }
                if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
                    continue;
                }
                found = true;
                if (unlinkat(folder, name, 0) == 0 || errno == ENOENT) {
                    removed = true;
                    continue;
                }
                if ((errno != EISDIR && errno != EPERM) || depth >= kMaxDepth) {
                    continue;
                }
                const int inner =
                    openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (inner >= 0) {
                    EmptyFolderAt(inner, depth + 1);
                    close(inner);
                }
                if (unlinkat(folder, name, AT_REMOVEDIR) == 0 || errno == ENOENT) {
                    removed = true;
                }
            }
        }
        if (!found) {
            return true;
        }
        if (!removed) {
            return false;  // what is left cannot be removed
        }
    }
    return false;
}

// SIGTERM to the browser and its helpers when the program ended the window, and what has not
// ended after the grace gets SIGKILL; when the program is gone, SIGKILL at once. The browser is
// reaped only after the group's last signal: until then its pid, and so the group's id, cannot
// be given to another process.
void EndBrowser(pid_t browser, bool graceful) {
    kill(-browser, graceful ? SIGTERM : SIGKILL);
    for (int step = 0; graceful && step < kGraceSteps; ++step) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(browser), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == browser) {
            break;
        }
        Nap(20);
    }
    kill(-browser, SIGKILL);
    while (waitpid(browser, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

bool EmptyFolder(int folder) { return EmptyFolderAt(folder, 0); }

void RunGuard(const GuardPlan& plan) {
    // A group of its own: a terminal's Ctrl+C or hang-up to the program's group spares it, and
    // it ignores the signals that end the program, so it is there to clean up after them.
    setpgid(0, 0);
    prctl(PR_SET_NAME, "browser-guard", 0, 0, 0);
    for (const int signal : kSignalsToOutlive) {
        SetDisposition(signal, SIG_IGN);
    }
    const int keep[] = {plan.browser_end, plan.quiet, plan.lifeline, plan.profile};
    KeepOnly(keep, 4);
    const pid_t guard = getpid();
    const pid_t browser = plan.browser_end >= 0 ? fork() : -1;
    if (browser == 0) {
        for (const int signal : kSignalsToOutlive) {
            SetDisposition(signal, SIG_DFL);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        // It dies with the guard, which is there as long as the program is.
        prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
        if (getppid() != guard) {
            _exit(127);
        }
        setpgid(0, 0);
        if (plan.quiet >= 0) {
            // Chromium talks a lot on its own streams; the program's output is not the place.
            dup2(plan.quiet, 1);
            dup2(plan.quiet, 2);
        }
        // --remote-debugging-pipe: commands come in on 3, answers go out on 4.
        dup2(plan.browser_end, 3);
        dup2(plan.browser_end, 4);
        execve(plan.argv[0], plan.argv, plan.envp);
        _exit(127);
    }
    if (browser > 0) {
        setpgid(browser, browser);  // also here: the end may come before the child has run
    }
    close(plan.browser_end);
    if (plan.quiet >= 0) {
        close(plan.quiet);
    }
    // The program writes one byte when it ends the window itself; the end of the pipe without
    // it is the program gone by other means.
    bool graceful = false;
    for (;;) {
        char byte = 0;
        const ssize_t read_now = read(plan.lifeline, &byte, 1);
        if (read_now < 0 && errno == EINTR) {
            continue;
        }
        if (read_now == 1) {
            graceful = true;
            continue;
        }
        break;
    }
    if (browser > 0) {
        EndBrowser(browser, graceful);
    }
    if (plan.profile >= 0) {
        EmptyFolder(plan.profile);
    }
    rmdir(plan.profile_path);
    _exit(0);
}

}  // namespace engine_stand_in::detail
