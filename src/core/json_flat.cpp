// One-pass parser for a flat JSON object of string keys and string values.
#include "core/json_flat.h"

#include <utility>

namespace {

bool is_json_ws(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

const char* skip_json_ws(const char* p) {
    while (is_json_ws(*p)) ++p;
    return p;
}

// Byte that an escape pair "\c" stands for: keys keep the letter itself,
// values turn n, t and r into control bytes.
char unescape(char c, bool is_value) {
    if (is_value) {
        if (c == 'n') return '\n';
        if (c == 't') return '\t';
        if (c == 'r') return '\r';
    }
    return c;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The four hex digits at q as a code unit, or -1.
long hex4(const char* q) {
    long v = 0;
    for (int i = 0; i < 4; ++i) {
        int d = hex_digit(q[i]);  // stops at the terminating NUL, which is no digit
        if (d < 0) return -1;
        v = v * 16 + d;
    }
    return v;
}

void put_utf8(std::string* out, unsigned long cp) {
    if (cp < 0x80) {
        out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// The "\uXXXX" escape (or surrogate pair) whose 'u' is at *qq, written to
// *out as UTF-8; *qq moves to the escape's last digit. False when malformed.
bool read_unicode_escape(const char** qq, std::string* out) {
    const char* q = *qq;
    long hi = hex4(q + 1);
    if (hi <= 0) return false;  // malformed, or NUL, which the C strings out of the writers cannot carry
    unsigned long cp = static_cast<unsigned long>(hi);
    q += 4;
    if (hi >= 0xD800 && hi <= 0xDFFF) {
        if (hi >= 0xDC00 || q[1] != '\\' || q[2] != 'u') return false;
        long lo = hex4(q + 3);
        if (lo < 0xDC00 || lo > 0xDFFF) return false;
        cp = 0x10000 + ((cp - 0xD800) << 10) + static_cast<unsigned long>(lo - 0xDC00);
        q += 6;
    }
    put_utf8(out, cp);
    *qq = q;
    return true;
}

// One escape "\c" (c at *qq) read the standard way into *out.
bool read_standard_escape(const char** qq, std::string* out) {
    switch (**qq) {
        case '"': case '\\': case '/': out->push_back(**qq); return true;
        case 'b': out->push_back('\b'); return true;
        case 'f': out->push_back('\f'); return true;
        case 'n': out->push_back('\n'); return true;
        case 'r': out->push_back('\r'); return true;
        case 't': out->push_back('\t'); return true;
        case 'u': return read_unicode_escape(qq, out);
        default: return false;
    }
}

// Decodes the string whose opening quote is at *pp into *out. On success *pp
// moves past the closing quote; false when the text ends inside the string
// or (standard escapes) an escape is malformed.
bool read_json_string(const char** pp, bool is_value, json_escapes escapes, std::string* out) {
    const char* body = *pp + 1;
    size_t raw = 0;
    for (const char* q = body; *q != '"'; ++q, ++raw) {
        if (*q == 0) return false;
        if (*q == '\\') {
            if (q[1] == 0) return false;
            ++q;
            ++raw;
        }
    }
    out->clear();
    out->reserve(raw);
    const char* q = body;
    for (; *q != '"'; ++q) {
        if (*q != '\\') {
            out->push_back(*q);
            continue;
        }
        ++q;
        if (escapes == json_escapes::byte_rules) {
            out->push_back(unescape(*q, is_value));
        } else if (!read_standard_escape(&q, out)) {
            return false;
        }
    }
    *pp = q + 1;
    return true;
}

}  // namespace

bool json_parse_flat(const char* text, jsonobj* obj, json_escapes escapes) {
    obj->clear();
    if (!text) return false;
    const char* p = skip_json_ws(text);
    if (*p != '{') return false;
    p = skip_json_ws(p + 1);
    if (*p == '}') return true;
    if (*p != '"') return false;
    for (;;) {
        json_pair pair;
        if (!read_json_string(&p, false, escapes, &pair.key)) return false;
        p = skip_json_ws(p);
        if (*p != ':') return false;
        p = skip_json_ws(p + 1);
        if (*p != '"') return false;
        if (!read_json_string(&p, true, escapes, &pair.value)) return false;
        obj->push_back(std::move(pair));
        p = skip_json_ws(p);
        if (*p == '}') return true;
        if (*p != ',') return false;
        p = skip_json_ws(p + 1);
        if (*p != '"') return false;
    }
}
