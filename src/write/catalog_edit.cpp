// Taking /Metadata references out of a catalog and putting a new one in.
#include "write/catalog_edit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "syntax/lexer.h"

namespace {

constexpr int32_t METADATA_KEY_LEN = 9;  // "/Metadata"

// Tests the /Metadata key whose solidus is at p. Returns the end of the bytes
// to remove (key, reference and the white space after the R) or -1 when no
// reference follows; *reach is one past the last byte the test looked at.
int32_t metadata_ref_end(const uint8_t* t, int32_t n, int32_t p, int32_t* reach) {
    int32_t v = skip_ws(t, p + METADATA_KEY_LEN, n);
    *reach = v + 1;
    if (v >= n || !is_digit(t[v]) || parse_ref_at(t, n, v) <= 0) {
        // parse_ref_at reads at most: digits, white space, digits, white space, R, one byte.
        int32_t i = v;
        for (int part = 0; part < 2 && i < n; ++part) {
            while (i < n && is_digit(t[i])) ++i;
            i = skip_ws(t, i, n);
        }
        *reach = std::max(*reach, i + 2);
        return -1;
    }
    int32_t i = v;
    while (i < n && is_digit(t[i])) ++i;
    i = skip_ws(t, i, n);
    if (i < n && is_digit(t[i])) {
        while (i < n && is_digit(t[i])) ++i;
        i = skip_ws(t, i, n);
    }
    // parse_ref_at accepted, so t[i] is the R.
    *reach = i + 2;
    return skip_ws(t, i + 1, n);
}

struct pending_key {
    int32_t pos;    // solidus of a /Metadata key left in place
    int32_t reach;  // one past the last byte its test looked at
};

// The catalog's own text (edited below): a file-body catalog from its
// dictionary up to endobj, one from an object stream whole.
std::string catalog_text(const pdf_doc& doc, const obj_entry& e) {
    if (e.in_objstm) {
        if (!e.objstm_text || e.objstm_len <= 0) return std::string();
        return std::string(reinterpret_cast<const char*>(e.objstm_text), static_cast<size_t>(e.objstm_len));
    }
    int32_t end = e.endobj_pos > 0 ? e.endobj_pos : doc.len;
    if (end <= e.dict_pos) return std::string();
    return std::string(reinterpret_cast<const char*>(doc.data + e.dict_pos), static_cast<size_t>(end - e.dict_pos));
}

}  // namespace

bool catalog_rewritable(const obj_entry* e) { return e && !e->has_stream && (e->in_objstm || e->dict_pos >= 0); }

std::string catalog_rewrite(const pdf_doc& doc, const obj_entry& e, int32_t xmp_num, int32_t xmp_gen) {
    std::string text = catalog_text(doc, e);
    int32_t n = static_cast<int32_t>(text.size());
    text.push_back('\0');
    dict_remove_metadata_ref(text.data(), &n);
    text.resize(static_cast<size_t>(n));
    if (xmp_num >= 0) {
        int32_t close = find_dict_close(reinterpret_cast<const uint8_t*>(text.data()), 0, n);
        if (close >= 0) {
            char ref[64];
            int k = std::snprintf(ref, sizeof ref, " /Metadata %ld %ld R", static_cast<long>(xmp_num),
                                  static_cast<long>(xmp_gen));
            text.insert(static_cast<size_t>(close), ref, static_cast<size_t>(k));
        }
    }
    return text;
}

// The text is kept as a gap buffer: t[0, g) is the text before the search
// position, t[h, n) the text from it on, and the bytes between are removed.
// Each byte crosses the gap forward once; after a removal the gap moves back
// only over the few bytes whose meaning the removal may change.
void dict_remove_metadata_ref(char* text, int32_t* len) {
    uint8_t* t = reinterpret_cast<uint8_t*>(text);
    int32_t n = *len, g = 0, h = 0;
    auto forward = [&](int32_t k) {
        std::memmove(t + g, t + h, static_cast<size_t>(k));
        g += k;
        h += k;
    };
    auto backward = [&](int32_t k) {
        std::memmove(t + h - k, t + g - k, static_cast<size_t>(k));
        g -= k;
        h -= k;
    };
    std::vector<pending_key> kept;
    for (;;) {
        int32_t q = find_name(t + h, n - h, 0, n - h, "Metadata");
        if (q < 0) break;
        forward(q);
        int32_t reach = 0;
        int32_t e = metadata_ref_end(t + h, n - h, 0, &reach);
        if (e < 0) {
            kept.push_back({g, g + reach});
            forward(1);
            continue;
        }
        h += e;  // drop the key and its reference
        // Closing the gap at p can complete a key that ends just before it, or
        // give a reference to a key whose test read up to p: look at those again.
        int32_t p = g, from = std::max(0, p - METADATA_KEY_LEN);
        while (!kept.empty() && (kept.back().pos >= from || kept.back().reach >= p)) {
            from = std::min(from, kept.back().pos);
            kept.pop_back();
        }
        backward(p - from);
    }
    forward(n - h);
    t[g] = 0;
    *len = g;
}
