#include "support/json_check.h"

#include <cctype>
#include <cstring>

namespace {

struct json_reader {
    const std::string& s;
    size_t i = 0;
    std::string fault;

    bool fail(const char* what) {
        if (fault.empty()) fault = std::string(what) + " at offset " + std::to_string(i);
        return false;
    }
    void ws() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
    }
    bool literal(const char* w) {
        size_t n = std::strlen(w);
        if (s.compare(i, n, w) != 0) return fail("bad literal");
        i += n;
        return true;
    }
    bool string() {
        if (i >= s.size() || s[i] != '"') return fail("expected string");
        ++i;
        while (i < s.size()) {
            unsigned char c = static_cast<unsigned char>(s[i]);
            if (c == '"') {
                ++i;
                return true;
            }
            if (c < 0x20) return fail("raw control byte in string");
            if (c == '\\') {
                if (++i >= s.size()) return fail("unterminated escape");
                char e = s[i];
                if (e == 'u') {
                    for (int k = 1; k <= 4; ++k)
                        if (i + k >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[i + k])))
                            return fail("bad \\u escape");
                    i += 4;
                } else if (!std::strchr("\"\\/bfnrt", e)) {
                    return fail("bad escape");
                }
            }
            ++i;
        }
        return fail("unterminated string");
    }
    bool number() {
        size_t start = i;
        if (i < s.size() && s[i] == '-') ++i;
        if (i >= s.size() || !std::isdigit(static_cast<unsigned char>(s[i]))) return fail("bad number");
        if (s[i] == '0' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])))
            return fail("leading zero");
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
        if (i < s.size() && s[i] == '.') {
            ++i;
            if (i >= s.size() || !std::isdigit(static_cast<unsigned char>(s[i]))) return fail("bad fraction");
            while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
        }
        if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
            ++i;
            if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
            if (i >= s.size() || !std::isdigit(static_cast<unsigned char>(s[i]))) return fail("bad exponent");
            while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
        }
        return i > start;
    }
    // Iterative over nesting so deep texts cannot exhaust the stack.
    bool value() {
        std::string stack;  // '{' or '['
        for (;;) {
            ws();
            if (i >= s.size()) return fail("unexpected end");
            char c = s[i];
            bool opened = false;
            if (c == '{' || c == '[') {
                stack.push_back(c);
                ++i;
                ws();
                if (i < s.size() && s[i] == (c == '{' ? '}' : ']')) {
                    ++i;
                    stack.pop_back();
                } else {
                    opened = true;
                }
            } else if (c == '"') {
                if (!string()) return false;
            } else if (c == 't') {
                if (!literal("true")) return false;
            } else if (c == 'f') {
                if (!literal("false")) return false;
            } else if (c == 'n') {
                if (!literal("null")) return false;
            } else if (!number()) {
                return false;
            }
            if (opened) {
                if (stack.back() == '{') {
                    if (!string()) return false;
                    ws();
                    if (i >= s.size() || s[i] != ':') return fail("expected ':'");
                    ++i;
                }
                continue;
            }
            // After a complete value: close containers or move to the next member.
            for (;;) {
                if (stack.empty()) return true;
                ws();
                if (i >= s.size()) return fail("unexpected end in container");
                char close = stack.back() == '{' ? '}' : ']';
                if (s[i] == close) {
                    ++i;
                    stack.pop_back();
                    continue;
                }
                if (s[i] != ',') return fail("expected ',' or close");
                ++i;
                if (stack.back() == '{') {
                    ws();
                    if (!string()) return false;
                    ws();
                    if (i >= s.size() || s[i] != ':') return fail("expected ':'");
                    ++i;
                }
                break;
            }
        }
    }
};

}  // namespace

std::string json_fault(const std::string& text) {
    json_reader r{text, 0, {}};
    if (!r.value()) return r.fault;
    r.ws();
    if (r.i != text.size()) return "trailing bytes at offset " + std::to_string(r.i);
    return "";
}

namespace {

void put_utf8(std::string& out, unsigned cp) {
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

}  // namespace

std::string json_string_member(const std::string& text, const std::string& key) {
    const std::string head = "\"" + key + "\":\"";
    size_t i = text.find(head);
    if (i == std::string::npos) return "<missing>";
    std::string out;
    auto hex4 = [&](size_t at) { return static_cast<unsigned>(std::stoul(text.substr(at, 4), nullptr, 16)); };
    for (i += head.size(); i < text.size() && text[i] != '"'; ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        char e = text[++i];
        switch (e) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': {
                unsigned cp = hex4(i + 1);
                i += 4;
                if (cp >= 0xD800 && cp < 0xDC00 && text.compare(i + 1, 2, "\\u") == 0) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (hex4(i + 3) - 0xDC00);
                    i += 6;
                }
                put_utf8(out, cp);
                break;
            }
            default: out += e;  // \" \\ \/
        }
    }
    return out;
}
