// Copying a value with dictionary entries left out: a descent through its
// dictionaries and arrays, everything else copied by the measure of the
// value reader.
#include "write/dict_strip.h"

#include <algorithm>

#include "load/graph.h"

namespace {

constexpr int DEPTH_MAX = 64;  // deeper containers are copied whole

struct stripper {
    const uint8_t* t;
    pos end;
    const strip_keys& keys;
    std::string& out;
    bool removed = false;

    void copy(pos from, pos to) { out.append(reinterpret_cast<const char*>(t + from), static_cast<size_t>(to - from)); }

    static bool listed(const std::vector<std::string_view>& set, std::string_view k) {
        return std::find(set.begin(), set.end(), k) != set.end();
    }

    // Copies the value at p; its end, or -1 when it cannot be measured.
    pos value(pos p, int depth) {
        if (p >= end) return -1;
        const bool dict = t[p] == '<' && p + 1 < end && t[p + 1] == '<';
        if (depth < DEPTH_MAX && dict) return dictionary(p, depth);
        if (depth < DEPTH_MAX && t[p] == '[') return array(p, depth);
        pos e = graph_detail::val_end(t, p, end);
        if (e <= p) return -1;
        copy(p, e);
        return e;
    }

    pos dictionary(pos p, int depth) {
        out += "<<";
        p += 2;
        for (;;) {
            pos q = graph_detail::skip_ws_comments(t, p, end);
            copy(p, q);
            p = q;
            if (p >= end) return -1;
            if (t[p] == '>') {
                if (p + 1 >= end || t[p + 1] != '>') return -1;
                out += ">>";
                return p + 2;
            }
            if (t[p] != '/') return -1;
            pos ke = graph_detail::regular_run_end(t, p + 1, end);
            std::string key = graph_detail::name_bytes(t, p + 1, ke);
            pos v = graph_detail::skip_ws_comments(t, ke, end);
            if (listed(keys.anywhere, key) || (depth == 0 && listed(keys.outer, key))) {
                pos ve = graph_detail::val_end(t, v, end);
                if (ve <= v) return -1;
                removed = true;
                p = ve;
                continue;
            }
            copy(p, v);
            p = value(v, depth + 1);
            if (p < 0) return -1;
        }
    }

    pos array(pos p, int depth) {
        out += '[';
        ++p;
        for (;;) {
            pos q = graph_detail::skip_ws_comments(t, p, end);
            copy(p, q);
            p = q;
            if (p >= end) return -1;
            if (t[p] == ']') {
                out += ']';
                return p + 1;
            }
            p = value(p, depth + 1);
            if (p < 0) return -1;
        }
    }
};

}  // namespace

bool strip_entries(const uint8_t* t, pos p, pos end, const strip_keys& keys, std::string* out) {
    out->clear();
    stripper s{t, end, keys, *out};
    return s.value(p, 0) >= 0 && s.removed;
}
