#include "load/arena.h"

#include <cstddef>
#include <cstdlib>
#include <iterator>

#include "core/huge_pages.h"

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

uint8_t* arena::adopt(std::unique_ptr<uint8_t, free_deleter> block) noexcept {
    uint8_t* p = block.get();
    try {
        items.push_back(std::move(block));
    } catch (...) {
        return nullptr;
    }
    return p;
}

void text_pool::expect(uint64_t bytes) noexcept { next = bytes < FIRST_CHUNK ? FIRST_CHUNK : bytes > CHUNK ? CHUNK : bytes; }

uint8_t* text_pool::room(uint64_t cap) noexcept {
    if (cap > CHUNK) return nullptr;
    if (cap > left) {
        uint64_t size = cap > next ? cap : next;
        // Texts are kept end to end, so the pages of a chunk are touched in
        // order and wholly: a large chunk takes huge pages, with few faults.
        uint8_t* p = nullptr;
        if (size >= HUGE_PAGE / 2) {
            size = (size + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
            p = static_cast<uint8_t*>(alloc_huge_pages(size));
        } else {
            p = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
        }
        if (!p) return nullptr;
        try {
            chunks.emplace_back(p);
        } catch (...) {
            std::free(p);
            return nullptr;
        }
        top = p;
        left = size;
        next = next < CHUNK / 2 ? next * 2 : CHUNK;
    }
    return top;
}

void text_pool::keep(uint64_t bytes) noexcept {
    top += bytes;
    left -= bytes;
    used += bytes;
}

void text_pool::take(text_pool* other) {
    chunks.reserve(chunks.size() + other->chunks.size());
    std::move(other->chunks.begin(), other->chunks.end(), std::back_inserter(chunks));
    used += other->used;
    other->chunks.clear();
    other->top = nullptr;
    other->left = 0;
    other->used = 0;
}
