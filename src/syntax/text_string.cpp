#include "syntax/text_string.h"

namespace {

constexpr uint32_t REPLACEMENT = 0xFFFD;

// PDFDocEncoding where it differs from ISO Latin-1 (0x18-0x1F, 0x7F-0xA0,
// 0xAD); 0 marks a code with no character.
constexpr uint16_t PDFDOC_18_1F[8] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
constexpr uint16_t PDFDOC_7F_A0[34] = {
    0,      0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039, 0x203A, 0x2212,
    0x2030, 0x201E, 0x201C, 0x201D, 0x2018, 0x2019, 0x201A, 0x2122, 0xFB01, 0xFB02, 0x0141, 0x0152,
    0x0160, 0x0178, 0x017D, 0x0131, 0x0142, 0x0153, 0x0161, 0x017E, 0,      0x20AC};

uint32_t pdfdoc_char(uint8_t c) {
    if (c >= 0x18 && c <= 0x1F) return PDFDOC_18_1F[c - 0x18];
    if (c >= 0x7F && c <= 0xA0) {
        uint16_t u = PDFDOC_7F_A0[c - 0x7F];
        return u ? u : REPLACEMENT;
    }
    if (c == 0xAD) return REPLACEMENT;
    return c;
}

// Length of the well-formed UTF-8 sequence at s[i], or 0 when it is not one;
// *cp receives its code point.
size_t utf8_seq(std::string_view s, size_t i, uint32_t* cp) {
    uint8_t c = static_cast<uint8_t>(s[i]);
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    size_t n;
    uint32_t v, min;
    if ((c & 0xE0) == 0xC0) {
        n = 2, v = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3, v = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4, v = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        uint8_t d = static_cast<uint8_t>(s[i + k]);
        if ((d & 0xC0) != 0x80) return 0;
        v = v << 6 | (d & 0x3F);
    }
    if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    *cp = v;
    return n;
}

// UTF-16 code units from byte offset `from`, big- or little-endian.
std::string utf16_to_utf8(std::string_view s, size_t from, bool big) {
    std::string out;
    out.reserve(s.size());
    auto unit = [&](size_t i) -> uint32_t {
        uint8_t a = static_cast<uint8_t>(s[i]), b = static_cast<uint8_t>(s[i + 1]);
        return big ? (a << 8 | b) : (b << 8 | a);
    };
    bool in_escape = false;
    size_t i = from;
    for (; i + 1 < s.size(); i += 2) {
        uint32_t u = unit(i);
        if (u == 0x1B) {  // language escape: 1B, a language code, 1B
            in_escape = !in_escape;
            continue;
        }
        if (in_escape) continue;
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < s.size()) {
            uint32_t lo = unit(i + 2);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                utf8_append(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                i += 2;
                continue;
            }
        }
        utf8_append(out, u);  // a lone surrogate becomes U+FFFD
    }
    if (i < s.size()) utf8_append(out, REPLACEMENT);  // an odd last byte
    return out;
}

// UTF-8 bytes from offset `from`, invalid sequences replaced, language
// escapes removed when `escapes` is set.
std::string utf8_clean(std::string_view s, size_t from, bool escapes) {
    std::string out;
    out.reserve(s.size() - from);
    bool in_escape = false;
    for (size_t i = from; i < s.size();) {
        uint32_t cp;
        size_t n = utf8_seq(s, i, &cp);
        if (n == 0) {
            if (!in_escape) utf8_append(out, REPLACEMENT);
            ++i;
            continue;
        }
        if (escapes && cp == 0x1B) {
            in_escape = !in_escape;
        } else if (!in_escape) {
            out.append(s.substr(i, n));
        }
        i += n;
    }
    return out;
}

bool has_prefix(std::string_view s, const char* mark, size_t n) { return s.size() >= n && s.substr(0, n) == std::string_view(mark, n); }

}  // namespace

void utf8_append(std::string& out, uint32_t cp) {
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = REPLACEMENT;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool utf8_valid(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        uint32_t cp;
        size_t n = utf8_seq(s, i, &cp);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string utf8_sanitize(std::string_view s) { return utf8_clean(s, 0, false); }

std::string text_string_to_utf8(std::string_view s) {
    if (has_prefix(s, "\xFE\xFF", 2)) return utf16_to_utf8(s, 2, true);
    if (has_prefix(s, "\xFF\xFE", 2)) return utf16_to_utf8(s, 2, false);
    if (has_prefix(s, "\xEF\xBB\xBF", 3)) return utf8_clean(s, 3, true);
    bool multi = false;
    for (char c : s) multi |= static_cast<uint8_t>(c) >= 0x80;
    if (multi && utf8_valid(s)) return std::string(s);
    std::string out;
    out.reserve(s.size());
    for (char c : s) utf8_append(out, pdfdoc_char(static_cast<uint8_t>(c)));
    return out;
}

bool utf8_to_text_string(std::string_view utf8, std::string* out) {
    if (!utf8_valid(utf8)) return false;
    bool ascii = true;
    for (char c : utf8) ascii &= c >= 0x20 && c <= 0x7E;
    if (ascii) {
        *out = std::string(utf8);
        return true;
    }
    std::string r = "\xFE\xFF";
    r.reserve(2 + 2 * utf8.size());
    auto put = [&](uint32_t u) {
        r += static_cast<char>(u >> 8);
        r += static_cast<char>(u & 0xFF);
    };
    for (size_t i = 0; i < utf8.size();) {
        uint32_t cp;
        i += utf8_seq(utf8, i, &cp);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    *out = std::move(r);
    return true;
}
