#include "syntax/codecs.h"

#include <cstdio>
#include <new>

#include "syntax/lexer.h"

namespace {

bool is_octal(uint8_t c) { return c >= '0' && c <= '7'; }

void put_byte(strbuf* b, uint8_t c) { buf_bytes(b, &c, 1); }

// A decoder's result: its buffer when something was stored, else a fresh "".
// A buffer that failed (memory exhausted) throws rather than give a shorter
// value; every export runs inside export_guard.
cstr finish(strbuf& b) {
    if (b.failed) throw std::bad_alloc();
    if (b.data && b.len > 0) return cstr(b.release());
    b.reset();
    cstr empty = cstr_dup("");
    if (!empty) throw std::bad_alloc();
    return empty;
}

// Byte for the escape "\c" (c not an octal digit or end of line).
uint8_t escaped_byte(uint8_t c) {
    switch (c) {
        case 'n': return 0x0A;
        case 'r': return 0x0D;
        case 't': return 0x09;
        case 'b': return 0x08;
        case 'f': return 0x0C;
        default: return c;  // "(", ")", "\\" and every unknown escape give the byte itself
    }
}

}  // namespace

cstr literal_decode(const uint8_t* text, pos p, pos end) {
    strbuf b = strbuf_start();
    if (!literal_decode_to(text, p, end, &b)) return nullptr;
    return finish(b);
}

bool literal_decode_to(const uint8_t* text, pos p, pos end, strbuf* out) {
    strbuf& b = *out;
    if (p < 0 || p >= end || text[p] != '(') return false;
    pos i = p + 1;
    int depth = 1;
    pos run = i;  // start of bytes copied unchanged
    auto flush = [&](pos upto) {
        if (upto > run) buf_bytes(&b, text + run, static_cast<uint64_t>(upto - run));
    };
    while (i < end) {
        uint8_t c = text[i];
        if (c == '\\') {
            flush(i);
            if (i + 1 >= end) {  // a lone backslash at the end is dropped
                run = end;
                break;
            }
            uint8_t e = text[i + 1];
            if (is_octal(e)) {
                unsigned v = 0;
                pos j = i + 1;
                for (int k = 0; k < 3 && j < end && is_octal(text[j]); ++k, ++j) v = v * 8 + (text[j] - '0');
                put_byte(&b, static_cast<uint8_t>(v & 0xFF));
                i = j;
            } else if (e == '\n') {
                i += 2;
            } else if (e == '\r') {
                i += (i + 2 < end && text[i + 2] == '\n') ? 3 : 2;
            } else {
                put_byte(&b, escaped_byte(e));
                i += 2;
            }
            run = i;
        } else if (c == ')') {
            if (--depth == 0) {
                flush(i);
                run = i;
                break;
            }
            ++i;
        } else {
            if (c == '(') ++depth;
            ++i;
        }
    }
    if (i >= end) flush(end);
    if (b.failed) throw std::bad_alloc();
    return true;
}

cstr hex_decode(const uint8_t* text, pos p, pos end) {
    strbuf b = strbuf_start();
    if (!hex_decode_to(text, p, end, &b)) return nullptr;
    return finish(b);
}

bool hex_decode_to(const uint8_t* text, pos p, pos end, strbuf* out) {
    strbuf& b = *out;
    if (p < 0 || p >= end || text[p] != '<') return false;
    int hi = -1;  // pending high half
    for (pos i = p + 1; i < end && text[i] != '>'; ++i) {
        int v = hex_value(text[i]);
        if (v < 0) continue;
        if (hi < 0) {
            hi = v;
        } else {
            put_byte(&b, static_cast<uint8_t>(hi << 4 | v));
            hi = -1;
        }
    }
    if (hi >= 0) put_byte(&b, static_cast<uint8_t>(hi << 4));
    if (b.failed) throw std::bad_alloc();
    return true;
}

cstr name_decode(const uint8_t* text, pos p, pos end) {
    strbuf b = strbuf_start();
    pos i = p < 0 ? end : p;
    pos run = i;
    while (i < end) {
        uint8_t c = text[i];
        if (c == '#') {
            if (i + 2 >= end) break;
            int h = hex_value(text[i + 1]), l = hex_value(text[i + 2]);
            if (h < 0 || l < 0) break;
            if (i > run) buf_bytes(&b, text + run, static_cast<uint64_t>(i - run));
            put_byte(&b, static_cast<uint8_t>(h << 4 | l));
            i += 3;
            run = i;
        } else if (is_name_cont(c)) {
            ++i;
        } else {
            break;
        }
    }
    if (i > run) buf_bytes(&b, text + run, static_cast<uint64_t>(i - run));
    return finish(b);
}

char* pdf_escape_literal(strbuf* b, const char* s) {
    buf_bytes(b, "(", 1);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
    const unsigned char* run = p;
    for (; *p; ++p) {
        unsigned char c = *p;
        bool special = c == '(' || c == ')' || c == '\\';
        bool control = c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D;
        if (!special && !control) continue;
        if (p > run) buf_bytes(b, run, static_cast<uint64_t>(p - run));
        if (special) {
            char esc[2] = {'\\', static_cast<char>(c)};
            buf_bytes(b, esc, 2);
        } else {
            char tmp[8];
            int n = std::snprintf(tmp, sizeof tmp, "\\%03o", c);
            buf_bytes(b, tmp, static_cast<uint64_t>(n));
        }
        run = p + 1;
    }
    if (p > run) buf_bytes(b, run, static_cast<uint64_t>(p - run));
    return buf_bytes(b, ")", 1);
}

cstr dict_name(const dict_view& d, const char* key) {
    pos v = d.value_past_name(key);
    if (v < 0 || v >= d.end || d.text[v] != '/') return nullptr;
    return name_decode(d.text, v + 1, d.end);
}
