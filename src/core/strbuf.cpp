#include "core/strbuf.h"

#include <cstdio>
#include <cstring>

cstr cstr_dup(const char* s) {
    size_t n = std::strlen(s);
    char* p = static_cast<char*>(std::malloc(n + 1));
    if (p) std::memcpy(p, s, n + 1);
    return cstr(p);
}

strbuf& strbuf::operator=(strbuf&& o) noexcept {
    if (this != &o) {
        std::free(data);
        data = o.data;
        len = o.len;
        cap = o.cap;
        failed = o.failed;
        o.data = nullptr;
        o.len = o.cap = 0;
        o.failed = false;
    }
    return *this;
}

char* strbuf::release() noexcept {
    char* p = data;
    data = nullptr;
    len = cap = 0;
    return p;
}

void strbuf::reset() noexcept {
    std::free(data);
    data = nullptr;
    len = cap = 0;
    failed = false;
}

namespace {

// Marks the buffer failed and frees what it held (see strbuf).
char* buf_fail(strbuf* b) {
    b->reset();
    b->failed = true;
    return nullptr;
}

}  // namespace

strbuf strbuf_start() {
    strbuf b;
    b.cap = STRBUF_FIRST_BLOCK;
    b.data = static_cast<char*>(std::malloc(STRBUF_FIRST_BLOCK));
    if (b.data) b.data[0] = 0;
    return b;
}

char* buf_bytes(strbuf* b, const void* p, uint64_t n) {
    if (b->failed) return nullptr;
    if (!b->data) {
        b->cap = STRBUF_FIRST_BLOCK;
        b->len = 0;
        b->data = static_cast<char*>(std::malloc(STRBUF_FIRST_BLOCK));
        if (!b->data) return buf_fail(b);
        b->data[0] = 0;
    }
    if (n >= UINT64_MAX - b->len) return buf_fail(b);  // the count itself overflows
    uint64_t need = b->len + n + 1;
    if (b->cap < need) {
        uint64_t cap = b->cap ? b->cap : STRBUF_FIRST_BLOCK;
        while (cap < need) {
            if (cap > (UINT64_MAX >> 1)) return buf_fail(b);
            cap <<= 1;
        }
        char* grown = static_cast<char*>(std::realloc(b->data, cap));
        if (!grown) return buf_fail(b);
        b->data = grown;
        b->cap = cap;
    }
    if (n) std::memcpy(b->data + b->len, p, n);
    b->len += n;
    b->data[b->len] = 0;
    return b->data;
}

char* buf_str(strbuf* b, const char* s) { return buf_bytes(b, s, std::strlen(s)); }

char* buf_int(strbuf* b, long long v) {
    char tmp[64];
    int n = std::snprintf(tmp, sizeof tmp, "%lld", v);
    return buf_bytes(b, tmp, static_cast<uint64_t>(n));
}

char* json_str_append(strbuf* b, const char* s) { return json_str_append_n(b, s, std::strlen(s)); }

char* json_str_append_n(strbuf* b, const char* s, uint64_t n) {
    buf_bytes(b, "\"", 1);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
    const unsigned char* end = p + n;
    const unsigned char* run = p;  // start of bytes copied unchanged
    for (; p < end; ++p) {
        unsigned char c = *p;
        const char* esc = nullptr;
        switch (c) {
            case 0x08: esc = "\\b"; break;
            case 0x09: esc = "\\t"; break;
            case 0x0A: esc = "\\n"; break;
            case 0x0C: esc = "\\f"; break;
            case 0x0D: esc = "\\r"; break;
            case 0x22: esc = "\\\""; break;
            case 0x5C: esc = "\\\\"; break;
            default: break;
        }
        if (!esc && c >= 0x20) continue;
        if (p > run) buf_bytes(b, run, static_cast<uint64_t>(p - run));
        if (esc) {
            buf_bytes(b, esc, 2);
        } else {
            char tmp[8];
            int k = std::snprintf(tmp, sizeof tmp, "\\u%04x", c);
            buf_bytes(b, tmp, static_cast<uint64_t>(k));
        }
        run = p + 1;
    }
    if (p > run) buf_bytes(b, run, static_cast<uint64_t>(p - run));
    return buf_bytes(b, "\"", 1);
}
