// Growable output buffer, owned C strings, and the JSON string writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

// Heap string released with free(); the library's owned-text type.
struct free_deleter {
    void operator()(void* p) const noexcept { std::free(p); }
};
using cstr = std::unique_ptr<char, free_deleter>;

// Copy of a NUL-terminated string as a cstr (null on allocation failure).
cstr cstr_dup(const char* s);

constexpr uint64_t STRBUF_FIRST_BLOCK = 0x100000;

// The one output buffer of the library. `data` is malloc'ed, NUL-terminated
// whenever non-null, and released by the destructor unless handed on with
// release(). A default-constructed buffer is the all-zero buffer; strbuf_start()
// gives a buffer with its 1 MiB first block already taken.
struct strbuf {
    char* data = nullptr;
    uint64_t len = 0;
    uint64_t cap = 0;

    strbuf() = default;
    strbuf(const strbuf&) = delete;
    strbuf& operator=(const strbuf&) = delete;
    strbuf(strbuf&& o) noexcept : data(o.data), len(o.len), cap(o.cap) { o.data = nullptr; o.len = o.cap = 0; }
    strbuf& operator=(strbuf&& o) noexcept;
    ~strbuf() { std::free(data); }

    // Hands the storage to the caller (who frees it) and leaves the buffer zeroed.
    char* release() noexcept;
    // Frees the storage and zeroes the buffer.
    void reset() noexcept;
};

// A buffer started the way every producer starts one: 1 MiB taken at once
// (data stays null when that fails; the first append retries).
strbuf strbuf_start();

// Appends n bytes (any values) and keeps the terminating zero; returns data or null.
char* buf_bytes(strbuf* b, const void* p, uint64_t n);
// Appends a NUL-terminated string (convenience over buf_bytes).
char* buf_str(strbuf* b, const char* s);
// Appends a signed 32-bit integer in decimal.
char* buf_int(strbuf* b, long long v);
// Appends the JSON string literal for s, quotes included. s must not be null.
char* json_str_append(strbuf* b, const char* s);
