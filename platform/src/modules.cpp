#include "platform/src/modules.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/src/fault_injection.h"
#include "platform/src/utf.h"

namespace platform::detail {
namespace {

struct Module {
    std::wstring path;        // full path, or the bare name for a system module
    void* library = nullptr;  // dlopen handle; null for a system module
    int references = 0;
    bool permanent = false;  // a system module: always loaded, as on Windows
};

struct ModuleTable {
    std::mutex mutex;
    std::map<HMODULE, std::unique_ptr<Module>> modules;
};

ModuleTable& Modules() {
    static ModuleTable table;
    return table;
}

char g_main_module_tag;

// The executable's path as the file system has it (bytes), empty when it cannot be read.
std::filesystem::path NativeExecutablePath() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path;
}

std::wstring ExecutablePath() {
    const auto path = NativeExecutablePath();
    return path.empty() ? std::wstring() : Utf8ToWide(path.native());
}

// The text after the last separator of a wide path (either slash counts, as on Windows).
std::wstring_view FileNameOf(std::wstring_view path) {
    const auto separator = path.find_last_of(L"/\\");
    return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

HMODULE HandleOf(const Module* module) {
    return reinterpret_cast<HMODULE>(const_cast<Module*>(module));
}

// Caller holds the table's mutex.
Module* FindByPath(ModuleTable& table, const std::wstring& path) {
    for (auto& [handle, module] : table.modules) {
        if (module->path == path) {
            return module.get();
        }
    }
    return nullptr;
}

}  // namespace

HMODULE MainModule() { return reinterpret_cast<HMODULE>(&g_main_module_tag); }

std::optional<std::wstring> ModulePath(HMODULE module) {
    if (module == nullptr || module == MainModule()) {
        auto path = ExecutablePath();
        return path.empty() ? std::nullopt : std::optional(path);
    }
    auto& table = Modules();
    const std::lock_guard lock(table.mutex);
    const auto found = table.modules.find(module);
    if (found == table.modules.end()) {
        return std::nullopt;
    }
    return found->second->path;
}

}  // namespace platform::detail

using namespace platform::detail;

extern "C" {

HMODULE WINAPI GetModuleHandleW(LPCWSTR module_name) {
    if (TakeInjectedFailure("GetModuleHandleW")) {
        return nullptr;
    }
    if (module_name == nullptr) {
        return MainModule();
    }
    const std::wstring name(module_name);
    auto& table = Modules();
    const std::lock_guard lock(table.mutex);
    for (auto& [handle, module] : table.modules) {
        if (module->path == name || FileNameOf(module->path) == name) {
            return handle;
        }
    }
    // The system DLLs are in every Windows process without a LoadLibraryW of their own.
    if (IsSystemModuleName(name)) {
        if (Module* loaded = FindByPath(table, LowerCase(name))) {
            return HandleOf(loaded);
        }
        auto module = std::make_unique<Module>();
        module->path = LowerCase(name);
        module->permanent = true;
        const HMODULE handle = HandleOf(module.get());
        table.modules.emplace(handle, std::move(module));
        return handle;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

HMODULE WINAPI LoadLibraryW(LPCWSTR file_name) {
    if (TakeInjectedFailure("LoadLibraryW")) {
        return nullptr;
    }
    if (file_name == nullptr || *file_name == L'\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::wstring name(file_name);
    const bool bare = name.find_first_of(L"/\\") == std::wstring::npos;
    auto& table = Modules();
    const std::lock_guard lock(table.mutex);

    std::wstring path = name;
    std::string file = WideToUtf8(name);  // what dlopen is given
    if (bare) {
        // Windows looks in the executable's folder before the system folders. Built from the
        // folder's own bytes, so the library is found whatever the folder is named.
        const auto beside = NativeExecutablePath().parent_path() / file;
        std::error_code error;
        if (std::filesystem::exists(beside, error)) {
            path = Utf8ToWide(beside.native());
            file = beside.native();
        } else if (IsSystemModuleName(name)) {
            path = LowerCase(name);
        } else {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
    }
    if (Module* loaded = FindByPath(table, path)) {
        ++loaded->references;
        return HandleOf(loaded);
    }
    auto module = std::make_unique<Module>();
    module->path = path;
    module->references = 1;
    if (!(bare && IsSystemModuleName(name) && path == LowerCase(name))) {
        module->library = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module->library == nullptr) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
    }
    const HMODULE handle = HandleOf(module.get());
    table.modules.emplace(handle, std::move(module));
    return handle;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR proc_name) {
    if (TakeInjectedFailure("GetProcAddress")) {
        return nullptr;
    }
    if (proc_name == nullptr || reinterpret_cast<ULONG_PTR>(proc_name) >> 16 == 0) {
        SetLastError(ERROR_PROC_NOT_FOUND);  // lookups by ordinal are not supported
        return nullptr;
    }
    auto& table = Modules();
    const std::lock_guard lock(table.mutex);
    const auto found = table.modules.find(module);
    if (found == table.modules.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const Module& loaded = *found->second;
    FARPROC function = nullptr;
    if (loaded.library == nullptr) {
        function = FindSystemExport(loaded.path, proc_name);
    } else {
        function = reinterpret_cast<FARPROC>(::dlsym(loaded.library, proc_name));
    }
    if (function == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
    }
    return function;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    auto& table = Modules();
    const std::lock_guard lock(table.mutex);
    const auto found = table.modules.find(module);
    if (found == table.modules.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (found->second->permanent) {
        found->second->references = std::max(found->second->references - 1, 0);
        return TRUE;
    }
    if (--found->second->references == 0) {
        if (found->second->library != nullptr) {
            ::dlclose(found->second->library);
        }
        table.modules.erase(found);
    }
    return TRUE;
}
}
