#include "syntax/lexer.h"

#include <cstring>


namespace {

// Whole-word test around [pos, pos + klen): neither neighbour is a word character.
bool word_bounded(const uint8_t* buf, int64_t pos, int64_t klen, int64_t len) {
    if (pos > 0 && is_word(buf[pos - 1])) return false;
    if (pos + klen < len && is_word(buf[pos + klen])) return false;
    return true;
}

// True when /name (slash at p) lies wholly before end and is not continued by
// a name-continuation byte.
bool name_at(const uint8_t* buf, int64_t p, int64_t end, const char* name, int64_t n) {
    if (p + 1 + n > end) return false;
    if (buf[p] != '/' || std::memcmp(buf + p + 1, name, static_cast<size_t>(n)) != 0) return false;
    return p + 1 + n == end || !is_name_cont(buf[p + 1 + n]);
}

// Skips a literal string whose "(" is at i; returns the position after the
// closing ")" or -1 when the string runs into end (including a backslash as
// the last byte).
int64_t skip_literal(const uint8_t* buf, int64_t i, int64_t end) {
    int depth = 1;
    int64_t j = i + 1;
    while (j < end) {
        uint8_t b = buf[j];
        if (b == '\\') {
            if (j + 1 >= end) return -1;
            j += 2;
            continue;
        }
        ++j;
        if (b == '(') {
            ++depth;
        } else if (b == ')') {
            if (--depth == 0) return j;
        }
    }
    return -1;
}

int64_t min64(int64_t a, int64_t b) { return a < b ? a : b; }

}  // namespace

int32_t find_kw(const uint8_t* buf, int32_t len, int32_t from, const char* kw) {
    int64_t klen = static_cast<int64_t>(std::strlen(kw));
    if (!buf || klen == 0 || len <= 0) return -1;
    int64_t i = from < 0 ? 0 : from;
    int64_t last = len - klen;  // last position where the keyword fits
    // memchr on the first byte, then compare the rest: each byte is looked at
    // a bounded number of times, so the search is linear in the range.
    while (i <= last) {
        const void* hit = std::memchr(buf + i, kw[0], static_cast<size_t>(last - i + 1));
        if (!hit) return -1;
        i = static_cast<const uint8_t*>(hit) - buf;
        if (std::memcmp(buf + i + 1, kw + 1, static_cast<size_t>(klen - 1)) == 0 && word_bounded(buf, i, klen, len))
            return static_cast<int32_t>(i);
        ++i;
    }
    return -1;
}

int kw_at(const uint8_t* buf, int32_t pos, int32_t len, const char* kw) {
    int64_t klen = static_cast<int64_t>(std::strlen(kw));
    if (pos < 0 || pos + klen > len) return 0;
    if (std::memcmp(buf + pos, kw, static_cast<size_t>(klen)) != 0) return 0;
    return word_bounded(buf, pos, klen, len) ? 1 : 0;
}

int32_t find_name(const uint8_t* buf, int32_t len, int32_t start, int32_t limit, const char* name) {
    int64_t n = static_cast<int64_t>(std::strlen(name));
    int64_t end = min64(limit, len);
    if (end < static_cast<int64_t>(start) + n + 1) return -1;
    int64_t p = start < 0 ? 0 : start;
    int64_t last = end - n - 1;  // last possible slash position
    while (p <= last) {
        const void* hit = std::memchr(buf + p, '/', static_cast<size_t>(last - p + 1));
        if (!hit) return -1;
        p = static_cast<const uint8_t*>(hit) - buf;
        if (name_at(buf, p, end, name, n)) return static_cast<int32_t>(p);
        ++p;
    }
    return -1;
}

int32_t find_name_top(const uint8_t* buf, int32_t len, int32_t start, int32_t limit, const char* name) {
    int64_t n = static_cast<int64_t>(std::strlen(name));
    int64_t end = min64(limit, len);
    int64_t i = start < 0 ? 0 : start;
    int depth = 0;
    while (i < end) {
        uint8_t c = buf[i];
        switch (c) {
            case '%': {
                int64_t j = i + 1;
                while (j < end && buf[j] != '\r' && buf[j] != '\n') ++j;
                if (j >= end) return -1;
                i = j;
                break;
            }
            case '(': {
                if (i + 1 >= end) return -1;
                i = skip_literal(buf, i, end);
                if (i < 0) return -1;
                break;
            }
            case '<': {
                if (i + 1 >= end) return -1;
                if (buf[i + 1] == '<') {
                    ++depth;
                    i += 2;
                    break;
                }
                const void* gt = std::memchr(buf + i + 1, '>', static_cast<size_t>(end - i - 1));
                if (!gt) return -1;
                i = static_cast<const uint8_t*>(gt) - buf + 1;
                break;
            }
            case '>': {
                if (i + 1 >= end) return -1;
                if (buf[i + 1] == '>') {
                    if (depth > 0) --depth;
                    i += 2;
                } else {
                    ++i;
                }
                break;
            }
            case '/':
                if (depth <= 1 && name_at(buf, i, end, name, n)) return static_cast<int32_t>(i);
                ++i;
                break;
            default:
                ++i;
                break;
        }
    }
    return -1;
}

int32_t find_dict_close(const uint8_t* buf, int32_t start, int32_t end) {
    int64_t i = start < 0 ? 0 : start;
    int64_t depth = 0;
    while (i < end) {
        uint8_t c = buf[i];
        if (c == '<' || c == '>' || c == '(') {
            if (i + 1 >= end) return -1;
        }
        if (c == '<') {
            if (buf[i + 1] == '<') {
                ++depth;
                i += 2;
            } else {
                ++i;
            }
        } else if (c == '>') {
            if (buf[i + 1] == '>') {
                if (--depth == 0) return static_cast<int32_t>(i);
                i += 2;
            } else {
                ++i;
            }
        } else if (c == '(') {
            i = skip_literal(buf, i, end);
            // A string that ends exactly at `end` leaves nothing to close the dictionary.
            if (i < 0 || i >= end) return -1;
        } else {
            ++i;
        }
    }
    return -1;
}

int32_t dict_stream_kw(const uint8_t* buf, int32_t len, int32_t dict_pos) {
    int32_t close = find_dict_close(buf, dict_pos, len);
    if (close < 0) return -1;
    int32_t p = skip_ws(buf, close + 2, len);
    return kw_at(buf, p, len, "stream") ? p : -1;
}

int32_t value_start_after(const uint8_t* buf, int32_t len, int32_t start, const char* name) {
    int32_t p = find_name(buf, len, start, len, name);
    if (p < 0) return -1;
    int32_t q = p + 1 + static_cast<int32_t>(std::strlen(name));
    while (q < len && (is_name_cont(buf[q]) || buf[q] == '#')) ++q;
    return skip_ws(buf, q, len);
}

int32_t parse_int_at(const uint8_t* buf, int32_t len, int32_t* pos) {
    int32_t p = *pos;
    if (p < 0 || p >= len) return -1;
    while (p < len && is_pdf_ws(buf[p])) ++p;
    if (p >= len) return -1;
    bool neg = false;
    if (buf[p] == '-') {
        neg = true;
        if (++p >= len) return -1;
    }
    if (!is_digit(buf[p])) return -1;
    uint32_t v = 0;  // unsigned so that overflow wraps without undefined behaviour
    while (p < len && is_digit(buf[p])) v = v * 10u + static_cast<uint32_t>(buf[p++] - '0');
    *pos = p;
    return static_cast<int32_t>(neg ? 0u - v : v);
}

int32_t read_int_adv(const uint8_t* buf, int32_t len, int32_t* pos) {
    int32_t p = *pos;
    if (p < 0) return -1;
    while (p < len && is_pdf_ws(buf[p])) ++p;
    if (p >= len) return -1;
    bool neg = false;
    if (buf[p] == '+' || buf[p] == '-') {
        neg = buf[p] == '-';
        if (++p >= len) return -1;
    }
    if (!is_digit(buf[p])) return -1;
    uint32_t v = 0;
    while (p < len && is_digit(buf[p])) v = v * 10u + static_cast<uint32_t>(buf[p++] - '0');
    *pos = p;
    return static_cast<int32_t>(neg ? 0u - v : v);
}

int32_t parse_ref_at(const uint8_t* buf, int32_t len, int32_t pos) {
    int32_t p = pos;
    int32_t num = parse_int_at(buf, len, &p);
    if (num <= 0) return -1;
    p = skip_ws(buf, p, len);
    if (p >= len) return -1;
    if (is_digit(buf[p])) {
        parse_int_at(buf, len, &p);  // generation number, value unused
        p = skip_ws(buf, p, len);
        if (p >= len) return -1;
    }
    if (buf[p] != 'R') return -1;
    if (p + 1 < len && is_word(buf[p + 1])) return -1;
    return num;
}


int32_t skip_ws(const uint8_t* buf, int32_t pos, int32_t end) {
    if (pos < 0) pos = 0;
    while (pos < end && is_pdf_ws(buf[pos])) ++pos;
    return pos < end ? pos : end;
}
