// The C runtime's part on Windows: hand the process to wWinMain with the module handle and the
// command line after the program path.
#include <windows.h>

#include <string>

#include "platform/src/command_line.h"

int main() {
    const std::wstring command_line = GetCommandLineW();
    std::wstring arguments(platform::detail::ArgumentsAfterProgram(command_line));
    return wWinMain(GetModuleHandleW(nullptr), nullptr, arguments.data(), SW_SHOWDEFAULT);
}
