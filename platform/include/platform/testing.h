// Lets tests set the emulated Windows state. Not for the program's own code.
// The core is declared here; each area of the layer declares its own setters in
// platform/testing/<area>.h, included at the end.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace platform::testing {

// Makes the emulated call `function` (its Windows name) fail with `error` as its last error,
// giving the call's own failure result. times < 0: every call until cleared; otherwise the
// next `times` calls. The first `skip` calls pass before the failures start.
void FailCall(std::string_view function, DWORD error, int times = -1, int skip = 0);
void ClearFailures();

// Replaces the argument list that GetCommandLineW/GetCommandLineA rebuild (the first element is
// the program path). An empty list returns to the process's real arguments.
void SetCommandLineArguments(std::vector<std::wstring> arguments);

// Windows' quoting of one argument and splitting of a command line, as used by the layer.
std::wstring QuoteArgument(std::wstring_view argument);
std::vector<std::wstring> SplitCommandLine(std::wstring_view command_line);

// Kernel object handles currently open (files, tokens, ...), for leak checks.
std::size_t OpenHandleCount();

// Every area's emulated state back to its defaults, failures cleared.
void Reset();

}  // namespace platform::testing

// Areas of the layer.
#include "platform/testing/files.h"
#include "platform/testing/sessions.h"
#include "platform/testing/sysinfo.h"
#include "platform/testing/windows.h"
#include "platform/testing/winhttp.h"
