// Object discovery: every "N G obj" header of the file becomes a raw row;
// stream extents are settled and candidates inside stream data or without an
// end are removed.
#include <algorithm>
#include <cstring>
#include <utility>

#include "load/load_steps.h"

// First byte of stream data after the keyword "stream" at kw.
pos stream_data_start(const uint8_t* d, pos len, pos kw) {
    pos q = kw + 6;
    if (q >= len) return q;
    pos r = q;
    while (r < len && (d[r] == ' ' || d[r] == '\t')) ++r;
    if (r < len && d[r] == '\r') return r + 1 < len && d[r + 1] == '\n' ? r + 2 : r + 1;
    if (r < len && d[r] == '\n') return r + 1;
    return q + 1;
}

int32_t stream_declared_length(const uint8_t* d, pos len, const obj_entry& row,
                               int32_t (*indirect)(void* ctx, int32_t num), void* ctx) {
    pos end = row.stream_kw;
    for (pos k = name_find(d, row.dict_pos, end, "Length"); k >= 0; k = name_find(d, k + 1, end, "Length")) {
        pos p = k + 8;
        if (p >= end) return -1;
        p = ws_skip(d, p, end);
        if (p >= end) return -1;
        if (d[p] == '[') {
            int32_t last = -1;
            for (++p; p < end && d[p] != ']';) {
                pos p2 = p;
                int32_t v = int_read(d, &p2, end);
                if (v >= 0) last = v;
                p = p2 > p ? p2 : p + 1;
            }
            if (last >= 0) return last;
            continue;
        }
        if (!is_digit(d[p]) && d[p] != '-') continue;
        int32_t n = int_read(d, &p, end);
        if (n < 0) continue;
        pos q = ws_skip(d, p, end);
        if (q < end && is_digit(d[q])) {
            int_read(d, &q, end);
            q = ws_skip(d, q, end);
            if (q < end && d[q] == 'R' && (q + 1 >= len || !is_word(d[q + 1]))) return indirect(ctx, n);
        }
        return n;
    }
    return -1;
}

namespace {

// Every whole-word occurrence of a keyword, in file order, so that "the first
// occurrence at or after x" is a bisection instead of a fresh search.
struct kw_index {
    std::vector<pos> hits;

    pos next_at(pos from) const {
        auto it = std::lower_bound(hits.begin(), hits.end(), std::max(from, pos{0}));
        return it == hits.end() ? -1 : *it;
    }
};

// The whole-word "endstream" positions, gathered on first use: only streams
// whose declared length does not fit need them.
struct lazy_kw_index {
    const uint8_t* d;
    pos len;
    const char* kw;
    bool built = false;
    kw_index idx{};

    pos next_at(pos from) {
        if (!built) {
            built = true;
            for (pos p = kw_find(d, 0, len, kw); p >= 0; p = kw_find(d, p + 1, len, kw)) idx.hits.push_back(p);
        }
        return idx.next_at(from);
    }
};

// One pass over the file for the byte "j" (rare in text, unlike "o"): the
// positions where the whole word "obj" may start a candidate, and every
// whole-word "endobj".
struct obj_keywords {
    std::vector<pos> obj;
    kw_index endobj;
};

obj_keywords find_obj_keywords(const uint8_t* d, pos len) {
    obj_keywords k;
    for (pos j = 2; j < len; ++j) {
        const void* hit = std::memchr(d + j, 'j', static_cast<size_t>(len - j));
        if (!hit) break;
        j = static_cast<const uint8_t*>(hit) - d;
        pos i = j - 2;
        if (d[i] != 'o' || d[i + 1] != 'b') continue;
        bool ends_word = i + 3 == len || !is_word(d[i + 3]);
        if (!ends_word) continue;
        if (i == 0 || !is_word(d[i - 1])) {
            if (i + 4 <= len) k.obj.push_back(i);  // candidates stop 4 bytes before the end
        } else if (i >= 3 && std::memcmp(d + i - 3, "end", 3) == 0 && (i == 3 || !is_word(d[i - 4]))) {
            k.endobj.hits.push_back(i - 3);
        }
    }
    return k;
}

// Reads "num gen" backwards from the byte before "obj" at i. Returns false
// for anything that is not two white-space separated digit runs.
bool read_header_back(const uint8_t* d, pos i, obj_entry* row) {
    pos p = i - 1;
    if (p <= 0) return false;
    while (is_ascii_ws(d[p])) {
        if (--p == 0) return false;
    }
    if (!is_digit(d[p])) return false;
    pos gen_end = p + 1;
    while (p > 0 && is_digit(d[p - 1])) --p;
    if (p == 0) return false;
    pos gen_start = p;
    pos q = p - 1;
    if (q <= 0 || !is_ascii_ws(d[q])) return false;
    while (q > 0 && is_ascii_ws(d[q])) --q;
    pos s;
    pos num_end;
    if (q == 0) {
        if (!is_digit(d[0])) return false;
        s = 0, num_end = 1;
    } else {
        if (!is_digit(d[q])) return false;
        num_end = q + 1;
        s = q;
        while (s > 0 && is_digit(d[s - 1])) --s;
        if (s > 0 && is_word(d[s - 1])) return false;
    }
    uint32_t num = 0, gen = 0;
    for (pos k = s; k < num_end; ++k) num = num * 10u + static_cast<uint32_t>(d[k] - '0');
    for (pos k = gen_start; k < gen_end; ++k) gen = gen * 10u + static_cast<uint32_t>(d[k] - '0');
    if (static_cast<int32_t>(num) <= 0) return false;
    row->num = static_cast<int32_t>(num);
    row->gen = static_cast<int32_t>(gen);
    row->obj_pos = s;
    return true;
}

// The scan: one row per "obj" keyword preceded by an object and a generation
// number. Streams get their data start here and their end later.
// Appends the candidate rows; returns the indexes of the stream rows.
std::vector<size_t> scan_candidates(pdf_doc* doc, const obj_keywords& kws) {
    std::vector<size_t> streams;
    const uint8_t* d = doc->data;
    pos len = doc->len;
    dict_closer& closer = doc->dicts;
    closer.attach(d, len);
    // The "endobj" searches start at increasing positions (each candidate's
    // start lies beyond the previous one's dictionary start), so one cursor
    // walks the list of "endobj" positions once.
    const std::vector<pos>& ends = kws.endobj.hits;
    size_t cursor = 0;
    auto next_endobj = [&](pos from) {
        while (cursor < ends.size() && ends[cursor] < from) ++cursor;
        return cursor < ends.size() ? ends[cursor] : -1;
    };
    try {
        doc->objs.reserve(doc->objs.size() + kws.obj.size());  // address space only until rows are written
    } catch (const std::bad_alloc&) {
    }
    for (pos i : kws.obj) {
        obj_entry row;
        if (!read_header_back(d, i, &row)) continue;
        pos j = ws_skip(d, i + 3, len);
        if (j + 1 < len && d[j] == '<' && d[j + 1] == '<') {
            row.dict_pos = j;
            row.stream_kw = closer.stream_kw(j);
            if (row.stream_kw >= 0) {
                row.has_stream = 1;
                row.data_start = stream_data_start(d, len, row.stream_kw);
                streams.push_back(doc->objs.size());
                doc->objs.push_back(row);
                continue;
            }
            row.endobj_pos = next_endobj(j);
        } else {
            row.endobj_pos = next_endobj(i + 3);
        }
        if (row.endobj_pos >= 0) doc->objs.push_back(row);
    }
    return streams;
}

// First raw row for an object number, answered from a sorted copy of the table.
struct num_index {
    std::vector<std::pair<int32_t, size_t>> rows;  // (num, row index), sorted
    bool built = false;

    const obj_entry* find(const obj_table& objs, int32_t num) {
        if (!built) {
            built = true;
            try {
                rows.reserve(objs.size());
                for (size_t k = 0; k < objs.size(); ++k) rows.emplace_back(objs[k].num, k);
                std::sort(rows.begin(), rows.end());
            } catch (...) {
                rows.clear();
            }
        }
        if (rows.empty() && !objs.empty()) {
            // Index unavailable: search the table directly.
            for (const obj_entry& e : objs)
                if (e.num == num) return &e;
            return nullptr;
        }
        auto it = std::lower_bound(rows.begin(), rows.end(), std::make_pair(num, size_t{0}));
        return it != rows.end() && it->first == num ? &objs[it->second] : nullptr;
    }
};

// The integer value of the direct object that starts at obj_pos ("N G obj V").
int32_t direct_int_value(const uint8_t* d, pos len, pos obj_pos) {
    pos p = obj_value_start(d, obj_pos, len);
    return int_read(d, &p, len);
}

// The declared /Length of a stream row, or -1 when it cannot be used; an
// indirect one is the direct integer of the first raw row of its number.
int32_t declared_length(const pdf_doc& doc, const obj_entry& row, num_index* nums) {
    struct ctx {
        const pdf_doc& doc;
        num_index* nums;
    } c{doc, nums};
    auto indirect = [](void* p, int32_t n) -> int32_t {
        const ctx& k = *static_cast<const ctx*>(p);
        const obj_entry* target = k.nums->find(k.doc.objs, n);
        if (!target || target->has_stream) return -1;
        int32_t v = direct_int_value(k.doc.data, k.doc.len, target->obj_pos);
        return v >= 0 ? v : -1;
    };
    return stream_declared_length(doc.data, doc.len, row, indirect, &c);
}

// data_end of a stream: the declared length when "endstream" follows it,
// else the first "endstream" after the data start, without one end-of-line
// marker; the file end when there is none.
pos stream_data_end(const pdf_doc& doc, const obj_entry& row, int32_t length, lazy_kw_index* endstream) {
    const uint8_t* d = doc.data;
    pos len = doc.len;
    if (length >= 0 && row.data_start + length <= len) {
        pos e = row.data_start + length;
        pos p = e;
        while (p < len && is_ascii_ws(d[p])) ++p;
        if (p + 9 <= len && std::memcmp(d + p, "endstream", 9) == 0) return e;
    }
    pos f = endstream->next_at(row.data_start + 1);
    if (f < 0) return len;
    if (f - 1 >= 0 && d[f - 1] == '\n') {
        if (row.data_start < f - 1 && d[f - 2] == '\r') return f - 2;
        return f - 1;
    }
    if (f - 1 >= 0 && d[f - 1] == '\r') return f - 1;
    return f;
}

// Settles the extent of every stream row (listed in `streams`, table order).
void settle_streams(pdf_doc* doc, const std::vector<size_t>& streams, const kw_index& endobj) {
    lazy_kw_index endstream{doc->data, doc->len, "endstream"};
    num_index nums;
    for (size_t k : streams) {
        obj_entry& row = doc->objs[k];
        int32_t length = declared_length(*doc, row, &nums);
        row.data_end = std::max(stream_data_end(*doc, row, length, &endstream), row.data_start);
        row.stream_len = row.data_end - row.data_start;
        row.endobj_pos = endobj.next_at(row.data_end + 1);
    }
}

bool row_is_broken(const obj_entry& e) { return e.has_stream && e.endobj_pos < 0; }

bool has_range(const obj_entry& e) { return e.has_stream && e.data_start >= 0 && e.data_start < e.data_end; }

// The data ranges of the streams sorted by start, each with the running
// maximum of the ends up to it, so "inside some range" is one bisection.
struct stream_ranges {
    std::vector<std::pair<pos, pos>> r;  // (start, greatest end so far)

    stream_ranges(const obj_table& objs, const std::vector<size_t>& streams) {
        for (size_t k : streams)
            if (has_range(objs[k])) r.emplace_back(objs[k].data_start, objs[k].data_end);
        // Rows come in file order, so the ranges usually are sorted already.
        if (!std::is_sorted(r.begin(), r.end())) std::sort(r.begin(), r.end());
        for (size_t k = 1; k < r.size(); ++k) r[k].second = std::max(r[k].second, r[k - 1].second);
    }
    bool holds(pos p) const {
        auto it = std::upper_bound(r.begin(), r.end(), p,
                                   [](pos q, const std::pair<pos, pos>& x) { return q < x.first; });
        return it != r.begin() && p < std::prev(it)->second;
    }
};

// Removes rows that lie inside stream data and streams without "endobj",
// keeping the order of the rows that remain. The ranges of removed rows
// still count: they are all collected before any row moves.
void remove_false_rows(pdf_doc* doc, const std::vector<size_t>& streams) {
    obj_table& objs = doc->objs;
    size_t w = 0;
    try {
        stream_ranges ranges(objs, streams);
        for (size_t k = 0; k < objs.size(); ++k) {
            const obj_entry& e = objs[k];
            if (row_is_broken(e) || ranges.holds(e.obj_pos)) continue;
            if (w != k) objs[w] = e;
            ++w;
        }
    } catch (const std::bad_alloc&) {
        // No memory for the ranges: mark by comparing with every stream
        // directly (num 0 = removed), then close the gaps.
        for (obj_entry& e : objs) {
            bool inside = false;
            for (size_t k : streams) {
                const obj_entry& s = objs[k];
                if (has_range(s) && s.data_start <= e.obj_pos && e.obj_pos < s.data_end) inside = true;
            }
            if (row_is_broken(e) || inside) e.num = 0;
        }
        for (size_t k = 0; k < objs.size(); ++k) {
            if (objs[k].num == 0) continue;
            if (w != k) objs[w] = objs[k];
            ++w;
        }
    }
    objs.resize(w);
}

}  // namespace

void scan_objects(pdf_doc* doc) {
    obj_keywords kws = find_obj_keywords(doc->data, doc->len);
    std::vector<size_t> streams = scan_candidates(doc, kws);
    settle_streams(doc, streams, kws.endobj);
    remove_false_rows(doc, streams);
}
