// Loading through the cross-reference sections: the sections read, every
// object they list read where they say, the layout checked, then the steps
// of doc_load after its scan. The file is mapped with random-access advice so
// that only the pages looked at are read.
#include "load/tail_load.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <vector>

#include "load/graph.h"
#include "load/history.h"
#include "load/load_steps.h"
#include "syntax/inflate.h"

namespace {

constexpr int32_t MAX_OBJ_NUM = 0x7FFFFF;
constexpr size_t MAX_SECTIONS = 256;
constexpr size_t MAX_SUBSECTIONS = 1u << 20;
// The trailers of a table are read from the table to the file end; a table
// further than this from the end is left to the full load.
constexpr pos CLASSIC_TAIL_MAX = 16 << 20;
// A dictionary's close and the endobj after an object are looked for this far.
constexpr pos WINDOW = 1 << 20;
constexpr uint64_t XREF_STREAM_MAX = 256u << 20;  // decoded bytes of one stream section
constexpr pos TABLE_ROW = 20;

// One cross-reference entry: free (0), in the file body at f2 with
// generation f3 (1), or member f3 of object stream f2 (2); -1 when the
// section does not list the number.
struct xref_row {
    int type = -1;
    uint64_t f2 = 0;
    uint64_t f3 = 0;
};

struct subsection {
    int64_t first;
    int64_t count;
    pos rows;  // file position of the first row
};

// The decoded rows of a cross-reference stream.
struct stream_rows {
    std::vector<uint8_t> data;
    int w[3] = {0, 0, 0};
    size_t row_len = 0;
    std::vector<subsection> index;  // rows: index of the first row in data
};

// One section: a table (subs, and the rows of its /XRefStm when hybrid) or
// a stream.
struct section {
    bool table = false;
    std::vector<subsection> subs;
    bool has_stream = false;
    stream_rows stream;
};

uint64_t be_field(const uint8_t* p, int w, uint64_t absent) {
    if (w == 0) return absent;
    uint64_t v = 0;
    for (int i = 0; i < w; ++i) v = (v << 8) | p[i];
    return v;
}

// "oooooooooo ggggg n" and a two-byte end of line.
bool table_row_ok(const uint8_t* r) {
    for (int i = 0; i < 10; ++i)
        if (!is_digit(r[i])) return false;
    if (r[10] != ' ') return false;
    for (int i = 11; i < 16; ++i)
        if (!is_digit(r[i])) return false;
    if (r[16] != ' ' || (r[17] != 'n' && r[17] != 'f')) return false;
    return (r[18] == ' ' && (r[19] == '\n' || r[19] == '\r')) || (r[18] == '\r' && r[19] == '\n');
}

// Undoes the PNG predictors (one byte per pixel) of rows of `cols` bytes.
bool png_unpredict(const std::vector<uint8_t>& in, size_t rows, size_t cols, std::vector<uint8_t>* out) {
    out->assign(rows * cols, 0);
    std::vector<uint8_t> prior(cols, 0);
    for (size_t r = 0; r < rows; ++r) {
        const uint8_t* src = in.data() + r * (cols + 1);
        uint8_t* dst = out->data() + r * cols;
        uint8_t filter = src[0];
        ++src;
        for (size_t i = 0; i < cols; ++i) {
            int a = i ? dst[i - 1] : 0, b = prior[i], c = i ? prior[i - 1] : 0;
            int v = src[i];
            switch (filter) {
                case 0: break;
                case 1: v += a; break;
                case 2: v += b; break;
                case 3: v += (a + b) / 2; break;
                case 4: {
                    int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                    v += pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
                    break;
                }
                default: return false;
            }
            dst[i] = static_cast<uint8_t>(v);
        }
        std::memcpy(prior.data(), dst, cols);
    }
    return true;
}

// The single element of a one-element array, or v itself.
pdf_val sole(pdf_val v) {
    if (!v.is_array()) return v;
    pdf_val one;
    int n = 0;
    array_each(v, [&](pdf_val e) {
        one = e;
        return ++n < 2;
    });
    return n == 1 ? one : pdf_val{};
}

// One object the sections name: where it starts, its number and generation.
struct listed {
    pos off;
    int32_t num;
    int32_t gen;
};

// A span of the file the layout check accounts for.
struct span {
    pos start;
    pos end;
};

constexpr int32_t LENGTH_DEFERRED = -3;

struct loader {
    pdf_doc* doc = nullptr;
    const uint8_t* d = nullptr;
    pos len = 0;
    std::vector<section> sections;  // newest first
    std::vector<span> spans;        // the tables, from "xref" to the close of the trailer
    std::vector<listed> objs;       // every offset of every section, sorted
    int64_t size = 0;                // /Size of the newest section, 0 when it has none
    int32_t max_listed = 0;          // the highest number any section lists in use

    // Where the first direct integer of object n is, for indirect lengths:
    // the scan takes its first raw row (the lowest offset), never a stream.
    obj_table* raw = nullptr;
    std::map<int32_t, size_t> first_of;  // number -> index of its lowest offset in objs
    // A loaded document whose objects give indirect lengths instead (the
    // rows of older revisions are read against it).
    const pdf_doc* lengths_from = nullptr;

    // The object row at o as the scan makes it, for num and gen; *kw_end is
    // where its "obj" keyword ends. False with *deferred set for a stream
    // whose /Length is a reference while `raw` is not yet at hand.
    bool row_at(pos o, int32_t num, int32_t gen, obj_entry* row, pos* kw_end, bool* deferred) const {
        if (o <= 0 || o >= len || !is_digit(d[o]) || is_word(d[o - 1])) return false;
        pos p = o;
        uint32_t n = 0, g = 0;
        int digits = 0;
        while (p < len && is_digit(d[p]) && ++digits <= 9) n = n * 10u + static_cast<uint32_t>(d[p++] - '0');
        if (p >= len || !is_ascii_ws(d[p])) return false;
        while (p < len && is_ascii_ws(d[p])) ++p;
        digits = 0;
        if (p >= len || !is_digit(d[p])) return false;
        while (p < len && is_digit(d[p]) && ++digits <= 9) g = g * 10u + static_cast<uint32_t>(d[p++] - '0');
        if (p >= len || !is_ascii_ws(d[p])) return false;
        while (p < len && is_ascii_ws(d[p])) ++p;
        if (!kw_is(d, p, len, "obj") || p + 4 > len) return false;
        if (static_cast<int32_t>(n) != num || static_cast<int32_t>(g) != gen || num <= 0) return false;
        *row = obj_entry{};
        row->num = num;
        row->gen = gen;
        row->obj_pos = o;
        *kw_end = p + 3;
        pos j = ws_skip(d, p + 3, len);
        if (dict_opens(d, j, len)) {
            if (dict_close(d, j, std::min(len, j + WINDOW)) < 0) return false;
            row->dict_pos = j;
            row->stream_kw = stream_kw_after(d, j, len);
            if (row->stream_kw >= 0) return stream_extent(row, deferred);
            row->endobj_pos = endobj_after(j);
        } else {
            row->endobj_pos = endobj_after(p + 3);
        }
        return row->endobj_pos >= 0;
    }

    // The first whole-word "endobj" at or after from, within WINDOW; -1.
    pos endobj_after(pos from) const {
        pos p = kw_find(d, from, std::min(len, from + WINDOW), "endobj");
        return p >= 0 && kw_is(d, p, len, "endobj") ? p : -1;
    }

    static int32_t length_of(void* ctx, int32_t n) {
        const loader& l = *static_cast<const loader*>(ctx);
        if (!l.raw && l.lengths_from) {
            int64_t v = -1;
            if (!val_int(graph_object(*l.lengths_from, n), &v) || v < 0 || v > INT32_MAX) return -1;
            return static_cast<int32_t>(v);
        }
        if (!l.raw) return LENGTH_DEFERRED;
        auto it = l.first_of.find(n);
        if (it == l.first_of.end()) return -1;
        const obj_entry& t = (*l.raw)[it->second];
        if (t.obj_pos < 0 || t.has_stream) return -1;  // a stream, or itself waiting for a length
        pos p = obj_value_start(l.d, t.obj_pos, l.len);
        int32_t v = int_read(l.d, &p, l.len);
        return v >= 0 ? v : -1;
    }

    // A stream's data by its /Length followed by "endstream", and the endobj
    // after it; false where the scan would search for "endstream" instead.
    bool stream_extent(obj_entry* row, bool* deferred) const {
        row->has_stream = 1;
        row->data_start = stream_data_start(d, len, row->stream_kw);
        int32_t length = stream_declared_length(d, len, *row, length_of, const_cast<loader*>(this));
        if (length == LENGTH_DEFERRED) {
            *deferred = true;
            return false;
        }
        if (length < 0 || row->data_start + length > len) return false;
        pos e = row->data_start + length;
        pos p = e;
        while (p < len && is_ascii_ws(d[p])) ++p;
        if (!(p + 9 <= len && std::memcmp(d + p, "endstream", 9) == 0)) return false;
        row->data_end = std::max(e, row->data_start);
        row->stream_len = row->data_end - row->data_start;
        row->endobj_pos = endobj_after(row->data_end + 1);
        return row->endobj_pos >= 0;
    }

    pdf_val stream_dict(const obj_entry& row) const { return pdf_val{d, row.dict_pos, row.stream_kw}; }

    // A table at p ("xref"): its subsections and where "trailer" stands.
    bool read_table(pos p, section* s, pos* trailer_at) const {
        pos q = p + 4;
        for (;;) {
            q = ws_skip(d, q, len);
            if (kw_is(d, q, len, "trailer")) break;
            if (q >= len || !is_digit(d[q]) || s->subs.size() >= MAX_SUBSECTIONS) return false;
            pos a = q;
            int64_t first = offset_read(d, &a, len);
            if (a >= len || !is_pdf_ws(d[a])) return false;
            int64_t count = offset_read(d, &a, len);
            if (first < 0 || count < 0 || first + count > static_cast<int64_t>(MAX_OBJ_NUM) + 1) return false;
            a = ws_skip(d, a, len);
            if (count > 0 && a + TABLE_ROW * count > len) return false;
            s->subs.push_back({first, count, a});
            q = a + TABLE_ROW * count;
        }
        *trailer_at = q;
        return true;
    }

    // A cross-reference stream object at p: its rows decoded into *out, its
    // dictionary in *dict, its header in *self.
    bool read_stream(pos p, stream_rows* out, pdf_val* dict, listed* self) const {
        pos a = p;
        int32_t num = int_read(d, &a, len);
        a = ws_skip(d, a, len);
        int32_t gen = int_read(d, &a, len);
        obj_entry row;
        pos kw_end = 0;
        bool deferred = false;
        if (num <= 0 || gen < 0 || !row_at(p, num, gen, &row, &kw_end, &deferred) || !row.has_stream) return false;
        *self = {p, num, gen};
        pdf_val dv = stream_dict(row);
        if (val_name(dict_get_raw(dv, "Type")) != "XRef") return false;
        int64_t sz = 0;
        if (!val_int(dict_get_raw(dv, "Size"), &sz) || sz <= 0 || sz > static_cast<int64_t>(MAX_OBJ_NUM) + 1) return false;
        int n = 0;
        bool ok = true;
        array_each(dict_get_raw(dv, "W"), [&](pdf_val e) {
            int64_t v = 0;
            if (n >= 3 || !val_int(e, &v) || v < 0 || v > 8)
                ok = false;
            else
                out->w[n++] = static_cast<int>(v);
            return ok;
        });
        if (!ok || n != 3) return false;
        out->row_len = static_cast<size_t>(out->w[0] + out->w[1] + out->w[2]);
        if (out->w[1] == 0) return false;
        pdf_val index = dict_get_raw(dv, "Index");
        uint64_t total = 0;
        if (!index) {
            out->index.push_back({0, sz, 0});
            total = static_cast<uint64_t>(sz);
        } else {
            std::vector<int64_t> v;
            array_each(index, [&](pdf_val e) {
                int64_t x = 0;
                if (!val_int(e, &x) || x < 0 || x > MAX_OBJ_NUM + 1)
                    ok = false;
                else
                    v.push_back(x);
                return ok;
            });
            if (!ok || v.empty() || v.size() % 2 != 0) return false;
            for (size_t k = 0; k < v.size(); k += 2) {
                if (v[k] + v[k + 1] > static_cast<int64_t>(MAX_OBJ_NUM) + 1) return false;
                out->index.push_back({v[k], v[k + 1], static_cast<pos>(total)});
                total += static_cast<uint64_t>(v[k + 1]);
            }
        }
        // Filters: none, or Flate with at most a PNG predictor over whole rows.
        pdf_val filter_raw = dict_get_raw(dv, "Filter");
        pdf_val filter = sole(filter_raw);
        if (filter_raw && val_name(filter) != "FlateDecode") return false;
        const bool flate = static_cast<bool>(filter_raw);
        bool png = false;
        pdf_val parms_raw = dict_get_raw(dv, "DecodeParms");
        if (parms_raw) {
            pdf_val parms = sole(parms_raw);
            if (!parms.is_dict()) return false;
            int64_t pred = 1, cols = 1, colors = 1, bpc = 8;
            pdf_val v = dict_get_raw(parms, "Predictor");
            if (v && !val_int(v, &pred)) return false;
            if ((v = dict_get_raw(parms, "Columns")) && !val_int(v, &cols)) return false;
            if ((v = dict_get_raw(parms, "Colors")) && !val_int(v, &colors)) return false;
            if ((v = dict_get_raw(parms, "BitsPerComponent")) && !val_int(v, &bpc)) return false;
            if (pred >= 10 && pred <= 15) {
                if (cols != static_cast<int64_t>(out->row_len) || colors != 1 || bpc != 8 || !flate) return false;
                png = true;
            } else if (pred != 1) {
                return false;
            }
        }
        uint64_t want = total * (out->row_len + (png ? 1 : 0));
        if (want > XREF_STREAM_MAX) return false;
        const uint8_t* src = d + row.data_start;
        const auto n_src = static_cast<uint64_t>(row.data_end - row.data_start);
        std::vector<uint8_t> bytes;
        if (flate) {
            bytes.resize(want + 4096);
            uint64_t got = 0;
            if (inflate_decompress(src, n_src, bytes.data(), bytes.size(), &got) != 0 || got < want) return false;
            bytes.resize(want);
        } else {
            if (n_src < want) return false;
            bytes.assign(src, src + want);
        }
        if (png) {
            if (!png_unpredict(bytes, total, out->row_len, &out->data)) return false;
        } else {
            out->data = std::move(bytes);
        }
        *dict = dv;
        return true;
    }

    // Dictionary at p that closes within WINDOW, as a value; none otherwise.
    pdf_val closed_dict(pos p) const {
        p = ws_skip(d, p, len);
        if (!dict_opens(d, p, len)) return {};
        pos close = dict_close(d, p, std::min(len, p + WINDOW));
        return close < 0 ? pdf_val{} : pdf_val{d, p, close + 2};
    }

    // Every section from the last startxref through /Prev, with the
    // /XRefStm stream of a table; the offsets of the streams go to objs.
    bool read_sections() {
        pos sx = -1;
        for (pos end = len - 8; end > 0;) {
            const void* hit = memrchr(d, 's', static_cast<size_t>(end));
            if (!hit) break;
            pos p = static_cast<const uint8_t*>(hit) - d;
            if (kw_is(d, p, len, "startxref")) {
                sx = p;
                break;
            }
            end = p;
        }
        if (sx < 0) return false;
        pos q = sx + 9;
        pos h = offset_read(d, &q, len);
        if (h < 0 || h >= len) return false;
        std::vector<pos> seen;
        while (h >= 0) {
            if (sections.size() >= MAX_SECTIONS || std::find(seen.begin(), seen.end(), h) != seen.end()) return false;
            seen.push_back(h);
            pos p = ws_skip(d, h, len);
            section s;
            pdf_val dict;
            listed self{};
            if (kw_is(d, p, len, "xref")) {
                // The loader reads the trailers from the first table of the walk to the file end.
                bool first_table = std::none_of(sections.begin(), sections.end(), [](const section& x) { return x.table; });
                if (first_table && len - p > CLASSIC_TAIL_MAX) return false;
                s.table = true;
                pos t = -1;
                if (!read_table(p, &s, &t)) return false;
                dict = closed_dict(t + 7);
                if (!dict) return false;
                spans.push_back({p, dict.end});
                pdf_val xs = dict_get_raw(dict, "XRefStm");
                if (xs) {
                    int64_t at = 0;
                    if (!val_int(xs, &at) || at < 0 || at >= len) return false;
                    pos sp = ws_skip(d, at, len);
                    pdf_val sdict;
                    if (sp >= len || !is_digit(d[sp]) || !read_stream(sp, &s.stream, &sdict, &self)) return false;
                    s.has_stream = true;
                    objs.push_back(self);
                }
            } else if (p < len && is_digit(d[p])) {
                s.has_stream = true;
                if (!read_stream(p, &s.stream, &dict, &self)) return false;
                objs.push_back(self);
            } else {
                return false;
            }
            if (sections.empty()) {
                int64_t v = 0;
                if (val_int(dict_get_raw(dict, "Size"), &v) && v > 0 && v <= static_cast<int64_t>(MAX_OBJ_NUM) + 1)
                    size = v;
            }
            sections.push_back(std::move(s));
            pdf_val prev = dict_get_raw(dict, "Prev");
            h = -1;
            if (prev) {
                int64_t v = 0;
                if (!val_int(prev, &v) || v < 0 || v >= len) return false;
                h = static_cast<pos>(v);
            }
        }
        return true;
    }

    // The in-use rows of every section into objs (free rows name no object),
    // sorted by offset; one offset naming two objects is refused.
    bool list_objects() {
        for (const section& s : sections) {
            for (const subsection& sub : s.subs) {
                for (int64_t k = 0; k < sub.count; ++k) {
                    const uint8_t* t = d + sub.rows + TABLE_ROW * k;
                    if (!table_row_ok(t)) return false;
                    if (t[17] != 'n') continue;
                    max_listed = std::max(max_listed, static_cast<int32_t>(sub.first + k));
                    int64_t off = 0, gen = 0;
                    for (int i = 0; i < 10; ++i) off = off * 10 + (t[i] - '0');
                    for (int i = 11; i < 16; ++i) gen = gen * 10 + (t[i] - '0');
                    objs.push_back({off, static_cast<int32_t>(sub.first + k), static_cast<int32_t>(gen)});
                }
            }
            if (!s.has_stream) continue;
            const stream_rows& r = s.stream;
            for (const subsection& sub : r.index) {
                for (int64_t k = 0; k < sub.count; ++k) {
                    const uint8_t* t = r.data.data() + (static_cast<size_t>(sub.rows) + static_cast<size_t>(k)) * r.row_len;
                    uint64_t type = be_field(t, r.w[0], 1);
                    if (type > 2) return false;
                    if (type != 0) max_listed = std::max(max_listed, static_cast<int32_t>(sub.first + k));
                    if (type != 1) continue;
                    uint64_t off = be_field(t + r.w[0], r.w[1], 0);
                    uint64_t gen = be_field(t + r.w[0] + r.w[1], r.w[2], 0);
                    if (off >= static_cast<uint64_t>(len) || gen > 65535) return false;
                    objs.push_back({static_cast<pos>(off), static_cast<int32_t>(sub.first + k), static_cast<int32_t>(gen)});
                }
            }
        }
        std::sort(objs.begin(), objs.end(), [](const listed& a, const listed& b) {
            return a.off != b.off ? a.off < b.off : a.num != b.num ? a.num < b.num : a.gen < b.gen;
        });
        size_t w = 0;
        for (size_t k = 0; k < objs.size(); ++k) {
            if (w > 0 && objs[w - 1].off == objs[k].off) {
                if (objs[w - 1].num != objs[k].num || objs[w - 1].gen != objs[k].gen) return false;
                continue;
            }
            objs[w++] = objs[k];
        }
        objs.resize(w);
        for (size_t k = 0; k < objs.size(); ++k) {
            first_of.emplace(objs[k].num, k);
            max_listed = std::max(max_listed, objs[k].num);  // stream sections themselves included
        }
        return true;
    }

    // Whether d[a, b) holds only white space, comments and startxref lines,
    // and no "obj" (the scan would see a header there).
    bool gap_ok(pos a, pos b) const {
        if (a > b) return false;
        if (b - a >= 3 && memmem(d + a, static_cast<size_t>(b - a), "obj", 3)) return false;
        for (pos p = a; p < b;) {
            if (is_pdf_ws(d[p])) {
                ++p;
            } else if (d[p] == '%') {
                while (p < b && d[p] != '\r' && d[p] != '\n') ++p;
            } else if (kw_is(d, p, b, "startxref")) {
                p = ws_skip(d, p + 9, b);
                while (p < b && is_digit(d[p])) ++p;
            } else {
                return false;
            }
        }
        return true;
    }

    // No "obj" in d[a, b) (a header the scan would find inside an object).
    bool no_obj(pos a, pos b) const {
        return b - a < 3 || !memmem(d + a, static_cast<size_t>(b - a), "obj", 3);
    }

    // The rows of every listed object, in file order, after the layout check.
    bool build_rows(obj_table* rows) {
        rows->assign(objs.size(), obj_entry{});
        std::vector<pos> kw_end(objs.size());
        std::vector<size_t> waiting;
        for (size_t k = 0; k < objs.size(); ++k) {
            bool deferred = false;
            if (!row_at(objs[k].off, objs[k].num, objs[k].gen, &(*rows)[k], &kw_end[k], &deferred)) {
                if (!deferred) return false;
                (*rows)[k].has_stream = 1;
                waiting.push_back(k);
            }
        }
        raw = rows;
        for (size_t k : waiting) {
            bool deferred = false;
            if (!row_at(objs[k].off, objs[k].num, objs[k].gen, &(*rows)[k], &kw_end[k], &deferred)) return false;
        }
        raw = nullptr;
        for (size_t k = 0; k < objs.size(); ++k) {
            const obj_entry& e = (*rows)[k];
            spans.push_back({e.obj_pos, e.endobj_pos + 6});
            bool inside = e.has_stream ? no_obj(kw_end[k], e.data_start) && no_obj(e.data_end, e.endobj_pos)
                                       : no_obj(kw_end[k], e.endobj_pos);
            if (!inside) return false;
        }
        std::sort(spans.begin(), spans.end(), [](const span& a, const span& b) { return a.start < b.start; });
        pos at = 0;
        for (const span& s : spans) {
            if (!gap_ok(at, s.start)) return false;
            at = s.end;
        }
        return gap_ok(at, len);
    }

    // --- Trusting the sections: only the objects asked for are read ---

    // The entry of num in a table's subsections; false for a malformed row or
    // a number listed twice.
    bool table_entry(const section& s, int32_t num, xref_row* r) const {
        for (const subsection& sub : s.subs) {
            if (num < sub.first || num >= sub.first + sub.count) continue;
            if (r->type >= 0) return false;
            const uint8_t* t = d + sub.rows + TABLE_ROW * (num - sub.first);
            if (!table_row_ok(t)) return false;
            uint64_t off = 0, gen = 0;
            for (int i = 0; i < 10; ++i) off = off * 10 + static_cast<uint64_t>(t[i] - '0');
            for (int i = 11; i < 16; ++i) gen = gen * 10 + static_cast<uint64_t>(t[i] - '0');
            *r = {t[17] == 'n' ? 1 : 0, off, gen};
        }
        return true;
    }

    bool stream_entry(const stream_rows& s, int32_t num, xref_row* r) const {
        for (const subsection& sub : s.index) {
            if (num < sub.first || num >= sub.first + sub.count) continue;
            if (r->type >= 0) return false;
            const uint8_t* t =
                s.data.data() + (static_cast<size_t>(sub.rows) + static_cast<size_t>(num - sub.first)) * s.row_len;
            *r = {static_cast<int>(be_field(t, s.w[0], 1)), be_field(t + s.w[0], s.w[1], 0),
                  be_field(t + s.w[0] + s.w[1], s.w[2], 0)};
        }
        return true;
    }

    // The newest entry of num, checked against every older one as the loader
    // chooses: a direct row must be the last direct copy, a compressed one
    // must have no direct copy at all and one object stream only.
    bool resolve(int32_t num, xref_row* out) const {
        std::vector<xref_row> all;
        bool have = false;
        for (const section& s : sections) {
            xref_row t, st;
            if (s.table && !table_entry(s, num, &t)) return false;
            if (s.has_stream && !stream_entry(s.stream, num, &st)) return false;
            // A hybrid section: the table first, then its stream.
            xref_row pick = t.type == 1 ? t : st.type >= 1 ? st : t.type >= 0 ? t : st;
            if (!have && pick.type >= 0) {
                *out = pick;
                have = true;
            }
            if (t.type >= 1) all.push_back(t);
            if (st.type >= 1) all.push_back(st);
        }
        if (!have || out->type < 1 || out->type > 2) return false;
        for (const xref_row& e : all) {
            if (out->type == 1 && e.type == 1 && e.f2 > out->f2) return false;
            if (out->type == 2 && (e.type == 1 || e.f2 != out->f2)) return false;
        }
        return true;
    }

    // The direct row of num as resolve names it; false when it is missing.
    bool direct_row(int32_t num, const xref_row& x, obj_entry* row) const {
        pos kw_end = 0;
        bool deferred = false;
        return x.type == 1 && x.f2 < static_cast<uint64_t>(len) && x.f3 <= 65535 &&
               row_at(static_cast<pos>(x.f2), num, static_cast<int32_t>(x.f3), row, &kw_end, &deferred);
    }

    // The table of the objects in `want`: their direct rows, or the object
    // streams holding them, expanded and chosen from as doc_load does.
    bool build_wanted(const std::vector<int32_t>& want) {
        obj_table rows;
        for (int32_t num : want) {
            xref_row x;
            obj_entry row;
            if (num <= 0 || !resolve(num, &x)) return false;
            if (x.type == 2) {
                if (x.f2 == 0 || x.f2 > static_cast<uint64_t>(MAX_OBJ_NUM)) return false;
                auto c = static_cast<int32_t>(x.f2);
                if (!resolve(c, &x) || !direct_row(c, x, &row) || !row.has_stream) return false;
            } else if (!direct_row(num, x, &row)) {
                return false;
            }
            bool known = false;
            for (const obj_entry& e : rows) known = known || e.obj_pos == row.obj_pos;
            if (!known) rows.push_back(row);
        }
        std::sort(rows.begin(), rows.end(), [](const obj_entry& a, const obj_entry& b) { return a.obj_pos < b.obj_pos; });
        doc->objs = std::move(rows);
        doc->lazy = lazy_streams{};
        doc->arena = arena{};
        objstm_expand(doc);
        doc_select(doc);
        // The numbers the sections list count as the scan's would.
        doc->max_obj = std::max(doc->max_obj, max_listed);
        return doc_build_index(doc) == 0;
    }
};

thread_local size_t t_verify_limit = SECTIONS_VERIFY_DEFAULT;

}  // namespace

void sections_verify_limit(size_t objects) { t_verify_limit = objects; }

bool doc_load_sections(const char* path, pdf_doc* doc, bool* whole) {
    *doc = pdf_doc{};
    *whole = false;
    if (!path) return false;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
        close(fd);
        return false;
    }
    const auto n = static_cast<uint64_t>(st.st_size);
    void* m = mmap(nullptr, static_cast<size_t>(n), PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (m == MAP_FAILED) return false;
    madvise(m, static_cast<size_t>(n), MADV_RANDOM);
    doc->mapped = std::unique_ptr<void, unmapper>(m, unmapper{n});
    doc->data = static_cast<const uint8_t*>(m);
    doc->len = static_cast<pos>(n);
    loader l;
    l.doc = doc;
    l.d = doc->data;
    l.len = doc->len;
    try {
        if (!l.read_sections() || !l.list_objects()) return false;
        doc_read_version(doc);
        trailer_read(doc);
        if (doc->encrypted || doc->trailer_root <= 0) return false;
        if (l.objs.size() <= t_verify_limit) {
            // Every object read and the layout checked: the whole table, as
            // doc_load makes it after its scan.
            if (!l.build_rows(&doc->objs)) return false;
            objstm_expand(doc);
            doc_select(doc);
            if (doc_build_index(doc) != 0 || doc->objs.empty()) return false;
            *whole = true;
        } else {
            // The numbers of the update come after /Size, as after every
            // listed number; without it they depend on the scan.
            if (l.size <= 0 || l.max_listed >= l.size) return false;
            std::vector<int32_t> want = {doc->trailer_root};
            if (doc->trailer_info > 0) want.push_back(doc->trailer_info);
            if (!l.build_wanted(want)) return false;
            // The catalog's metadata stream, for XMP writes.
            const obj_entry* root = doc_find(*doc, doc->trailer_root);
            if (!root) return false;
            dict_view cat = doc_dict_span(*doc, *root);
            pos v = cat.text ? cat.value_past_name("Metadata") : -1;
            int32_t meta = v >= 0 ? ref_read(cat.text, v, cat.end) : -1;
            if (meta > 0 && !doc_find(*doc, meta)) {
                want.push_back(meta);
                if (!l.build_wanted(want)) {
                    want.pop_back();
                    if (!l.build_wanted(want)) return false;
                }
            }
        }
        if (!doc_find(*doc, doc->trailer_root)) return false;
        doc->root = doc->trailer_root;
        doc->info = doc->trailer_info >= 0 && doc_find(*doc, doc->trailer_info) ? doc->trailer_info : -1;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// --- The file's history ------------------------------------------------------

namespace {

// A loader over a loaded document's bytes, for its readers of sections and
// objects; nothing of the document is changed.
loader history_loader(const pdf_doc& doc) {
    loader l;
    l.doc = nullptr;
    l.d = doc.data;
    l.len = doc.len;
    return l;
}

void table_entries(const loader& l, const section& s, std::vector<history_entry>* out) {
    for (const subsection& sub : s.subs) {
        for (int64_t k = 0; k < sub.count; ++k) {
            const uint8_t* t = l.d + sub.rows + TABLE_ROW * k;
            if (!table_row_ok(t)) return;
            if (t[17] != 'n') continue;
            uint64_t off = 0;
            for (int i = 0; i < 10; ++i) off = off * 10 + static_cast<uint64_t>(t[i] - '0');
            out->push_back({static_cast<int32_t>(sub.first + k), false, off});
        }
    }
}

void stream_entries(const stream_rows& r, std::vector<history_entry>* out) {
    for (const subsection& sub : r.index) {
        for (int64_t k = 0; k < sub.count; ++k) {
            const uint8_t* t = r.data.data() + (static_cast<size_t>(sub.rows) + static_cast<size_t>(k)) * r.row_len;
            uint64_t type = be_field(t, r.w[0], 1);
            if (type != 1 && type != 2) continue;
            out->push_back({static_cast<int32_t>(sub.first + k), type == 2, be_field(t + r.w[0], r.w[1], 0)});
        }
    }
}

// The section at h; false when it does not parse. *prev: its /Prev, or -1.
bool history_section_at(const loader& l, pos h, history_section* out, pos* prev) {
    *prev = -1;
    pos p = ws_skip(l.d, h, l.len);
    pdf_val dict;
    if (kw_is(l.d, p, l.len, "xref")) {
        section s;
        pos t = -1;
        if (!l.read_table(p, &s, &t)) return false;
        dict = l.closed_dict(t + 7);
        if (!dict) return false;
        out->kind = section_kind::table;
        table_entries(l, s, &out->entries);
        int64_t at = 0;
        if (val_int(dict_get_raw(dict, "XRefStm"), &at) && at >= 0 && at < l.len) {
            pos sp = ws_skip(l.d, at, l.len);
            stream_rows rows;
            pdf_val sdict;
            listed self{};
            if (sp < l.len && is_digit(l.d[sp]) && l.read_stream(sp, &rows, &sdict, &self))
                stream_entries(rows, &out->entries);
        }
    } else if (p < l.len && is_digit(l.d[p])) {
        stream_rows rows;
        listed self{};
        if (!l.read_stream(p, &rows, &dict, &self)) return false;
        out->kind = section_kind::stream;
        stream_entries(rows, &out->entries);
    } else {
        return false;
    }
    out->offset = p;
    out->trailer_start = dict.start;
    out->trailer_end = dict.end;
    int64_t v = 0;
    if (val_int(dict_get_raw(dict, "Prev"), &v) && v >= 0 && v < l.len) *prev = static_cast<pos>(v);
    return true;
}

}  // namespace

std::vector<history_section> doc_history(const pdf_doc& doc) {
    std::vector<history_section> out;
    if (!doc.data || doc.len <= 0) return out;
    const loader l = history_loader(doc);
    pos sx = -1;
    for (pos end = l.len - 8; end > 0;) {
        const void* hit = memrchr(l.d, 's', static_cast<size_t>(end));
        if (!hit) break;
        pos p = static_cast<const uint8_t*>(hit) - l.d;
        if (kw_is(l.d, p, l.len, "startxref")) {
            sx = p;
            break;
        }
        end = p;
    }
    if (sx >= 0) {
        pos q = sx + 9;
        pos h = offset_read(l.d, &q, l.len);
        std::vector<pos> seen;
        while (h >= 0 && h < l.len && out.size() < MAX_SECTIONS &&
               std::find(seen.begin(), seen.end(), h) == seen.end()) {
            seen.push_back(h);
            history_section s;
            pos prev = -1;
            if (!history_section_at(l, h, &s, &prev)) break;
            out.push_back(std::move(s));
            h = prev;
        }
    }
    if (!out.empty()) {
        std::reverse(out.begin(), out.end());
        return out;
    }
    // No usable chain: every trailer keyword followed by a dictionary. Each
    // try may look a window ahead for the close, so the tries are bounded too.
    size_t tries = 0;
    for (pos t = kw_find(l.d, 0, l.len, "trailer"); t >= 0 && tries < 4 * MAX_SECTIONS;
         t = kw_find(l.d, t + 7, l.len, "trailer")) {
        ++tries;
        pdf_val dict = l.closed_dict(t + 7);
        if (!dict) continue;
        history_section s;
        s.offset = t;
        s.trailer_start = dict.start;
        s.trailer_end = dict.end;
        out.push_back(std::move(s));
        if (out.size() >= MAX_SECTIONS) break;
    }
    return out;
}

bool doc_row_at(const pdf_doc& doc, pos off, int32_t num, obj_entry* row) {
    if (!doc.data || off <= 0 || off >= doc.len) return false;
    loader l = history_loader(doc);
    l.lengths_from = &doc;
    pos p = off;
    int32_t n = int_read(l.d, &p, l.len);
    if (n != num) return false;
    p = ws_skip(l.d, p, l.len);
    int32_t gen = int_read(l.d, &p, l.len);
    if (gen < 0) return false;
    pos kw_end = 0;
    bool deferred = false;
    return l.row_at(off, num, gen, row, &kw_end, &deferred);
}
