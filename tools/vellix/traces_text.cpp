// The timeline built from the report's JSON.
#include "traces_text.h"

#include <vector>

#include "json_value.h"

namespace {

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
    jvalue root;
    if (!json_value_parse(json, &root) || root.kind != jvalue::object_v) return false;
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
