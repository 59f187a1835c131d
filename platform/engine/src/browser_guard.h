// The browser's guard: a process of its own, forked from the program, that starts Chromium as
// its child and waits on a lifeline pipe whose write end only the program holds. The pipe
// reaches end of file when the program closes it (the window ends) and equally when the
// program ends in any other way (a signal, a crash, a kill), because the kernel closes the
// program's descriptors. Then the guard ends Chromium's process group (after the program's own
// end of the window SIGTERM, a few seconds' grace, SIGKILL; after any other end of the program
// SIGKILL at once), removes the profile folder and exits. So no signal handler in the program
// is needed, and Chromium does not outlive the program.
//
// The guard is forked from a program with many threads: until it exits it makes only
// async-signal-safe calls, on data prepared before the fork.
#pragma once

namespace engine_stand_in::detail {

struct GuardPlan {
    char* const* argv = nullptr;  // Chromium's, argv[0] its path
    char* const* envp = nullptr;
    int browser_end = -1;  // the browser's end of the DevTools channel: its 3 and 4
    int quiet = -1;        // /dev/null for the browser's output, or -1
    int lifeline = -1;     // read end: a byte when the program ends the window, then end of file
    int profile = -1;      // the profile folder, opened as a directory
    const char* profile_path = nullptr;
};

// In the forked child only: never returns.
[[noreturn]] void RunGuard(const GuardPlan& plan);

// Removes everything inside the open directory `folder`; links are removed, never followed.
// Async-signal-safe. False when something stayed.
bool EmptyFolder(int folder);

}  // namespace engine_stand_in::detail
