#include <windows.h>

#include <platform/testing.h>
#include <platform/window_registry.h>

#include <algorithm>
#include <list>
#include <map>
#include <mutex>
#include <utility>

#include "platform/src/fault_injection.h"
#include "platform/src/window_state.h"

namespace platform::detail {
namespace {

struct WindowRecord {
    WindowTarget target;
    RECT rect{};
    bool visible = false;
    bool destroying = false;
};

// Window handles look like Windows' own: small, even, never handed out twice.
constexpr UINT_PTR kFirstHandle = 0x10010;
constexpr UINT_PTR kHandleStep = 4;

struct WindowRegistry {
    std::mutex mutex;
    std::map<HWND, WindowRecord> windows;
    std::list<HWND> z_order;  // top first
    UINT_PTR next_handle = kFirstHandle;

    // Caller holds mutex.
    WindowRecord* Find(HWND window) {
        const auto found = windows.find(window);
        return found == windows.end() ? nullptr : &found->second;
    }
    void Erase(HWND window) {
        windows.erase(window);
        z_order.remove(window);
    }
};

WindowRegistry& Registry() {
    static WindowRegistry registry;
    return registry;
}

// Caller holds the registry's mutex. False when insert_after names no window.
bool Restack(WindowRegistry& registry, HWND window, HWND insert_after) {
    auto& order = registry.z_order;
    if (insert_after == HWND_TOP || insert_after == HWND_TOPMOST ||
        insert_after == HWND_NOTOPMOST) {
        order.remove(window);
        order.push_front(window);
        return true;
    }
    if (insert_after == HWND_BOTTOM) {
        order.remove(window);
        order.push_back(window);
        return true;
    }
    if (insert_after == window) {
        return true;
    }
    if (registry.Find(insert_after) == nullptr) {
        return false;
    }
    order.remove(window);
    order.insert(std::next(std::find(order.begin(), order.end(), insert_after)), window);
    return true;
}

const ResetRegistration kResetWindows([] {
    auto& registry = Registry();
    const std::lock_guard lock(registry.mutex);
    registry.windows.clear();
    registry.z_order.clear();
});

}  // namespace

std::optional<WindowTarget> FindWindowTarget(HWND window) {
    auto& registry = Registry();
    const std::lock_guard lock(registry.mutex);
    if (const auto* record = registry.Find(window)) {
        return record->target;
    }
    return std::nullopt;
}

void DropWindowsOfThread(std::thread::id thread) {
    auto& registry = Registry();
    const std::lock_guard lock(registry.mutex);
    std::erase_if(registry.z_order,
                  [&](HWND window) { return registry.windows.at(window).target.owner == thread; });
    std::erase_if(registry.windows,
                  [&](const auto& entry) { return entry.second.target.owner == thread; });
}

}  // namespace platform::detail

namespace platform {

HWND CreatePlatformWindow(WindowProcedure procedure, const RECT& frame) {
    using namespace detail;
    if (TakeInjectedFailure("CreatePlatformWindow")) {
        return nullptr;
    }
    if (!procedure) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto& registry = Registry();
    const std::lock_guard lock(registry.mutex);
    const auto window = reinterpret_cast<HWND>(registry.next_handle);
    registry.next_handle += kHandleStep;
    WindowRecord record;
    record.target = {std::this_thread::get_id(), ThisThreadQueue(),
                     std::make_shared<const WindowProcedure>(std::move(procedure))};
    record.rect = frame;
    registry.windows.emplace(window, std::move(record));
    registry.z_order.push_front(window);
    return window;
}

}  // namespace platform

namespace platform::testing {

std::vector<HWND> WindowsInZOrder() {
    auto& registry = detail::Registry();
    const std::lock_guard lock(registry.mutex);
    return {registry.z_order.begin(), registry.z_order.end()};
}

}  // namespace platform::testing

extern "C" {

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
    using namespace platform::detail;
    if (TakeInjectedFailure("GetWindowRect")) {
        return FALSE;
    }
    if (rect == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto& registry = Registry();
    const std::lock_guard lock(registry.mutex);
    const auto* record = registry.Find(window);
    if (record == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *rect = record->rect;
    return TRUE;
}

BOOL WINAPI SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy, UINT flags) {
    using namespace platform::detail;
    if (TakeInjectedFailure("SetWindowPos")) {
        return FALSE;
    }
    auto& registry = Registry();
    const std::lock_guard lock(registry.mutex);
    auto* record = registry.Find(window);
    if (record == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if ((flags & SWP_NOZORDER) == 0 && !Restack(registry, window, insert_after)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    auto& rect = record->rect;
    if ((flags & SWP_NOMOVE) == 0) {
        rect = {x, y, x + (rect.right - rect.left), y + (rect.bottom - rect.top)};
    }
    if ((flags & SWP_NOSIZE) == 0) {
        rect.right = rect.left + std::max(cx, 0);
        rect.bottom = rect.top + std::max(cy, 0);
    }
    if ((flags & SWP_SHOWWINDOW) != 0) {
        record->visible = true;
    } else if ((flags & SWP_HIDEWINDOW) != 0) {
        record->visible = false;
    }
    return TRUE;
}

BOOL WINAPI ShowWindow(HWND window, int command) {
    auto& registry = platform::detail::Registry();
    const std::lock_guard lock(registry.mutex);
    auto* record = registry.Find(window);
    if (record == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    const bool was_visible = record->visible;
    record->visible = command != SW_HIDE;
    return was_visible ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND window) {
    auto& registry = platform::detail::Registry();
    const std::lock_guard lock(registry.mutex);
    const auto* record = registry.Find(window);
    return record != nullptr && record->visible ? TRUE : FALSE;
}

BOOL WINAPI IsWindow(HWND window) {
    return platform::detail::FindWindowTarget(window).has_value() ? TRUE : FALSE;
}

BOOL WINAPI DestroyWindow(HWND window) {
    using namespace platform::detail;
    if (TakeInjectedFailure("DestroyWindow")) {
        return FALSE;
    }
    auto& registry = Registry();
    std::shared_ptr<const platform::WindowProcedure> procedure;
    {
        const std::lock_guard lock(registry.mutex);
        auto* record = registry.Find(window);
        if (record == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (record->target.owner != std::this_thread::get_id()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (record->destroying) {
            return TRUE;
        }
        record->destroying = true;
        record->visible = false;
        procedure = record->target.procedure;
    }
    // The handle goes even when the procedure throws.
    struct Erase {
        Erase(WindowRegistry& registry, HWND window) : registry(registry), window(window) {}
        Erase(const Erase&) = delete;
        Erase& operator=(const Erase&) = delete;
        ~Erase() {
            const std::lock_guard lock(registry.mutex);
            registry.Erase(window);
        }
        WindowRegistry& registry;
        HWND window;
    } erase(registry, window);
    (*procedure)(window, WM_DESTROY, 0, 0);
    return TRUE;
}

LRESULT WINAPI DefWindowProcW(HWND window, UINT message, WPARAM /*wparam*/, LPARAM /*lparam*/) {
    if (message == WM_CLOSE) {
        DestroyWindow(window);
    }
    return 0;
}
}
