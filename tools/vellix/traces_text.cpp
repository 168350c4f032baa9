// A small JSON reader (the report's own structure, strings decoded to their
// bytes) and the timeline built from what it reads.
#include "traces_text.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace {

struct jvalue {
    enum kind_t { null_v, bool_v, number_v, string_v, array_v, object_v } kind = null_v;
    bool b = false;
    std::string text;  // a string's bytes, or a number as written
    std::vector<jvalue> items;
    std::vector<std::pair<std::string, jvalue>> members;

    const jvalue* get(std::string_view key) const {
        for (const auto& [k, v] : members)
            if (k == key) return &v;
        return nullptr;
    }
    std::string str(std::string_view key) const {
        const jvalue* v = get(key);
        return v && (v->kind == string_v || v->kind == number_v) ? v->text : std::string();
    }
};

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

// A value in double quotes, quote, backslash and control bytes escaped.
std::string quoted(std::string_view v) {
    std::string out = "\"";
    for (char c : v) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            static const char HEX[] = "0123456789abcdef";
            out += "\\x";
            out += HEX[(c >> 4) & 15];
            out += HEX[c & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// "key \"value\"" for every non-empty string member, joined with ", ".
std::string listed(const jvalue& obj) {
    std::string out;
    for (const auto& [k, v] : obj.members) {
        if (v.kind != jvalue::string_v || v.text.empty()) continue;
        if (!out.empty()) out += ", ";
        out += k + " " + quoted(v.text);
    }
    return out;
}

// What an update did to the Info values, from `before` (null: none named) to `after`.
std::string changes(const jvalue* before, const jvalue* after) {
    const bool had = before && before->kind == jvalue::object_v;
    const bool has = after && after->kind == jvalue::object_v;
    if (!had && !has) return "no Info";
    if (!has) return "Info no longer named";
    if (!had) {
        std::string l = listed(*after);
        return l.empty() ? "Info named, all fields empty" : "Info named: " + l;
    }
    std::string out;
    for (const auto& [k, v] : after->members) {
        std::string old = before->str(k);
        if (v.kind != jvalue::string_v || v.text == old) continue;
        if (!out.empty()) out += ", ";
        out += k + " " + quoted(old) + " -> " + quoted(v.text);
    }
    return out.empty() ? "Info unchanged" : out;
}

}  // namespace

bool traces_timeline(std::string_view json, std::string* out) {
    reader r{json};
    jvalue root;
    if (!r.value(&root, 0) || root.kind != jvalue::object_v) return false;
    const jvalue* revs = root.get("revisions");
    const jvalue* items = root.get("items");
    if (!revs || revs->kind != jvalue::array_v || !items || items->kind != jvalue::array_v) return false;
    std::string t;
    const jvalue* prev = nullptr;
    for (size_t k = 0; k < revs->items.size(); ++k) {
        const jvalue& rev = revs->items[k];
        const jvalue* info = rev.get("info");
        t += "revision " + std::to_string(k + 1) + " (offset " + rev.str("offset") + ", " + rev.str("xref") + "): ";
        if (k == 0) {
            std::string l = info && info->kind == jvalue::object_v ? listed(*info) : std::string();
            t += info && info->kind == jvalue::object_v ? (l.empty() ? "Info with all fields empty" : l) : "no Info";
        } else {
            t += changes(prev, info);
        }
        t += "\n";
        prev = info;
    }
    if (revs->items.empty()) t += "no revisions: the file has no trailer\n";
    t += items->items.empty() ? "no metadata items\n" : "items:\n";
    for (const jvalue& it : items->items) {
        const std::string kind = it.str("kind");
        t += "  " + kind;
        if (kind != "id") t += " object " + it.str("object");
        t += ", revision " + it.str("revision") + ", owner " + it.str("owner") + ", offset " + it.str("offset");
        const jvalue* reach = it.get("reachable");
        t += reach && reach->b ? ", reachable" : ", unreachable";
        const jvalue* values = it.get("values");
        std::string l = values && values->kind == jvalue::object_v ? listed(*values) : std::string();
        if (kind == "piece_info" && values) {
            l.clear();
            for (const auto& [name, v] : values->members) {
                if (!l.empty()) l += ", ";
                l += name;
                if (!v.text.empty()) l += " (last modified " + v.text + ")";
            }
        }
        if (!l.empty()) t += ": " + l;
        t += "\n";
    }
    *out = std::move(t);
    return true;
}
