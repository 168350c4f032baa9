// One-pass parser for a flat JSON object of string keys and string values.
#include "core/json_flat.h"

#include <cstdint>
#include <cstdlib>
#include <utility>

#include "core/strbuf.h"

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

// Decodes the string whose opening quote is at *pp. On success *pp moves past
// the closing quote and the decoded copy is returned; null when the text ends
// inside the string or memory runs out.
cstr read_json_string(const char** pp, bool is_value) {
    const char* body = *pp + 1;
    size_t raw = 0;
    for (const char* q = body; *q != '"'; ++q, ++raw) {
        if (*q == 0) return nullptr;
        if (*q == '\\') {
            if (q[1] == 0) return nullptr;
            ++q;
            ++raw;
        }
    }
    cstr out(static_cast<char*>(std::malloc(raw + 1)));
    if (!out) return nullptr;
    char* w = out.get();
    const char* q = body;
    for (; *q != '"'; ++q) {
        if (*q == '\\') {
            ++q;
            *w++ = unescape(*q, is_value);
        } else {
            *w++ = *q;
        }
    }
    *w = 0;
    *pp = q + 1;
    return out;
}

// Appends one pair, growing both arrays (keys first) when full. On failure the
// object keeps its pairs and capacity, and the pair is released.
bool jsonobj_push(jsonobj* obj, cstr key, cstr value) {
    if (obj->count == obj->cap) {
        if (obj->cap > INT32_MAX / 2) return false;
        int32_t cap = obj->cap == 0 ? 8 : obj->count * 2;
        size_t bytes = static_cast<size_t>(cap) * sizeof(char*);
        char** keys = static_cast<char**>(std::realloc(obj->keys, bytes));
        if (!keys) return false;
        obj->keys = keys;
        char** values = static_cast<char**>(std::realloc(obj->values, bytes));
        if (!values) return false;
        obj->values = values;
        obj->cap = cap;
    }
    obj->keys[obj->count] = key.release();
    obj->values[obj->count] = value.release();
    ++obj->count;
    return true;
}

}  // namespace

int json_parse_flat(const char* text, jsonobj* obj) {
    *obj = jsonobj{};
    if (!text) return 0;
    const char* p = skip_json_ws(text);
    if (*p != '{') return 0;
    p = skip_json_ws(p + 1);
    if (*p == '}') return 1;
    if (*p != '"') return 0;
    for (;;) {
        cstr key = read_json_string(&p, false);
        if (!key) return 0;
        p = skip_json_ws(p);
        if (*p != ':') return 0;
        p = skip_json_ws(p + 1);
        if (*p != '"') return 0;
        cstr value = read_json_string(&p, true);
        if (!value) return 0;
        if (!jsonobj_push(obj, std::move(key), std::move(value))) return 0;
        p = skip_json_ws(p);
        if (*p == '}') return 1;
        if (*p != ',') return 0;
        p = skip_json_ws(p + 1);
        if (*p != '"') return 0;
    }
}

void jsonobj_free(jsonobj* obj) {
    for (int32_t i = 0; i < obj->count; ++i) {
        std::free(obj->keys[i]);
        std::free(obj->values[i]);
    }
    std::free(obj->keys);
    std::free(obj->values);
    *obj = jsonobj{};
}
