// The process's modules: the executable itself, libraries loaded with LoadLibraryW, and the
// system DLLs whose exports this layer supplies itself.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace platform::detail {

// The handle of the executable (GetModuleHandleW(NULL)); resources are looked up under it.
HMODULE MainModule();

// The full path of a module; the executable's for null. Empty for unknown handles.
std::optional<std::wstring> ModulePath(HMODULE module);

// The layer's own export `name` of the system DLL `module_name` ("ntdll.dll",
// "kernel32.dll"), or null. Defined in system_exports.cpp.
FARPROC FindSystemExport(std::wstring_view module_name, std::string_view name);
bool IsSystemModuleName(std::wstring_view module_name);
// Module names compare without regard to case, as on Windows.
std::wstring LowerCase(std::wstring_view text);

}  // namespace platform::detail
