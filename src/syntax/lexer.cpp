#include "syntax/lexer.h"

#include <cstring>
#include <type_traits>

namespace {

// Whole-word test around [p, p + klen): neither neighbour is a word character.
bool word_bounded(const uint8_t* t, pos p, pos klen, pos end) {
    if (p > 0 && is_word(t[p - 1])) return false;
    if (p + klen < end && is_word(t[p + klen])) return false;
    return true;
}

// True when /name (slash at p) lies wholly before end and is not continued by
// a name-continuation byte.
[[gnu::always_inline]] inline bool name_at(const uint8_t* t, pos p, pos end, const char* name, pos n) {
    if (p + 1 + n > end) return false;
    if (t[p] != '/' || (n > 0 && t[p + 1] != static_cast<uint8_t>(name[0]))) return false;  // cheap test first
    if (std::memcmp(t + p + 1, name, static_cast<size_t>(n)) != 0) return false;
    return p + 1 + n == end || !is_name_cont(t[p + 1 + n]);
}

pos slen(const char* s) { return static_cast<pos>(std::strlen(s)); }

}  // namespace


pos ws_skip(const uint8_t* t, pos p, pos end) {
    if (p < 0) p = 0;
    while (p < end && is_pdf_ws(t[p])) ++p;
    return p < end ? p : end;
}

pos kw_find(const uint8_t* t, pos start, pos end, const char* kw) {
    pos klen = slen(kw);
    if (!t || klen == 0 || end <= 0) return -1;
    pos i = start < 0 ? 0 : start;
    pos last = end - klen;  // last position where the keyword fits
    // memchr on the first byte, then compare the rest: each byte is looked at
    // a bounded number of times, so the search is linear in the range.
    while (i <= last) {
        const void* hit = std::memchr(t + i, kw[0], static_cast<size_t>(last - i + 1));
        if (!hit) return -1;
        i = static_cast<const uint8_t*>(hit) - t;
        if (std::memcmp(t + i + 1, kw + 1, static_cast<size_t>(klen - 1)) == 0 && word_bounded(t, i, klen, end))
            return i;
        ++i;
    }
    return -1;
}

bool kw_is(const uint8_t* t, pos p, pos end, const char* kw) {
    pos klen = slen(kw);
    if (p < 0 || p + klen > end) return false;
    if (std::memcmp(t + p, kw, static_cast<size_t>(klen)) != 0) return false;
    return word_bounded(t, p, klen, end);
}

pos name_find(const uint8_t* t, pos start, pos end, const char* name) {
    pos n = slen(name);
    if (end < start + n + 1) return -1;
    pos p = start < 0 ? 0 : start;
    pos last = end - n - 1;  // last possible slash position
    while (p <= last) {
        const void* hit = std::memchr(t + p, '/', static_cast<size_t>(last - p + 1));
        if (!hit) return -1;
        p = static_cast<const uint8_t*>(hit) - t;
        if (name_at(t, p, end, name, n)) return p;
        ++p;
    }
    return -1;
}

pos name_find_top(const uint8_t* t, pos start, pos end, const char* name) {
    pos n = slen(name);
    pos i = start < 0 ? 0 : start;
    int depth = 0;
    while (i < end) {
        uint8_t c = t[i];
        switch (c) {
            case '%': {
                pos j = i + 1;
                while (j < end && t[j] != '\r' && t[j] != '\n') ++j;
                if (j >= end) return -1;
                i = j;
                break;
            }
            case '(': {
                if (i + 1 >= end) return -1;
                i = literal_end(t, i, end);
                if (i < 0) return -1;
                break;
            }
            case '<': {
                if (i + 1 >= end) return -1;
                if (t[i + 1] == '<') {
                    ++depth;
                    i += 2;
                    break;
                }
                i = hex_end(t, i, end);
                if (i < 0) return -1;
                break;
            }
            case '>': {
                if (i + 1 >= end) return -1;
                if (t[i + 1] == '>') {
                    if (depth > 0) --depth;
                    i += 2;
                } else {
                    ++i;
                }
                break;
            }
            case '/':
                if (depth <= 1 && name_at(t, i, end, name, n)) return i;
                ++i;
                break;
            default:
                i = next_of<'%', '(', '<', '>', '/'>(t, i + 1, end);
                break;
        }
    }
    return -1;
}

pos name_find_depth0(const uint8_t* t, pos start, pos end, const char* name) {
    if (!t || start < 0 || start + 1 >= end) return -1;
    const pos n = slen(name);
    pos i = start;
    int depth = -1;
    while (i + 1 < end) {
        uint8_t c = t[i];
        if (c == '<' && t[i + 1] == '<') {
            ++depth;
            i += 2;
        } else if (c == '>' && t[i + 1] == '>') {
            --depth;
            i += 2;
        } else if (c == '[') {
            ++depth;
            ++i;
        } else if (c == ']') {
            --depth;
            ++i;
        } else if (c == '(') {
            pos j = literal_end(t, i, end);
            i = j < 0 ? end : j;
        } else if (c == '/' && depth == 0 && name_at(t, i, end, name, n)) {
            return i;
        } else {
            ++i;
        }
    }
    return -1;
}

pos name_run_end(const uint8_t* t, pos p, pos end) {
    while (p < end && (is_name_cont(t[p]) || t[p] == '#')) ++p;
    return p;
}

pos literal_end(const uint8_t* t, pos p, pos end) {
    int depth = 1;
    pos j = p + 1;
    while (j < end) {
        uint8_t b = t[j];
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

pos hex_end(const uint8_t* t, pos p, pos end) {
    if (p + 1 >= end) return -1;
    const void* gt = std::memchr(t + p + 1, '>', static_cast<size_t>(end - p - 1));
    return gt ? static_cast<const uint8_t*>(gt) - t + 1 : -1;
}

pos dict_close(const uint8_t* t, pos start, pos end) {
    pos i = start < 0 ? 0 : start;
    int64_t depth = 0;
    while (i < end) {
        uint8_t c = t[i];
        if (c == '<' || c == '>' || c == '(') {
            if (i + 1 >= end) return -1;
        }
        if (c == '<') {
            if (t[i + 1] == '<') {
                ++depth;
                i += 2;
            } else {
                ++i;
            }
        } else if (c == '>') {
            if (t[i + 1] == '>') {
                if (--depth == 0) return i;
                i += 2;
            } else {
                ++i;
            }
        } else if (c == '(') {
            i = literal_end(t, i, end);
            // A string that ends exactly at `end` leaves nothing to close the dictionary.
            if (i < 0 || i >= end) return -1;
        } else {
            i = next_of<'<', '>', '('>(t, i + 1, end);
        }
    }
    return -1;
}

pos stream_kw_after(const uint8_t* t, pos start, pos end) {
    pos close = dict_close(t, start, end);
    if (close < 0) return -1;
    pos p = ws_skip(t, close + 2, end);
    return kw_is(t, p, end, "stream") ? p : -1;
}

pos key_value(const uint8_t* t, pos start, pos end, const char* name) {
    pos k = name_find(t, start, end, name);
    if (k < 0) return -1;
    pos p = k + 1 + slen(name);
    if (p >= end) return -1;
    p = ws_skip(t, p, end);
    return p < end ? p : -1;
}

pos key_value_past_name(const uint8_t* t, pos start, pos end, const char* name) {
    pos k = name_find(t, start, end, name);
    if (k < 0) return -1;
    return ws_skip(t, name_run_end(t, k + 1 + slen(name), end), end);
}

namespace {

}  // namespace

int32_t ref_read(const uint8_t* t, pos p, pos end) {
    int32_t num = int_read(t, &p, end);
    if (num <= 0) return -1;
    p = ws_skip(t, p, end);
    if (p >= end) return -1;
    if (is_digit(t[p])) {
        int_read(t, &p, end);  // generation number, value unused
        p = ws_skip(t, p, end);
        if (p >= end) return -1;
    }
    if (t[p] != 'R') return -1;
    if (p + 1 < end && is_word(t[p + 1])) return -1;
    return num;
}

pos obj_numbers_end(const uint8_t* t, pos p, pos end) {
    p = ws_skip(t, p, end);
    while (p < end && is_digit(t[p])) ++p;
    p = ws_skip(t, p, end);
    while (p < end && is_digit(t[p])) ++p;
    return ws_skip(t, p, end);
}

pos obj_value_start(const uint8_t* t, pos p, pos end) {
    p = obj_numbers_end(t, p, end);
    return kw_is(t, p, end, "obj") ? ws_skip(t, p + 3, end) : p;
}

namespace {

bool dict_closes(const uint8_t* t, pos i, pos end) { return i + 1 < end && t[i] == '>' && t[i + 1] == '>'; }

// Skips a string starting at i (literal or hexadecimal); returns the position
// after it, i itself when no string starts there, or -1 when it is unterminated.
pos string_skip(const uint8_t* t, pos i, pos end) {
    if (t[i] == '(') return literal_end(t, i, end);
    if (t[i] == '<' && !dict_opens(t, i, end)) return hex_end(t, i, end);
    return i;
}

pos dict_value_end(const uint8_t* t, pos p, pos end) {
    int depth = 1;
    pos i = p + 2;
    while (i < end) {
        if (dict_opens(t, i, end)) {
            ++depth;
            i += 2;
        } else if (dict_closes(t, i, end)) {
            i += 2;
            if (--depth == 0) return i;
        } else {
            pos after = string_skip(t, i, end);
            if (after < 0) return -1;
            i = after > i ? after : i + 1;
        }
    }
    return -1;
}

pos array_value_end(const uint8_t* t, pos p, pos end) {
    int depth = 1;
    pos i = p + 1;
    while (i < end) {
        if (t[i] == '[') {
            ++depth;
            ++i;
        } else if (t[i] == ']') {
            ++i;
            if (--depth == 0) return i;
        } else if (dict_opens(t, i, end)) {
            i += 2;
        } else {
            pos after = string_skip(t, i, end);
            if (after < 0) return -1;
            i = after > i ? after : i + 1;
        }
    }
    return -1;
}

// A number, or a whole indirect reference "12 0 R" when one starts here.
pos number_value_end(const uint8_t* t, pos p, pos end) {
    pos i = p;
    if (t[i] == '+' || t[i] == '-') ++i;
    pos run = i;
    bool integer = true;
    while (i < end && (is_digit(t[i]) || t[i] == '.')) {
        if (t[i] == '.') integer = false;
        ++i;
    }
    if (i == run) return -1;  // a lone sign
    if (!integer || run != p || ref_read(t, p, end) <= 0) return i;
    // ref_read accepted "N [G] R": take the same bytes.
    pos j = ws_skip(t, i, end);
    if (j < end && is_digit(t[j])) {
        while (j < end && is_digit(t[j])) ++j;
        j = ws_skip(t, j, end);
    }
    return j < end && t[j] == 'R' ? j + 1 : i;
}

}  // namespace

pos value_end(const uint8_t* t, pos p, pos end) {
    if (p < 0 || p >= end) return -1;
    uint8_t c = t[p];
    if (dict_opens(t, p, end)) return dict_value_end(t, p, end);
    if (c == '<') return hex_end(t, p, end);
    if (c == '(') return literal_end(t, p, end);
    if (c == '/') {
        pos i = name_run_end(t, p + 1, end);
        return i > p + 1 ? i : -1;
    }
    if (c == '[') return array_value_end(t, p, end);
    if (is_digit(c) || c == '.' || c == '+' || c == '-') return number_value_end(t, p, end);
    if (is_alpha(c)) {
        pos i = p;
        while (i < end && is_alpha(t[i])) ++i;
        return i;
    }
    return -1;
}
