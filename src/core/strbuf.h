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

// Capacity of a buffer's first block; it doubles as the text grows, so a
// short value costs a short block.
constexpr uint64_t STRBUF_FIRST_BLOCK = 256;

// The one output buffer of the library. `data` is malloc'ed, NUL-terminated
// whenever non-null, and released by the destructor unless handed on with
// release(). A default-constructed buffer is the all-zero buffer.
//
// Failure is sticky: once an append fails (memory exhausted, or a size that
// overflows), the storage is freed, `failed` is set and every later append
// fails too, so a builder that ignores one result can never publish a text
// with a piece missing. reset() starts afresh.
struct strbuf {
    char* data = nullptr;
    uint64_t len = 0;
    uint64_t cap = 0;
    bool failed = false;

    strbuf() = default;
    strbuf(const strbuf&) = delete;
    strbuf& operator=(const strbuf&) = delete;
    strbuf(strbuf&& o) noexcept : data(o.data), len(o.len), cap(o.cap), failed(o.failed) {
        o.data = nullptr;
        o.len = o.cap = 0;
        o.failed = false;
    }
    strbuf& operator=(strbuf&& o) noexcept;
    ~strbuf() { std::free(data); }

    // Hands the storage to the caller (who frees it; null after a failure)
    // and leaves the buffer zeroed.
    char* release() noexcept;
    // Frees the storage and zeroes the buffer, failure flag included.
    void reset() noexcept;
};

// A buffer started the way every producer starts one: its first block taken
// (data stays null when that fails; the first append retries).
strbuf strbuf_start();

// Appends n bytes (any values) and keeps the terminating zero; returns data,
// or null once the buffer has failed (see strbuf).
char* buf_bytes(strbuf* b, const void* p, uint64_t n);
// Appends a NUL-terminated string (convenience over buf_bytes).
char* buf_str(strbuf* b, const char* s);
// Appends a signed 32-bit integer in decimal.
char* buf_int(strbuf* b, long long v);
// Appends the JSON string literal for s, quotes included. s must not be null.
char* json_str_append(strbuf* b, const char* s);
// The same for the n bytes at s, zero bytes included (written as \u0000).
char* json_str_append_n(strbuf* b, const char* s, uint64_t n);
