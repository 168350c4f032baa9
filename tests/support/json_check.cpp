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
