// Owns one handle and closes it once, when it goes out of scope or is given another one.
// A trait per kind of handle says which value a failed call answers and how to close;
// neither null nor INVALID_HANDLE_VALUE (also the current process's pseudo-handle) is ever
// closed, whatever the kind.
#pragma once

#include <windows.h>

#include <utility>

template <typename Traits>
class ScopedGenericHandle {
public:
    using Handle = typename Traits::Handle;

    ScopedGenericHandle() = default;
    explicit ScopedGenericHandle(Handle handle) noexcept : handle_(handle) {}
    ScopedGenericHandle(ScopedGenericHandle&& other) noexcept : handle_(other.Release()) {}
    ScopedGenericHandle& operator=(ScopedGenericHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    ScopedGenericHandle(const ScopedGenericHandle&) = delete;
    ScopedGenericHandle& operator=(const ScopedGenericHandle&) = delete;
    ~ScopedGenericHandle() { Reset(); }

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return Traits::IsValid(handle_); }

    // Closes the handle held unless it is the one given.
    void Reset(Handle handle = Traits::NullHandle()) noexcept {
        const Handle previous = std::exchange(handle_, handle);
        if (Traits::IsValid(previous) && previous != handle) {
            Traits::Close(previous);
        }
    }

    // Gives the handle up without closing it.
    [[nodiscard]] Handle Release() noexcept { return std::exchange(handle_, Traits::NullHandle()); }

private:
    Handle handle_ = Traits::NullHandle();
};

struct KernelHandleTraitsBase {
    using Handle = HANDLE;
    static bool IsValid(HANDLE handle) noexcept {
        return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    }
    static void Close(HANDLE handle) noexcept { CloseHandle(handle); }
};

// Files and folders: CreateFileW and NtCreateFile answer INVALID_HANDLE_VALUE on failure.
struct FileHandleTraits : KernelHandleTraitsBase {
    static HANDLE NullHandle() noexcept { return INVALID_HANDLE_VALUE; }
};

// Other kernel objects (tokens, processes, threads): their calls answer null on failure.
struct KernelHandleTraits : KernelHandleTraitsBase {
    static HANDLE NullHandle() noexcept { return nullptr; }
};

using ScopedHandle = ScopedGenericHandle<FileHandleTraits>;
using ScopedKernelHandle = ScopedGenericHandle<KernelHandleTraits>;
