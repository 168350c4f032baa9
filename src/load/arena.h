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
    // Takes ownership of a block allocated with malloc; returns it, or null
    // (the block freed) when there is no memory to record it.
    uint8_t* adopt(std::unique_ptr<uint8_t, free_deleter> block) noexcept;
    // Releases the most recent block early (a failed decode attempt).
    void drop_last() noexcept;
};

// Decoded texts laid end to end in large blocks: one allocation for many
// texts, and huge pages (few page faults) where the system gives them. A
// text is decoded straight into room(cap) and then keep(m) keeps its first
// m bytes; the next room starts after them.
struct text_pool {
    static constexpr uint64_t CHUNK = 16u << 20;
    static constexpr uint64_t FIRST_CHUNK = 256u << 10;
    std::vector<std::unique_ptr<uint8_t, free_deleter>> chunks;
    uint8_t* top = nullptr;  // first free byte of the last chunk
    uint64_t left = 0;       // free bytes from top
    uint64_t next = FIRST_CHUNK;  // size of the next chunk; doubles up to CHUNK
    uint64_t used = 0;            // bytes kept in all

    // The texts expected in all: the next chunk holds them (within
    // FIRST_CHUNK to CHUNK), so that a small document takes a small block.
    void expect(uint64_t bytes) noexcept;
    // Room for up to cap bytes (cap at most CHUNK), or null without memory.
    uint8_t* room(uint64_t cap) noexcept;
    // Keeps the first `bytes` bytes of the last room (at most its cap).
    void keep(uint64_t bytes) noexcept;
    // Takes over the chunks of `other`, which is left empty; throws
    // std::bad_alloc (both pools unchanged) without memory.
    void take(text_pool* other);
};
