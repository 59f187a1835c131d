#include "platform/src/global_memory.h"

#include <platform/testing.h>

#include <map>
#include <memory>
#include <mutex>

#include "platform/src/fault_injection.h"

namespace {

struct GlobalBlocks {
    std::mutex mutex;
    std::map<const void*, std::unique_ptr<wchar_t[]>> blocks;
};

GlobalBlocks& Blocks() {
    static GlobalBlocks blocks;
    return blocks;
}

}  // namespace

namespace platform::detail {

LPWSTR AllocateGlobalString(std::wstring_view text) {
    auto block = std::make_unique<wchar_t[]>(text.size() + 1);
    text.copy(block.get(), text.size());
    const LPWSTR pointer = block.get();
    auto& blocks = Blocks();
    const std::lock_guard lock(blocks.mutex);
    blocks.blocks.emplace(pointer, std::move(block));
    return pointer;
}

}  // namespace platform::detail

namespace platform::testing {

std::size_t OutstandingGlobalBlockCount() {
    auto& blocks = Blocks();
    const std::lock_guard lock(blocks.mutex);
    return blocks.blocks.size();
}

}  // namespace platform::testing

extern "C" {

HGLOBAL WINAPI GlobalFree(HGLOBAL memory) {
    if (platform::detail::TakeInjectedFailure("GlobalFree")) {
        return memory;
    }
    if (memory == nullptr) {
        return nullptr;
    }
    auto& blocks = Blocks();
    const std::lock_guard lock(blocks.mutex);
    if (blocks.blocks.erase(memory) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return memory;
    }
    return nullptr;
}
}
