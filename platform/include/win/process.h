// The process: its command line, environment, executable and id.
#pragma once

#include "win/types.h"

#define SW_SHOWDEFAULT 10

extern "C" {

// Rebuilt from the process's arguments with Windows quoting, so that splitting it by the
// Windows rules gives the arguments back. The text lives as long as the process.
LPWSTR WINAPI GetCommandLineW();
// The same command line in the ANSI code page, which is UTF-8 here.
LPSTR WINAPI GetCommandLineA();

DWORD WINAPI GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size);
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR file_name, DWORD size);
HMODULE WINAPI GetModuleHandleW(LPCWSTR module_name);
DWORD WINAPI GetCurrentProcessId();
}

// The program's entry point, called by the platform's main() as the C runtime does on Windows.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous_instance, LPWSTR command_line,
                    int show_command);
