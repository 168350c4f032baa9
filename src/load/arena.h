// Heap blocks owned by a document (decoded object streams).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/strbuf.h"

struct arena {
    std::vector<std::unique_ptr<uint8_t, free_deleter>> items;
    // A new block of `size` bytes, or null (nothing kept) on failure.
    uint8_t* alloc(uint64_t size) noexcept;
    // Releases the most recent block early (a failed decode attempt).
    void drop_last() noexcept;
};
