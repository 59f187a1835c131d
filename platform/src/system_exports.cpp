#include <algorithm>
#include <cwctype>
#include <string>

#include "platform/src/modules.h"
#include "platform/src/sysinfo.h"

namespace platform::detail {
namespace {

// Export addresses are stored untyped, as GetProcAddress hands them out.
template <typename Function>
FARPROC Export(Function* function) {
    return reinterpret_cast<FARPROC>(function);
}

struct SystemExport {
    const wchar_t* module;
    const char* name;
    FARPROC function;
    bool (*available)() = nullptr;  // null: always exported
};

// The exports that the program looks up at run time; areas add theirs here.
const SystemExport kSystemExports[] = {
    {L"kernel32.dll", "GetCurrentProcessId", Export(&GetCurrentProcessId)},
    {L"kernel32.dll", "GetNativeSystemInfo", Export(&GetNativeSystemInfo)},
    {L"kernel32.dll", "GetProductInfo", Export(&GetProductInfo)},
    {L"ntdll.dll", "RtlGetVersion", Export(&RtlGetVersion), &HasVersionRecord},
};

const wchar_t* const kSystemModules[] = {L"ntdll.dll", L"kernel32.dll"};

}  // namespace

std::wstring LowerCase(std::wstring_view text) {
    std::wstring lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return lower;
}

bool IsSystemModuleName(std::wstring_view module_name) {
    const auto lower = LowerCase(module_name);
    return std::any_of(std::begin(kSystemModules), std::end(kSystemModules),
                       [&](const wchar_t* known) { return lower == known; });
}

FARPROC FindSystemExport(std::wstring_view module_name, std::string_view name) {
    const auto lower = LowerCase(module_name);
    for (const auto& entry : kSystemExports) {
        if (lower == entry.module && name == entry.name) {
            return entry.available == nullptr || entry.available() ? entry.function : nullptr;
        }
    }
    return nullptr;
}

}  // namespace platform::detail
