// Taking /Metadata references out of a catalog and putting a new one in.
#include "write/catalog_edit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "syntax/lexer.h"

namespace {

constexpr pos METADATA_KEY_LEN = 9;  // "/Metadata"

// Tests the /Metadata key whose solidus is at p. Returns the end of the bytes
// to remove (key, reference and the white space after the R) or -1 when no
// reference follows; *reach is one past the last byte the test looked at.
pos metadata_ref_end(const uint8_t* t, pos n, pos p, pos* reach) {
    pos v = ws_skip(t, p + METADATA_KEY_LEN, n);
    *reach = v + 1;
    if (v >= n || !is_digit(t[v]) || ref_read(t, v, n) <= 0) {
        // ref_read reads at most: digits, white space, digits, white space, R, one byte.
        pos i = v;
        for (int part = 0; part < 2 && i < n; ++part) {
            while (i < n && is_digit(t[i])) ++i;
            i = ws_skip(t, i, n);
        }
        *reach = std::max(*reach, i + 2);
        return -1;
    }
    pos i = v;
    while (i < n && is_digit(t[i])) ++i;
    i = ws_skip(t, i, n);
    if (i < n && is_digit(t[i])) {
        while (i < n && is_digit(t[i])) ++i;
        i = ws_skip(t, i, n);
    }
    // ref_read accepted, so t[i] is the R.
    *reach = i + 2;
    return ws_skip(t, i + 1, n);
}

struct pending_key {
    pos at;     // solidus of a /Metadata key left in place
    pos reach;  // one past the last byte its test looked at
};

// The catalog's own text (edited below): a file-body catalog from its
// dictionary up to endobj, one from an object stream whole.
std::string catalog_text(const pdf_doc& doc, const obj_entry& e) {
    if (e.in_objstm) {
        if (!e.objstm_text || e.objstm_len <= 0) return std::string();
        return std::string(reinterpret_cast<const char*>(e.objstm_text), static_cast<size_t>(e.objstm_len));
    }
    pos end = e.endobj_pos > 0 ? e.endobj_pos : doc.len;
    if (end <= e.dict_pos) return std::string();
    return std::string(reinterpret_cast<const char*>(doc.data + e.dict_pos), static_cast<size_t>(end - e.dict_pos));
}

// Where the new Metadata reference goes in a catalog text whose first
// dictionary closes at `close`: just before that close, unless an array
// opened inside the dictionary is still open there (a broken catalog such as
// "<</Kids[3 0 R>>"), where the reference would become an array element; then
// just after the dictionary's "<<". *pad is set when a space must follow the
// reference there. Literal strings are passed over as dict_close does.
pos metadata_ref_pos(const uint8_t* t, pos close, bool* pad) {
    *pad = false;
    pos open = -1, depth = 0;
    for (pos i = 0; i < close;) {
        uint8_t c = t[i];
        if (c == '(') {
            pos after = literal_end(t, i, close);
            i = after < 0 ? close : after;
            continue;
        }
        if (c == '<' && t[i + 1] == '<' && open < 0) open = i;
        if (c == '<' || c == '>') {
            i += t[i + 1] == c ? 2 : 1;
        } else {
            if (open >= 0 && c == '[') ++depth;
            if (open >= 0 && c == ']') --depth;
            ++i;
        }
    }
    if (depth <= 0 || open < 0) return close;
    *pad = true;
    return open + 2;
}

}  // namespace

bool catalog_rewritable(const obj_entry* e) { return e && !e->has_stream && (e->in_objstm || e->dict_pos >= 0); }

std::string catalog_rewrite(const pdf_doc& doc, const obj_entry& e, int32_t xmp_num, int32_t xmp_gen) {
    std::string text = catalog_text(doc, e);
    pos n = static_cast<pos>(text.size());
    text.push_back('\0');
    dict_remove_metadata_ref(text.data(), &n);
    text.resize(static_cast<size_t>(n));
    if (xmp_num >= 0) {
        pos close = dict_close(reinterpret_cast<const uint8_t*>(text.data()), 0, n);
        if (close >= 0) {
            bool pad = false;
            pos at = metadata_ref_pos(reinterpret_cast<const uint8_t*>(text.data()), close, &pad);
            char ref[64];
            int k = std::snprintf(ref, sizeof ref, pad ? " /Metadata %ld %ld R " : " /Metadata %ld %ld R",
                                  static_cast<long>(xmp_num), static_cast<long>(xmp_gen));
            text.insert(static_cast<size_t>(at), ref, static_cast<size_t>(k));
        }
    }
    return text;
}

// The text is kept as a gap buffer: t[0, g) is the text before the search
// position, t[h, n) the text from it on, and the bytes between are removed.
// Each byte crosses the gap forward once; after a removal the gap moves back
// only over the few bytes whose meaning the removal may change.
void dict_remove_metadata_ref(char* text, pos* len) {
    uint8_t* t = reinterpret_cast<uint8_t*>(text);
    pos n = *len, g = 0, h = 0;
    auto forward = [&](pos k) {
        std::memmove(t + g, t + h, static_cast<size_t>(k));
        g += k;
        h += k;
    };
    auto backward = [&](pos k) {
        std::memmove(t + h - k, t + g - k, static_cast<size_t>(k));
        g -= k;
        h -= k;
    };
    std::vector<pending_key> kept;
    for (;;) {
        pos q = name_find(t + h, 0, n - h, "Metadata");
        if (q < 0) break;
        forward(q);
        pos reach = 0;
        pos e = metadata_ref_end(t + h, n - h, 0, &reach);
        if (e < 0) {
            kept.push_back({g, g + reach});
            forward(1);
            continue;
        }
        h += e;  // drop the key and its reference
        // Closing the gap at p can complete a key that ends just before it, or
        // give a reference to a key whose test read up to p: look at those again.
        pos p = g, from = std::max<pos>(0, p - METADATA_KEY_LEN);
        while (!kept.empty() && (kept.back().at >= from || kept.back().reach >= p)) {
            from = std::min(from, kept.back().at);
            kept.pop_back();
        }
        backward(p - from);
    }
    forward(n - h);
    t[g] = 0;
    *len = g;
}
