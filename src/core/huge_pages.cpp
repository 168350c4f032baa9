#include "core/huge_pages.h"

#include <sys/mman.h>

#include <cstdlib>

void advise_huge_pages(void* p, uint64_t n) {
    constexpr uintptr_t HUGE = HUGE_PAGE;
    if (n < 4 * HUGE) return;
    uintptr_t lo = (reinterpret_cast<uintptr_t>(p) + HUGE - 1) & ~(HUGE - 1);
    uintptr_t hi = (reinterpret_cast<uintptr_t>(p) + n) & ~(HUGE - 1);
    if (hi > lo) madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_HUGEPAGE);
}

void* alloc_huge_pages(uint64_t n) noexcept {
    if (n == 0 || n % HUGE_PAGE != 0) return nullptr;
    void* p = std::aligned_alloc(static_cast<size_t>(HUGE_PAGE), static_cast<size_t>(n));
    if (p) madvise(p, static_cast<size_t>(n), MADV_HUGEPAGE);
    return p;
}
