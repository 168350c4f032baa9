#include "core/huge_pages.h"

#include <sys/mman.h>

void advise_huge_pages(void* p, uint64_t n) {
    constexpr uintptr_t HUGE = uintptr_t(1) << 21;
    if (n < 4 * HUGE) return;
    uintptr_t lo = (reinterpret_cast<uintptr_t>(p) + HUGE - 1) & ~(HUGE - 1);
    uintptr_t hi = (reinterpret_cast<uintptr_t>(p) + n) & ~(HUGE - 1);
    if (hi > lo) madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_HUGEPAGE);
}
