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

// Decodes the string whose opening quote is at *pp into *out. On success *pp
// moves past the closing quote; false when the text ends inside the string.
bool read_json_string(const char** pp, bool is_value, std::string* out) {
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
        if (*q == '\\') {
            ++q;
            out->push_back(unescape(*q, is_value));
        } else {
            out->push_back(*q);
        }
    }
    *pp = q + 1;
    return true;
}

}  // namespace

bool json_parse_flat(const char* text, jsonobj* obj) {
    obj->clear();
    if (!text) return false;
    const char* p = skip_json_ws(text);
    if (*p != '{') return false;
    p = skip_json_ws(p + 1);
    if (*p == '}') return true;
    if (*p != '"') return false;
    for (;;) {
        json_pair pair;
        if (!read_json_string(&p, false, &pair.key)) return false;
        p = skip_json_ws(p);
        if (*p != ':') return false;
        p = skip_json_ws(p + 1);
        if (*p != '"') return false;
        if (!read_json_string(&p, true, &pair.value)) return false;
        obj->push_back(std::move(pair));
        p = skip_json_ws(p);
        if (*p == '}') return true;
        if (*p != ',') return false;
        p = skip_json_ws(p + 1);
        if (*p != '"') return false;
    }
}
