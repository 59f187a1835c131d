// The process's kernel object handles. Each area (files, tokens, ...) derives its objects from
// KernelObject; CloseHandle releases the handle's reference, whatever the kind.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>

namespace platform::detail {

class KernelObject {
public:
    KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
    virtual ~KernelObject() = default;
};

HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
bool RemoveHandle(HANDLE handle);
std::size_t HandleCount();

template <typename T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

}  // namespace platform::detail
