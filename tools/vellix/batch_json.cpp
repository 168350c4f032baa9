#include "batch_json.h"

#include <cstdio>

size_t utf8_sequence_length(std::string_view s, size_t i) {
    auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = at(i);
    if (c < 0x80) return 1;
    size_t n;
    unsigned lo = 0x80, hi = 0xBF;  // the range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    if (at(i + 1) < lo || at(i + 1) > hi) return 0;
    for (size_t k = 2; k < n; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
    return n;
}

void json_string_append(std::string& out, std::string_view s, bool utf8_only) {
    out.push_back('"');
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
            ++i;
        } else if (c < 0x20) {
            char tmp[8];
            std::snprintf(tmp, sizeof tmp, "\\u%04x", c);
            out += tmp;
            ++i;
        } else if (c < 0x80 || !utf8_only) {
            out.push_back(static_cast<char>(c));
            ++i;
        } else if (size_t n = utf8_sequence_length(s, i)) {
            out.append(s.substr(i, n));
            i += n;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    out.push_back('"');
}
