#include "syntax/dict_view.h"

#include <cstddef>

int32_t dict_view::int_value(const char* name, int32_t absent) const {
    pos v = value_past_name(name);
    if (v < 0 || v >= end) return absent;
    return int_read(text, &v, end);
}

int32_t dict_view::ref(const char* name) const {
    pos p = value(name);
    if (p < 0 || !is_digit(text[p])) return -1;
    int32_t n = ref_read(text, p, end);
    return n > 0 ? n : -1;
}

bool dict_view::name_is(const char* key, const char* want) const {
    pos v = value_past_name(key);
    if (v < 0 || v >= end || text[v] != '/') return false;
    const auto* w = reinterpret_cast<const uint8_t*>(want);
    size_t n = 0;
    for (pos i = v + 1; i < end;) {
        uint8_t c = text[i];
        uint8_t out;
        if (c == '#') {
            if (i + 2 >= end) break;
            int hi = hex_value(text[i + 1]), lo = hex_value(text[i + 2]);
            if (hi < 0 || lo < 0) break;
            out = static_cast<uint8_t>(hi << 4 | lo);
            i += 3;
        } else if (is_name_cont(c)) {
            out = c;
            ++i;
        } else {
            break;
        }
        if (out == 0) break;  // the decoded text is read as a C string
        if (w[n] != out) return false;
        ++n;
    }
    return w[n] == 0;
}
