#include <platform/resource_table.h>
#include <windows.h>

#include <cwctype>
#include <mutex>
#include <vector>

#include "platform/src/fault_injection.h"
#include "platform/src/modules.h"

namespace platform::detail {
namespace {

struct ResourceTables {
    std::mutex mutex;
    std::vector<const ResourceRecord*> records;
};

ResourceTables& Tables() {
    static ResourceTables tables;
    return tables;
}

bool SameText(const wchar_t* left, const wchar_t* right) {
    for (; *left != L'\0' && *right != L'\0'; ++left, ++right) {
        if (std::towupper(static_cast<wint_t>(*left)) !=
            std::towupper(static_cast<wint_t>(*right))) {
            return false;
        }
    }
    return *left == *right;
}

// `wanted` is what the caller passed: an integer resource or a text.
bool Matches(const ResourceId& id, LPCWSTR wanted) {
    if (IS_INTRESOURCE(wanted)) {
        return id.text == nullptr &&
               id.id == static_cast<WORD>(reinterpret_cast<ULONG_PTR>(wanted));
    }
    return id.text != nullptr && SameText(id.text, wanted);
}

bool IsMainModule(HMODULE module) { return module == nullptr || module == MainModule(); }

const ResourceRecord* RecordOf(HMODULE module, HRSRC resource) {
    if (!IsMainModule(module) || resource == nullptr) {
        return nullptr;
    }
    auto& tables = Tables();
    const std::lock_guard lock(tables.mutex);
    for (const ResourceRecord* record : tables.records) {
        if (reinterpret_cast<HRSRC>(const_cast<ResourceRecord*>(record)) == resource) {
            return record;
        }
    }
    return nullptr;
}

}  // namespace
}  // namespace platform::detail

namespace platform {

void RegisterResources(const ResourceRecord* records, std::size_t count) {
    auto& tables = detail::Tables();
    const std::lock_guard lock(tables.mutex);
    for (std::size_t i = 0; i < count; ++i) {
        tables.records.push_back(&records[i]);
    }
}

}  // namespace platform

using namespace platform::detail;

extern "C" {

HRSRC WINAPI FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
    if (TakeInjectedFailure("FindResourceW")) {
        return nullptr;
    }
    if (name == nullptr || type == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!IsMainModule(module)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);  // only the executable carries resources
        return nullptr;
    }
    auto& tables = Tables();
    const std::lock_guard lock(tables.mutex);
    bool type_found = false;
    for (const platform::ResourceRecord* record : tables.records) {
        if (!Matches(record->type, type)) {
            continue;
        }
        type_found = true;
        if (Matches(record->name, name)) {
            return reinterpret_cast<HRSRC>(const_cast<platform::ResourceRecord*>(record));
        }
    }
    SetLastError(type_found ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource) {
    if (TakeInjectedFailure("LoadResource")) {
        return nullptr;
    }
    const platform::ResourceRecord* record = RecordOf(module, resource);
    if (record == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<unsigned char*>(record->data);
}

LPVOID WINAPI LockResource(HGLOBAL resource_data) {
    if (TakeInjectedFailure("LockResource")) {
        return nullptr;
    }
    return resource_data;
}

DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource) {
    if (TakeInjectedFailure("SizeofResource")) {
        return 0;
    }
    const platform::ResourceRecord* record = RecordOf(module, resource);
    if (record == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return static_cast<DWORD>(record->size);
}
}
