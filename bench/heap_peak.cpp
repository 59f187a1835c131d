#include "bench/heap_peak.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::size_t> g_current{0};
std::atomic<std::size_t> g_peak{0};
std::atomic<std::size_t> g_base{0};

void* Allocate(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    const auto now = g_current.fetch_add(malloc_usable_size(block)) + malloc_usable_size(block);
    auto peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
    return block;
}

void Release(void* block) noexcept {
    if (block != nullptr) {
        g_current.fetch_sub(malloc_usable_size(block));
        std::free(block);
    }
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, std::size_t) noexcept { Release(block); }
void operator delete[](void* block, std::size_t) noexcept { Release(block); }

namespace bench {

void ResetHeapPeak() {
    g_base = g_current.load();
    g_peak = g_current.load();
}

std::size_t HeapPeakSinceReset() { return g_peak.load() - g_base.load(); }

}  // namespace bench
