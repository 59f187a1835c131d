#include "platform/src/handle_table.h"

#include <platform/testing.h>

#include <map>
#include <mutex>

#include "platform/src/fault_injection.h"

namespace platform::detail {
namespace {

struct HandleTable {
    std::mutex mutex;
    std::map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    std::uintptr_t next = 0x100;  // multiples of 4, as Windows hands them out
};

HandleTable& Table() {
    static HandleTable table;
    return table;
}

}  // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
    auto& table = Table();
    const std::lock_guard lock(table.mutex);
    const auto value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    auto& table = Table();
    const std::lock_guard lock(table.mutex);
    const auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == table.objects.end() ? nullptr : found->second;
}

bool RemoveHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> released;  // destroyed after the lock is let go
    auto& table = Table();
    const std::lock_guard lock(table.mutex);
    const auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == table.objects.end()) {
        return false;
    }
    released = std::move(found->second);
    table.objects.erase(found);
    return true;
}

std::size_t HandleCount() {
    auto& table = Table();
    const std::lock_guard lock(table.mutex);
    return table.objects.size();
}

}  // namespace platform::detail

namespace platform::testing {

std::size_t OpenHandleCount() { return detail::HandleCount(); }

}  // namespace platform::testing

extern "C" {

BOOL WINAPI DuplicateHandle(HANDLE source_process, HANDLE source, HANDLE target_process,
                            LPHANDLE target, DWORD /*desired_access*/, BOOL /*inherit_handle*/,
                            DWORD options) {
    using namespace platform::detail;
    if (TakeInjectedFailure("DuplicateHandle")) {
        return FALSE;
    }
    if (source_process != GetCurrentProcess() || target_process != GetCurrentProcess()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (target == nullptr || (options & DUPLICATE_SAME_ACCESS) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto object = LookupHandle(source);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *target = InsertHandle(std::move(object));
    if ((options & DUPLICATE_CLOSE_SOURCE) != 0) {
        RemoveHandle(source);
    }
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE object) {
    if (platform::detail::TakeInjectedFailure("CloseHandle")) {
        return FALSE;
    }
    if (!platform::detail::RemoveHandle(object)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
}
