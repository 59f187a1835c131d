// Opens one file through the layer over and over, as runs that work on the same folder do, so
// that the layer's sharing probes and other processes' opens meet: argv[1] the file, argv[2]
// the number of rounds, argv[3] what to do with SIGIO: "default" starts with its default
// disposition, as a program does, and raises it at the end, which must not end the process;
// "handled" installs a handler first, which must be kept and called. Each round opens the file
// with read sharing only, for deletion, and plainly.
#include <windows.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

volatile sig_atomic_t g_handled = 0;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        return 2;
    }
    const std::string mode = argv[3];
    // A test process may have left SIGIO ignored, which a child inherits.
    ::signal(SIGIO, mode == "handled" ? +[](int) { g_handled = 1; } : SIG_DFL);
    const std::wstring path = std::filesystem::path(argv[1]).wstring();
    const long rounds = std::strtol(argv[2], nullptr, 10);
    for (long round = 0; round < rounds; ++round) {
        // Each asks the kernel by a lease: a read lease, then a write lease.
        for (const DWORD access : {DWORD{GENERIC_READ}, DWORD{DELETE}}) {
            const DWORD share = access == DELETE
                                    ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
                                    : FILE_SHARE_READ;
            const HANDLE file =
                CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                CloseHandle(file);
            }
        }
        const int plain = ::open(argv[1], O_RDONLY | O_CLOEXEC);
        if (plain >= 0) {
            ::close(plain);
        }
    }
    ::raise(SIGIO);
    return mode == "handled" && g_handled == 0 ? 5 : 0;
}
