#include <shlobj.h>

#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/src/fault_injection.h"
#include "platform/src/utf.h"

namespace {

namespace fs = std::filesystem;

std::optional<fs::path> FromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return fs::path(value);
}

// PLATFORM_ROOT gives tests and sandboxes a Windows-like tree of their own.
std::optional<fs::path> MappedFolder(int csidl) {
    const auto root = FromEnvironment("PLATFORM_ROOT");
    switch (csidl) {
        case CSIDL_COMMON_APPDATA:
            return root ? *root / "ProgramData" : fs::path("/var/lib");
        case CSIDL_APPDATA:
            if (root) {
                return *root / "AppData" / "Roaming";
            }
            if (auto config = FromEnvironment("XDG_CONFIG_HOME")) {
                return config;
            }
            if (auto home = FromEnvironment("HOME")) {
                return *home / ".config";
            }
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

}  // namespace

extern "C" {

HRESULT WINAPI SHGetFolderPathW(HWND /*owner*/, int csidl, HANDLE /*token*/, DWORD flags,
                                LPWSTR path) {
    if (const auto error = platform::detail::TakeInjectedFailure("SHGetFolderPathW")) {
        return HRESULT_FROM_WIN32(*error);
    }
    if (path == nullptr || flags != SHGFP_TYPE_CURRENT) {
        return E_INVALIDARG;
    }
    const auto folder = MappedFolder(csidl);
    if (!folder) {
        return E_INVALIDARG;
    }
    std::error_code error;
    if (!fs::is_directory(*folder, error)) {
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    }
    const std::string native = folder->lexically_normal().native();
    const auto wide = platform::detail::Utf8ToWide(native);
    // A name that is not UTF-8 has no wide form; its U+FFFD form would be another folder.
    if (platform::detail::WideToUtf8(wide) != native) {
        return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    }
    if (wide.size() >= MAX_PATH) {
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    std::wmemcpy(path, wide.c_str(), wide.size() + 1);
    return S_OK;
}
}
