#include "json_value.h"

#include <cstdint>

namespace {

constexpr int MAX_DEPTH = 64;

struct reader {
    std::string_view s;
    size_t i = 0;

    void ws() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
    }
    bool lit(std::string_view w) {
        if (s.substr(i, w.size()) != w) return false;
        i += w.size();
        return true;
    }
    static void put_utf8(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    bool hex4(uint32_t* v) {
        if (i + 4 > s.size()) return false;
        *v = 0;
        for (int k = 0; k < 4; ++k) {
            char c = s[i++];
            int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (d < 0) return false;
            *v = *v * 16 + static_cast<uint32_t>(d);
        }
        return true;
    }
    bool string(std::string* out) {
        if (i >= s.size() || s[i] != '"') return false;
        ++i;
        while (i < s.size() && s[i] != '"') {
            char c = s[i++];
            if (c != '\\') {
                *out += c;
                continue;
            }
            if (i >= s.size()) return false;
            char e = s[i++];
            switch (e) {
                case 'n': *out += '\n'; break;
                case 't': *out += '\t'; break;
                case 'r': *out += '\r'; break;
                case 'b': *out += '\b'; break;
                case 'f': *out += '\f'; break;
                case 'u': {
                    uint32_t cp = 0;
                    if (!hex4(&cp)) return false;
                    if (cp >= 0xD800 && cp < 0xDC00 && s.substr(i, 2) == "\\u") {
                        i += 2;
                        uint32_t lo = 0;
                        if (!hex4(&lo)) return false;
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                    }
                    put_utf8(*out, cp);
                    break;
                }
                default: *out += e;
            }
        }
        if (i >= s.size()) return false;
        ++i;
        return true;
    }
    bool value(jvalue* v, int depth) {
        if (depth > MAX_DEPTH) return false;
        ws();
        if (i >= s.size()) return false;
        char c = s[i];
        if (c == '{') {
            v->kind = jvalue::object_v;
            ++i;
            ws();
            if (i < s.size() && s[i] == '}') return ++i, true;
            for (;;) {
                ws();
                std::string k;
                if (!string(&k)) return false;
                ws();
                if (i >= s.size() || s[i++] != ':') return false;
                jvalue m;
                if (!value(&m, depth + 1)) return false;
                v->members.emplace_back(std::move(k), std::move(m));
                ws();
                if (i < s.size() && s[i] == ',') {
                    ++i;
                    continue;
                }
                return i < s.size() && s[i++] == '}';
            }
        }
        if (c == '[') {
            v->kind = jvalue::array_v;
            ++i;
            ws();
            if (i < s.size() && s[i] == ']') return ++i, true;
            for (;;) {
                jvalue m;
                if (!value(&m, depth + 1)) return false;
                v->items.push_back(std::move(m));
                ws();
                if (i < s.size() && s[i] == ',') {
                    ++i;
                    continue;
                }
                return i < s.size() && s[i++] == ']';
            }
        }
        if (c == '"') return v->kind = jvalue::string_v, string(&v->text);
        if (lit("true")) return v->kind = jvalue::bool_v, v->b = true, true;
        if (lit("false")) return v->kind = jvalue::bool_v, true;
        if (lit("null")) return true;
        size_t start = i;
        while (i < s.size() && (s[i] == '-' || s[i] == '+' || s[i] == '.' || s[i] == 'e' || s[i] == 'E' ||
                                (s[i] >= '0' && s[i] <= '9')))
            ++i;
        if (i == start) return false;
        v->kind = jvalue::number_v;
        v->text = std::string(s.substr(start, i - start));
        return true;
    }
};

}  // namespace

bool json_value_parse(std::string_view text, jvalue* out) {
    reader r{text};
    jvalue v;
    if (!r.value(&v, 0)) return false;
    r.ws();
    if (r.i != text.size()) return false;
    *out = std::move(v);
    return true;
}
