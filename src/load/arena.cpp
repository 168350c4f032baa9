#include "load/arena.h"

#include <cstddef>
#include <cstdlib>

uint8_t* arena::alloc(uint64_t size) noexcept {
    if (size > static_cast<uint64_t>(PTRDIFF_MAX)) return nullptr;  // no such block can exist
    auto* p = static_cast<uint8_t*>(std::malloc(size ? static_cast<size_t>(size) : 1));
    if (!p) return nullptr;
    try {
        items.emplace_back(p);
    } catch (...) {
        std::free(p);
        return nullptr;
    }
    return p;
}

void arena::drop_last() noexcept {
    if (!items.empty()) items.pop_back();
}
