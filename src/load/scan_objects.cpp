// Object discovery: every "N G obj" header of the file becomes a raw row;
// stream extents are settled and candidates inside stream data or without an
// end are removed.
#include <algorithm>
#include <cstring>
#include <utility>

#include "load/load_steps.h"
#include "syntax/lexer.h"

namespace {

// Every whole-word occurrence of a keyword, in file order, so that "the first
// occurrence at or after x" is a bisection instead of a fresh search.
struct kw_index {
    std::vector<int32_t> hits;

    int32_t next_at(int32_t from) const {
        auto it = std::lower_bound(hits.begin(), hits.end(), std::max(from, 0));
        return it == hits.end() ? -1 : *it;
    }
};

// The whole-word "endstream" positions, gathered on first use: only streams
// whose declared length does not fit need them.
struct lazy_kw_index {
    const uint8_t* d;
    int32_t len;
    const char* kw;
    bool built = false;
    kw_index idx{};

    int32_t next_at(int32_t from) {
        if (!built) {
            built = true;
            for (int32_t p = find_kw(d, len, 0, kw); p >= 0; p = find_kw(d, len, p + 1, kw)) idx.hits.push_back(p);
        }
        return idx.next_at(from);
    }
};

// One pass over the file for the byte "j" (rare in text, unlike "o"): the
// positions where the whole word "obj" may start a candidate, and every
// whole-word "endobj".
struct obj_keywords {
    std::vector<int32_t> obj;
    kw_index endobj;
};

obj_keywords find_obj_keywords(const uint8_t* d, int32_t len) {
    obj_keywords k;
    for (int32_t j = 2; j < len; ++j) {
        const void* hit = std::memchr(d + j, 'j', static_cast<size_t>(len - j));
        if (!hit) break;
        j = static_cast<int32_t>(static_cast<const uint8_t*>(hit) - d);
        int32_t i = j - 2;
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
bool read_header_back(const uint8_t* d, int32_t i, obj_entry* row) {
    int32_t p = i - 1;
    if (p <= 0) return false;
    while (is_ascii_ws(d[p])) {
        if (--p == 0) return false;
    }
    if (!is_digit(d[p])) return false;
    int32_t gen_end = p + 1;
    while (p > 0 && is_digit(d[p - 1])) --p;
    if (p == 0) return false;
    int32_t gen_start = p;
    int32_t q = p - 1;
    if (q <= 0 || !is_ascii_ws(d[q])) return false;
    while (q > 0 && is_ascii_ws(d[q])) --q;
    int32_t s;
    int32_t num_end;
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
    for (int32_t k = s; k < num_end; ++k) num = num * 10u + static_cast<uint32_t>(d[k] - '0');
    for (int32_t k = gen_start; k < gen_end; ++k) gen = gen * 10u + static_cast<uint32_t>(d[k] - '0');
    if (static_cast<int32_t>(num) <= 0) return false;
    row->num = static_cast<int32_t>(num);
    row->gen = static_cast<int32_t>(gen);
    row->obj_pos = s;
    return true;
}

void fail_all(std::vector<int32_t>* open, std::unordered_map<int32_t, int32_t>* memo) {
    for (int32_t p : *open) (*memo)[p] = -1;
    open->clear();
}

}  // namespace

// End of the literal string opened at pos, as skip_literal finds it; nested
// strings met on the way are remembered too.
int32_t dict_closer::string_end(int32_t pos) {
    if (auto it = strings_.find(pos); it != strings_.end()) return it->second;
    open_strings_.assign(1, pos);
    for (int32_t j = pos + 1; j < len_;) {
        uint8_t b = d_[j];
        if (b == '\\') {
            if (j + 1 >= len_) break;
            j += 2;
        } else if (b == '(') {
            auto it = strings_.find(j);
            if (it == strings_.end()) {
                open_strings_.push_back(j++);
            } else if (it->second < 0) {
                break;
            } else {
                j = it->second;
            }
        } else if (b == ')') {
            strings_[open_strings_.back()] = j + 1;
            open_strings_.pop_back();
            if (open_strings_.empty()) return j + 1;
            ++j;
        } else {
            ++j;
        }
    }
    fail_all(&open_strings_, &strings_);
    return -1;
}

int32_t dict_closer::close_remembered(int32_t pos) {
    if (auto it = closes_.find(pos); it != closes_.end()) return it->second;
    open_dicts_.assign(1, pos);
    for (int32_t i = pos + 2; i < len_;) {
        uint8_t c = d_[i];
        if ((c == '<' || c == '>' || c == '(') && i + 1 >= len_) break;
        if (c == '<' && d_[i + 1] == '<') {
            auto it = closes_.find(i);
            if (it == closes_.end()) {
                open_dicts_.push_back(i);
                i += 2;
            } else if (it->second < 0) {
                break;
            } else {
                i = it->second + 2;
            }
        } else if (c == '>' && d_[i + 1] == '>') {
            closes_[open_dicts_.back()] = i;
            open_dicts_.pop_back();
            if (open_dicts_.empty()) {
                reach_ = std::max(reach_, i + 2);
                return i;
            }
            i += 2;
        } else if (c == '(') {
            int32_t j = string_end(i);
            if (j < 0 || j >= len_) break;
            i = j;
        } else {
            ++i;
        }
    }
    reach_ = len_;
    fail_all(&open_dicts_, &closes_);
    return -1;
}

int32_t dict_closer::close(int32_t pos) {
    if (pos < reach_) return close_remembered(pos);
    int32_t r = find_dict_close(d_, pos, len_);
    reach_ = r >= 0 ? r + 2 : len_;
    return r;
}

int32_t dict_closer::stream_kw(int32_t pos) {
    int32_t c = close(pos);
    if (c < 0) return -1;
    int32_t p = skip_ws(d_, c + 2, len_);
    return kw_at(d_, p, len_, "stream") ? p : -1;
}

namespace {

// First byte of stream data after the keyword "stream" at kw.
int32_t stream_data_start(const uint8_t* d, int32_t len, int32_t kw) {
    int32_t q = kw + 6;
    if (q >= len) return q;
    int32_t r = q;
    while (r < len && (d[r] == ' ' || d[r] == '\t')) ++r;
    if (r < len && d[r] == '\r') return r + 1 < len && d[r + 1] == '\n' ? r + 2 : r + 1;
    if (r < len && d[r] == '\n') return r + 1;
    return q + 1;
}

// The scan: one row per "obj" keyword preceded by an object and a generation
// number. Streams get their data start here and their end later.
// Appends the candidate rows; returns the indexes of the stream rows.
std::vector<size_t> scan_candidates(pdf_doc* doc, const obj_keywords& kws) {
    std::vector<size_t> streams;
    const uint8_t* d = doc->data;
    int32_t len = doc->len;
    dict_closer closer(d, len);
    // The "endobj" searches start at increasing positions (each candidate's
    // start lies beyond the previous one's dictionary start), so one cursor
    // walks the list of "endobj" positions once.
    const std::vector<int32_t>& ends = kws.endobj.hits;
    size_t cursor = 0;
    auto next_endobj = [&](int32_t from) {
        while (cursor < ends.size() && ends[cursor] < from) ++cursor;
        return cursor < ends.size() ? ends[cursor] : -1;
    };
    try {
        doc->objs.reserve(doc->objs.size() + kws.obj.size());  // address space only until rows are written
    } catch (const std::bad_alloc&) {
    }
    for (int32_t i : kws.obj) {
        obj_entry row;
        if (!read_header_back(d, i, &row)) continue;
        int32_t j = skip_ws(d, i + 3, len);
        if (j + 1 < len && d[j] == '<' && d[j + 1] == '<') {
            row.dict_pos = j;
            row.stream_kw = closer.stream_kw(j);
            if (row.stream_kw >= 0) {
                row.has_stream = 1;
                row.data_start = stream_data_start(d, len, row.stream_kw);
                size_t before = doc->objs.size();
                vec_push(doc->objs, row);
                if (doc->objs.size() > before) streams.push_back(before);
                continue;
            }
            row.endobj_pos = next_endobj(j);
        } else {
            row.endobj_pos = next_endobj(i + 3);
        }
        if (row.endobj_pos >= 0) vec_push(doc->objs, row);
    }
    return streams;
}

// First raw row for an object number, answered from a sorted copy of the table.
struct num_index {
    std::vector<std::pair<int32_t, int32_t>> rows;  // (num, row index), sorted
    bool built = false;

    const obj_entry* find(const std::vector<obj_entry>& objs, int32_t num) {
        if (!built) {
            built = true;
            try {
                rows.reserve(objs.size());
                for (size_t k = 0; k < objs.size(); ++k) rows.emplace_back(objs[k].num, static_cast<int32_t>(k));
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
        auto it = std::lower_bound(rows.begin(), rows.end(), std::make_pair(num, INT32_MIN));
        return it != rows.end() && it->first == num ? &objs[it->second] : nullptr;
    }
};

// The integer value of the direct object that starts at obj_pos ("N G obj V").
int32_t direct_int_value(const uint8_t* d, int32_t len, int32_t obj_pos) {
    int32_t pos = obj_pos;
    parse_int_at(d, len, &pos);
    pos = skip_ws(d, pos, len);
    if (pos < len && is_digit(d[pos])) parse_int_at(d, len, &pos);
    pos = skip_ws(d, pos, len);
    if (kw_at(d, pos, len, "obj")) pos = skip_ws(d, pos + 3, len);
    return parse_int_at(d, len, &pos);
}

// The declared /Length of a stream row, or -1 when it cannot be used.
int32_t declared_length(const pdf_doc& doc, const obj_entry& row, num_index* nums) {
    const uint8_t* d = doc.data;
    int32_t len = doc.len;
    int32_t end = row.stream_kw;
    for (int32_t k = find_name(d, len, row.dict_pos, end, "Length"); k >= 0;
         k = find_name(d, len, k + 1, end, "Length")) {
        int32_t pos = k + 8;
        if (pos >= end) return -1;
        pos = skip_ws(d, pos, end);
        if (pos >= end) return -1;
        if (d[pos] == '[') {
            int32_t last = -1;
            for (++pos; pos < end && d[pos] != ']';) {
                int32_t p2 = pos;
                int32_t v = parse_int_at(d, end, &p2);
                if (v >= 0) last = v;
                pos = p2 > pos ? p2 : pos + 1;
            }
            if (last >= 0) return last;
            continue;
        }
        if (!is_digit(d[pos]) && d[pos] != '-') continue;
        int32_t n = parse_int_at(d, end, &pos);
        if (n < 0) continue;
        int32_t p = skip_ws(d, pos, end);
        if (p < end && is_digit(d[p])) {
            parse_int_at(d, end, &p);
            p = skip_ws(d, p, end);
            if (p < end && d[p] == 'R' && (p + 1 >= len || !is_word(d[p + 1]))) {
                const obj_entry* target = nums->find(doc.objs, n);
                if (!target || target->has_stream) return -1;
                int32_t v = direct_int_value(d, len, target->obj_pos);
                return v >= 0 ? v : -1;
            }
        }
        return n;
    }
    return -1;
}

// data_end of a stream: the declared length when "endstream" follows it,
// else the first "endstream" after the data start, without one end-of-line
// marker; the file end when there is none.
int32_t stream_data_end(const pdf_doc& doc, const obj_entry& row, int32_t length, lazy_kw_index* endstream) {
    const uint8_t* d = doc.data;
    int32_t len = doc.len;
    if (length >= 0 && static_cast<int64_t>(row.data_start) + length <= len) {
        int32_t e = row.data_start + length;
        int32_t p = e;
        while (p < len && is_ascii_ws(d[p])) ++p;
        if (static_cast<int64_t>(p) + 9 <= len && std::memcmp(d + p, "endstream", 9) == 0) return e;
    }
    int32_t f = endstream->next_at(row.data_start + 1);
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
    std::vector<std::pair<int32_t, int32_t>> r;  // (start, greatest end so far)

    stream_ranges(const std::vector<obj_entry>& objs, const std::vector<size_t>& streams) {
        for (size_t k : streams)
            if (has_range(objs[k])) r.emplace_back(objs[k].data_start, objs[k].data_end);
        std::sort(r.begin(), r.end());
        for (size_t k = 1; k < r.size(); ++k) r[k].second = std::max(r[k].second, r[k - 1].second);
    }
    bool holds(int32_t pos) const {
        auto it = std::upper_bound(r.begin(), r.end(), pos,
                                   [](int32_t p, const std::pair<int32_t, int32_t>& x) { return p < x.first; });
        return it != r.begin() && pos < std::prev(it)->second;
    }
};

// Removes rows that lie inside stream data and streams without "endobj",
// keeping the order of the rows that remain. The ranges of removed rows
// still count: they are all collected before any row moves.
void remove_false_rows(pdf_doc* doc, const std::vector<size_t>& streams) {
    std::vector<obj_entry>& objs = doc->objs;
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
