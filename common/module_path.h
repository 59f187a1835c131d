// The path of the running program's file.
#pragma once

#include <windows.h>

#include <string>

// The executable's whole path, however deep it is installed. Throws std::runtime_error
// "failed to get module file name. error=<number>" when Windows cannot give it.
std::wstring ModuleFileName();
