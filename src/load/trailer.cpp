// Trailer facts: /Root, /Info and /Encrypt from the newest cross-reference
// section, following cross-reference streams through /Prev.
#include <string.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "load/load_steps.h"

namespace {

constexpr int MAX_HOPS = 32;

// The integer at a key's value: reading starts `dist` bytes after the key's
// slash and skips white space within the range. -1 when there is no number.
int32_t int_at_key(const pdf_doc& doc, pos key, pos dist, pos end) {
    pos p = key + dist;
    if (p < end) p = ws_skip(doc.data, p, end);
    int32_t v = int_read(doc.data, &p, doc.len);
    // Digits running into the end of the file may be cut short (an appended
    // update cut by a crash): they name no object.
    return p >= doc.len ? -1 : v;
}

// First occurrence of /name in [start, end), -1 when none.
pos key_in(const pdf_doc& doc, pos start, pos end, const char* name) {
    return name_find(doc.data, start, std::min(end, doc.len), name);
}

void note_encrypt(pdf_doc* doc, pos start, pos end) {
    pos k = key_in(*doc, start, end, "Encrypt");
    if (k < 0) return;
    doc->encrypted = 1;
    if (doc->encrypt_obj < 0) {
        int32_t v = int_at_key(*doc, k, 8, end);
        if (v > 0) doc->encrypt_obj = v;
    }
}

// The matches of one key within [start, end), in order, with the integer at
// each value. For any p >= start, the matches at or after p are exactly what
// a search of [p, end) finds, so trailers sharing one range end share this list.
struct key_hits {
    std::vector<pos> at;
    std::vector<int32_t> val;
    std::vector<int64_t> next_usable;  // index of the first match >= i with val >= 0, or -1

    key_hits(const pdf_doc& doc, pos start, pos end, const char* name, pos dist) {
        for (pos k = key_in(doc, start, end, name); k >= 0; k = key_in(doc, k + 1, end, name)) {
            at.push_back(k);
            val.push_back(int_at_key(doc, k, dist, end));
        }
        next_usable.assign(at.size(), -1);
        for (size_t i = at.size(); i-- > 0;)
            next_usable[i] = val[i] >= 0 ? static_cast<int64_t>(i) : i + 1 < at.size() ? next_usable[i + 1] : -1;
    }
    // Index of the first match at or after p, or -1.
    int64_t first_from(pos p) const {
        auto it = std::lower_bound(at.begin(), at.end(), p);
        return it == at.end() ? -1 : static_cast<int64_t>(it - at.begin());
    }
    // The first non-negative value of a match at or after p, or -1.
    int32_t first_usable_from(pos p) const {
        int64_t i = first_from(p);
        return i < 0 || next_usable[i] < 0 ? -1 : val[next_usable[i]];
    }
};

// The keys of the trailers whose dictionaries end at one "startxref" (or the
// file end).
struct trailer_group {
    pos end;
    key_hits root, info, encrypt;
    trailer_group(const pdf_doc& doc, pos start, pos e)
        : end(e), root(doc, start, e, "Root", 6), info(doc, start, e, "Info", 6), encrypt(doc, start, e, "Encrypt", 8) {}
};

// One trailer whose dictionary starts at p. keep_root / keep_info: values
// learnt from newer cross-reference streams, which must not be replaced.
void read_trailer(pdf_doc* doc, const trailer_group& g, pos p, bool keep_root, bool keep_info) {
    if (!keep_root) {
        int32_t v = g.root.first_usable_from(p);
        if (v >= 0) doc->trailer_root = v;
    }
    if (!keep_info) {
        int32_t v = g.info.first_usable_from(p);
        if (v >= 0) doc->trailer_info = v;
    }
    int64_t i = g.encrypt.first_from(p);
    if (i < 0) return;
    doc->encrypted = 1;
    if (doc->encrypt_obj < 0 && g.encrypt.val[i] > 0) doc->encrypt_obj = g.encrypt.val[i];
}

// A classic section at x: its first trailer and every later one, in file
// order; the last trailer naming /Root or /Info decides it.
void read_classic(pdf_doc* doc, pos x) {
    const uint8_t* d = doc->data;
    pos len = doc->len;
    bool keep_root = doc->trailer_root >= 0;
    bool keep_info = doc->trailer_info >= 0;
    std::optional<trailer_group> group;
    pos sx = -2;  // cached next "startxref" at or after the last p (-1: none left)
    for (pos t = kw_find(d, x + 4, len, "trailer"); t >= 0; t = kw_find(d, t + 1, len, "trailer")) {
        pos p = ws_skip(d, t + 7, len);
        if (p >= len) continue;
        if (sx == -2 || (sx >= 0 && sx < p)) sx = kw_find(d, p, len, "startxref");
        pos end = sx > 0 ? sx : len;
        if (end <= p || d[p] != '<') continue;
        if (!group || group->end != end) group.emplace(*doc, p, end);
        read_trailer(doc, *group, p, keep_root, keep_info);
    }
}

// A cross-reference stream object at h (a digit). Returns the /Prev offset to
// follow, or -1 to end the walk. Counts the hop in *hops.
pos read_xref_stream(pdf_doc* doc, pos h, int* hops) {
    const uint8_t* d = doc->data;
    pos len = doc->len;
    pos p = obj_numbers_end(d, h, len);
    ++*hops;
    if (!kw_is(d, p, len, "obj")) return -1;
    pos ds = ws_skip(d, p + 3, len);
    pos end = len;
    if (ds < len && d[ds] == '<') {
        pos s = stream_kw_after(d, ds, len);
        if (s > 0) end = s;
    }
    pos prev = -1;
    pos k = key_in(*doc, ds, end, "Prev");
    if (k >= 0) {
        pos q = k + 5;
        if (q < end) q = ws_skip(d, q, end);
        pos v = offset_read(d, &q, len);
        if (v >= 0 && v < len) prev = v;
    }
    k = key_in(*doc, ds, end, "Root");
    if (k >= 0) {
        int32_t v = int_at_key(*doc, k, 6, end);
        if (doc->trailer_root < 0 && v >= 0) doc->trailer_root = v;
    }
    k = key_in(*doc, ds, end, "Info");
    if (k >= 0) {
        int32_t v = int_at_key(*doc, k, 5, end);
        if (doc->trailer_info < 0 && v >= 0) doc->trailer_info = v;
    }
    note_encrypt(doc, ds, end);
    return prev;
}

// The last whole-word "startxref", searched from the end of the file (the
// same one a forward search would end with), or -1.
pos last_startxref(const uint8_t* d, pos len) {
    for (pos end = len - 8; end > 0;) {  // candidates start below end
        const void* hit = memrchr(d, 's', static_cast<size_t>(end));
        if (!hit) return -1;
        pos p = static_cast<const uint8_t*>(hit) - d;
        if (kw_is(d, p, len, "startxref")) return p;
        end = p;
    }
    return -1;
}

// Offset named by the last "startxref", or -1.
pos newest_section(const pdf_doc& doc) {
    pos last = last_startxref(doc.data, doc.len);
    if (last < 0) return -1;
    pos p = last + 9;
    pos h = offset_read(doc.data, &p, doc.len);
    return h >= 0 && h < doc.len ? h : -1;
}

}  // namespace

void trailer_read(pdf_doc* doc) {
    pos h = newest_section(*doc);
    int hops = 0;
    while (h >= 0 && h < doc->len && hops < MAX_HOPS) {
        pos p = ws_skip(doc->data, h, doc->len);
        if (p >= doc->len) return;
        if (kw_is(doc->data, p, doc->len, "xref")) return read_classic(doc, p);
        if (!is_digit(doc->data[p])) return;
        h = read_xref_stream(doc, p, &hops);
    }
}
