// The emitter: a whole output file under a write plan, as pieces.
#include "write/emitter.h"

#include <sys/uio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <numeric>
#include <string>
#include <vector>

#include "core/frame.h"
#include "core/huge_pages.h"
#include "load/graph.h"
#include "syntax/deflate.h"
#include "syntax/lexer.h"
#include "write/atomic_file.h"
#include "write/incremental.h"

namespace {

constexpr pos VALUE_COPY_MAX = 268435455;  // longest plain object value copied
constexpr uint64_t XREF_ROW = 20;
constexpr long long XREF_OFFSET_LIMIT = 10000000000LL;  // ten digits
constexpr char HEADER[] = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
constexpr char FREE_ROW[] = "0000000000 65535 f \n";
constexpr uint64_t BORROW_MIN = 16384;  // shorter runs of the document's bytes are copied

// Appends to the output and remembers whether every append succeeded; after a
// failure the buffer is emptied so that no partial file can be written.
// Long runs of the document's own bytes are not copied: the output is the
// list of pieces, the writer's bytes being runs of b.
struct emitter {
    strbuf* b;
    std::vector<out_piece>* pieces;
    bool ok = true;
    uint64_t borrowed = 0;  // bytes of the output held by reference
    uint64_t run = 0;       // start in b of the writer's bytes not yet in a piece

    // Position in the output file of the next byte.
    uint64_t pos() const { return b->len + borrowed; }

    void bytes(const void* p, uint64_t n) {
        if (ok && !buf_bytes(b, p, n)) fail();
    }
    // Bytes of the document (which outlives the output): by reference when
    // long, else copied.
    void borrow(const uint8_t* p, uint64_t n) {
        if (n < BORROW_MIN) return bytes(p, n);
        if (!ok) return;
        try {
            close_run();
            pieces->push_back({p, 0, n});
        } catch (const std::bad_alloc&) {
            return fail();
        }
        borrowed += n;
    }
    // Ends the output: the writer's last bytes become a piece.
    void finish() {
        if (!ok) return;
        try {
            close_run();
        } catch (const std::bad_alloc&) {
            fail();
        }
    }
    void close_run() {
        if (b->len > run) pieces->push_back({nullptr, run, b->len - run});
        run = b->len;
    }
    void str(const char* s) { bytes(s, std::strlen(s)); }
    void num(long long v) {
        char tmp[24];
        char* e = tmp + sizeof tmp;
        char* p = e;
        unsigned long long u = v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
        do {
            *--p = static_cast<char>('0' + u % 10);
            u /= 10;
        } while (u);
        if (v < 0) *--p = '-';
        bytes(p, static_cast<uint64_t>(e - p));
    }
    // Grows the storage to hold at least `total` bytes (plus the zero).
    void reserve(uint64_t total) {
        if (!ok) return;
        if (!b->data) {
            *b = strbuf_start();
            if (!b->data) return fail();
        }
        if (b->cap > total) return;
        char* grown = static_cast<char*>(std::realloc(b->data, total + 1));
        if (!grown) return;  // buf_bytes will try its own growth later
        b->data = grown;
        b->cap = total + 1;
        advise_huge_pages(grown, b->cap);
    }
    void fail() {
        ok = false;
        b->reset();
        pieces->clear();
        borrowed = run = 0;
    }
};

bool ends_tight(const uint8_t* text, pos n) {
    if (n <= 0) return false;
    uint8_t c = text[n - 1];
    return !is_pdf_ws(c) && c != ')' && c != '>' && c != ']' && c != '}';
}

// Start of the value in an object text from an object stream: white space
// and comments before it are left out, since a direct object whose value
// follows a comment is not seen as a dictionary when the file is read again.
pos loose_value_start(const uint8_t* text, pos n) {
    pos i = 0;
    for (;;) {
        i = ws_skip(text, i, n);
        if (i >= n || text[i] != '%') return i;
        while (i < n && text[i] != '\n' && text[i] != '\r') ++i;
    }
}

// Object text taken from an object stream, or an edited copy of one:
// "42endobj" is no object, so a text ending in a number or keyword gets a line feed.
void emit_loose_text(emitter& out, const uint8_t* text, pos n) {
    pos start = loose_value_start(text, n);
    text += start;
    n -= start;
    out.borrow(text, static_cast<uint64_t>(n));
    if (ends_tight(text, n)) out.bytes("\n", 1);
    out.bytes("endobj\n", 7);
}

// Position where the value of a file-body object begins, found from obj_pos.
pos plain_value_start(const pdf_doc& doc, const obj_entry& e) {
    if (e.dict_pos >= 0) return e.dict_pos;
    if (e.obj_pos < 0 || e.obj_pos >= doc.len) return -1;
    return obj_value_start(doc.data, e.obj_pos, doc.len);
}

void emit_plain(emitter& out, const pdf_doc& doc, const obj_entry& e) {
    pos start = plain_value_start(doc, e);
    pos end = e.endobj_pos > 0 ? e.endobj_pos : doc.len;
    if (start >= 0 && end <= doc.len) {
        pos n = end - start;
        if (n > 0 && n <= VALUE_COPY_MAX) out.borrow(doc.data + start, static_cast<uint64_t>(n));
    }
    out.bytes("endobj\n", 7);
}

}  // namespace

bool stream_bounds_ok(const pdf_doc& doc, const obj_entry& e) {
    return e.dict_pos >= 0 && e.stream_kw >= e.dict_pos && e.stream_kw <= doc.len && e.data_start >= 0 &&
           e.data_end >= e.data_start && e.data_end <= doc.len;
}

namespace {

void emit_stream(emitter& out, const pdf_doc& doc, const obj_entry& e) {
    out.borrow(doc.data + e.dict_pos, static_cast<uint64_t>(e.stream_kw - e.dict_pos));
    out.bytes("stream\n", 7);
    out.borrow(doc.data + e.data_start, static_cast<uint64_t>(e.data_end - e.data_start));
    out.bytes("\nendstream\nendobj\n", 18);
}

void emit_packet_stream(emitter& out, const std::string& packet) {
    out.str("<</Type /Metadata /Subtype /XML /Length ");
    out.num(static_cast<long long>(packet.size()));
    out.bytes(">>\nstream\n", 10);
    out.bytes(packet.data(), packet.size());
    out.bytes("\nendstream\nendobj\n", 18);
}

void emit_info_dict(emitter& out, const std::string& text) {
    out.bytes(text.data(), text.size());
    out.bytes("\nendobj\n", 8);
}

// The plan replaces (or drops) the table row of this number.
bool edits(const planned_obj& p, obj_edit edit, int32_t num) { return p.edit == edit && p.num == num; }

void emit_header_line(emitter& out, long long num, long long gen) {
    out.num(num);
    out.bytes(" ", 1);
    out.num(gen);
    out.bytes(" obj\n", 5);
}

// An object with a new text: a stream's dictionary before its data as it
// is, or the whole value.
void emit_new_text(emitter& out, const pdf_doc& doc, const obj_entry& e, const std::string& text) {
    if (e.in_objstm) return emit_loose_text(out, reinterpret_cast<const uint8_t*>(text.data()), static_cast<pos>(text.size()));
    out.bytes(text.data(), text.size());
    if (!e.has_stream || !stream_bounds_ok(doc, e)) return out.bytes("\nendobj\n", 8);
    out.bytes("\nstream\n", 8);
    out.borrow(doc.data + e.data_start, static_cast<uint64_t>(e.data_end - e.data_start));
    out.bytes("\nendstream\nendobj\n", 18);
}

// Body of one table object, by the first rule that applies.
void emit_body(emitter& out, const pdf_doc& doc, const obj_entry& e, const write_plan& plan) {
    if (auto t = plan.texts.find(e.num); t != plan.texts.end()) {
        emit_new_text(out, doc, e, t->second);
    } else if (edits(plan.info, obj_edit::replace, e.num) && !e.has_stream) {
        emit_info_dict(out, plan.info.body);
    } else if (edits(plan.xmp, obj_edit::replace, e.num)) {
        emit_packet_stream(out, plan.xmp.body);
    } else if (edits(plan.catalog, obj_edit::replace, e.num)) {
        const std::string& cat = plan.catalog.body;
        if (e.in_objstm)
            emit_loose_text(out, reinterpret_cast<const uint8_t*>(cat.data()), static_cast<pos>(cat.size()));
        else {
            out.bytes(cat.data(), cat.size());
            out.bytes("endobj\n", 7);
        }
    } else if (e.in_objstm) {
        emit_loose_text(out, e.objstm_text, e.objstm_text ? e.objstm_len : 0);
    } else if (e.has_stream && stream_bounds_ok(doc, e)) {
        emit_stream(out, doc, e);
    } else {
        emit_plain(out, doc, e);
    }
}

// Ten zero-padded digits of v (0 <= v < 10^10).
void put_digits10(char* p, long long v) {
    for (int i = 9; i >= 0; --i) {
        p[i] = static_cast<char>('0' + v % 10);
        v /= 10;
    }
}

// The xref section: S rows of 20 bytes written straight into the buffer.
void emit_xref(emitter& out, const std::vector<long long>& offs, const std::vector<int32_t>& gens) {
    uint64_t s = offs.size();
    out.str("xref\n0 ");
    out.num(static_cast<long long>(s));
    out.bytes("\n", 1);
    out.reserve(out.b->len + s * XREF_ROW + 256);
    if (!out.ok) return;
    if (out.b->cap <= out.b->len + s * XREF_ROW) {  // reserve failed: row by row
        for (uint64_t i = 0; i < s; ++i) {
            char row[48];
            if (offs[i] < 0)
                std::memcpy(row, FREE_ROW, XREF_ROW);
            else
                std::snprintf(row, sizeof row, "%010lld %05ld n \n", offs[i], static_cast<long>(gens[i]));
            out.bytes(row, XREF_ROW);
        }
        return;
    }
    char* p = out.b->data + out.b->len;
    for (uint64_t i = 0; i < s; ++i, p += XREF_ROW) {
        if (offs[i] < 0) {
            std::memcpy(p, FREE_ROW, XREF_ROW);
            continue;
        }
        put_digits10(p, offs[i]);
        p[10] = ' ';
        long g = gens[i] < 0 ? 0 : gens[i] % 100000;
        for (int k = 15; k >= 11; --k) {
            p[k] = static_cast<char>('0' + g % 10);
            g /= 10;
        }
        std::memcpy(p + 16, " n \n", 4);
    }
    out.b->len += s * XREF_ROW;
    out.b->data[out.b->len] = 0;
}

int32_t gen_of(const pdf_doc& doc, int32_t num) {
    const obj_entry* e = num >= 0 ? doc_find(doc, num) : nullptr;
    return e ? e->gen : 0;
}

// Room for the writer's bytes; long stream data, left in place, needs none.
uint64_t size_estimate(const pdf_doc& doc, const write_plan& plan, uint64_t rows) {
    uint64_t n = static_cast<uint64_t>(doc.len) + plan.info.body.size() + plan.xmp.body.size() +
                 plan.catalog.body.size() + 4096;
    for (const obj_entry& e : doc.objs) {
        if (e.in_objstm) n += static_cast<uint64_t>(e.objstm_len);
        if (!e.has_stream || e.data_end <= e.data_start) continue;
        auto data = static_cast<uint64_t>(e.data_end - e.data_start);
        if (data >= BORROW_MIN && data <= n) n -= data;
    }
    return n + static_cast<uint64_t>(doc.objs.size()) * 48 + rows * XREF_ROW;
}

// Number of an object the plan adds, or 0.
int32_t added_num(const planned_obj& p) { return p.edit == obj_edit::add ? p.num : 0; }


// ---- Object streams kept (plan.keep_streams) ----

// Whether the plan writes, replaces or drops object `num`.
bool plan_touches(const write_plan& plan, int32_t num) {
    for (const planned_obj* p : {&plan.info, &plan.xmp, &plan.catalog})
        if (p->edit != obj_edit::keep && p->num == num) return true;
    return plan.leaves_out(num) || plan.texts.count(num) > 0;
}

// The table row of num without decoding its text, or null.
const obj_entry* row_of(const pdf_doc& doc, int32_t num) {
    int64_t k = doc.by_num.row(num);
    return k < 0 ? nullptr : &doc.objs[static_cast<size_t>(k)];
}

// Whether container c can be copied as it is: its stream is whole and its
// /Length is the length of its data, it extends no other stream, no table
// row has its number, and every number it lists is live there (the table
// resolves it to that very member) and untouched by the plan. A stream
// holding an edited or superseded object is not copied, so no old value
// remains in the output.
bool container_copyable(const pdf_doc& doc, const write_plan& plan, int32_t ci) {
    const objstm_container& c = doc.containers[static_cast<size_t>(ci)];
    const obj_entry& r = c.row;
    if (r.num <= 0 || r.num > CONTAINER_NUM_MAX || !stream_bounds_ok(doc, r) || row_of(doc, r.num)) return false;
    pdf_val dict{doc.data, r.dict_pos, r.stream_kw};
    int64_t length = -1;
    if (!val_int(dict_get_raw(dict, "Length"), &length) || length != r.data_end - r.data_start) return false;
    if (dict_get_raw(dict, "Extends")) return false;
    for (int32_t i = 0; i < c.count; ++i) {
        int32_t m = doc.container_members[c.first_member + static_cast<uint64_t>(i)];
        const obj_entry* e = row_of(doc, m);
        if (!e || !e->in_objstm || e->objstm_container != ci || e->objstm_index != i || plan_touches(plan, m))
            return false;
    }
    return true;
}

// One flag per container: copied or not. A number shared by two streams is
// copied once at most.
std::vector<char> containers_to_copy(const pdf_doc& doc, const write_plan& plan, bool* any) {
    std::vector<char> copy(doc.containers.size(), 0);
    std::vector<int32_t> nums;
    *any = false;
    for (size_t ci = 0; ci < doc.containers.size(); ++ci) {
        if (!container_copyable(doc, plan, static_cast<int32_t>(ci))) continue;
        int32_t num = doc.containers[ci].row.num;
        if (std::find(nums.begin(), nums.end(), num) != nums.end()) continue;
        nums.push_back(num);
        copy[ci] = 1;
        *any = true;
    }
    return copy;
}

// Whether row e is a cross-reference stream of the input: the output has
// its own, and the old one would only repeat the input's offsets.
bool is_old_xref_stream(const pdf_doc& doc, const obj_entry& e) {
    if (e.in_objstm || !e.has_stream || e.dict_pos < 0 || e.stream_kw <= e.dict_pos) return false;
    return val_name(dict_get_raw(pdf_val{doc.data, e.dict_pos, e.stream_kw}, "Type")) == "XRef";
}

// One row of a cross-reference stream: type 0 (free), 1 (offset and
// generation) or 2 (object stream number and index).
struct xref_row {
    uint8_t type = 0;
    uint64_t f2 = 0;
    uint32_t f3 = 0;
};

int bytes_for(uint64_t v) {
    int n = 1;
    while (n < 8 && (v >> (8 * n)) != 0) ++n;
    return n;
}

// "%PDF-1.5", or the input's own version line when it names a later one:
// object and cross-reference streams came with 1.5.
std::string keep_header(const pdf_doc& doc) {
    const char* v = doc.version;
    bool later = std::strlen(v) == 3 && is_digit(static_cast<uint8_t>(v[0])) && v[1] == '.' &&
                 is_digit(static_cast<uint8_t>(v[2])) && (v[0] > '1' || v[2] >= '5');
    return std::string("%PDF-") + (later ? v : "1.5") + "\n%\xE2\xE3\xCF\xD3\n";
}

// The rows of a cross-reference stream, `width` bytes each, under the PNG Up
// predictor (a filter byte 2, then each byte less the one above it) and
// Flate: runs of like rows become runs of zeros, which compress to little.
bool deflate_rows(const std::string& data, size_t width, std::string* packed) {
    std::string up;
    up.reserve(data.size() + data.size() / width);
    for (size_t at = 0; at < data.size(); at += width) {
        up.push_back(2);
        for (size_t k = 0; k < width; ++k) {
            auto above = at >= width ? static_cast<uint8_t>(data[at - width + k]) : 0;
            up.push_back(static_cast<char>(static_cast<uint8_t>(data[at + k]) - above));
        }
    }
    *packed = deflate_compress(reinterpret_cast<const uint8_t*>(up.data()), up.size());
    return packed->size() < data.size();
}

// The cross-reference stream over rows (its own row appended), keeping the
// catalog, the Info object the plan writes and the input's /ID (id, as
// written, or empty); then startxref and the end marker.
void emit_xref_stream(emitter& out, const pdf_doc& doc, const write_plan& plan, std::vector<xref_row>& rows,
                      const std::string& id) {
    const auto self = static_cast<int32_t>(rows.size());
    const uint64_t at = out.pos();
    rows.push_back({1, at, 0});
    uint64_t max2 = 0, max3 = 0;
    for (const xref_row& r : rows) max2 = std::max(max2, r.f2), max3 = std::max<uint64_t>(max3, r.f3);
    const int w2 = bytes_for(max2), w3 = bytes_for(max3);
    const size_t width = static_cast<size_t>(1 + w2 + w3);
    std::string data;
    data.resize(rows.size() * width);
    char* p = data.data();
    for (const xref_row& r : rows) {
        *p++ = static_cast<char>(r.type);
        for (int k = w2 - 1; k >= 0; --k) *p++ = static_cast<char>((r.f2 >> (8 * k)) & 0xFF);
        for (int k = w3 - 1; k >= 0; --k) *p++ = static_cast<char>((r.f3 >> (8 * k)) & 0xFF);
    }
    std::string packed;
    const bool flate = deflate_rows(data, width, &packed);
    emit_header_line(out, self, 0);
    out.str("<</Type /XRef /Size ");
    out.num(static_cast<long long>(rows.size()));
    out.str(" /W [1 ");
    out.num(w2);
    out.str(" ");
    out.num(w3);
    out.str("] /Index [0 ");
    out.num(static_cast<long long>(rows.size()));
    out.str("] /Root ");
    out.num(doc.root);
    out.bytes(" ", 1);
    out.num(gen_of(doc, doc.root));
    out.str(" R");
    if (plan.info.edit == obj_edit::replace || plan.info.edit == obj_edit::add) {
        out.str(" /Info ");
        out.num(plan.info.num);
        out.bytes(" ", 1);
        out.num(plan.info.edit == obj_edit::add ? 0 : gen_of(doc, plan.info.num));
        out.str(" R");
    }
    if (!id.empty()) {
        out.str(" /ID ");
        out.bytes(id.data(), id.size());
    }
    if (flate) {
        out.str(" /Filter /FlateDecode /DecodeParms <</Predictor 12 /Columns ");
        out.num(static_cast<long long>(width));
        out.str(">>");
    }
    const std::string& body = flate ? packed : data;
    out.str(" /Length ");
    out.num(static_cast<long long>(body.size()));
    out.str(">>\nstream\n");
    out.bytes(body.data(), body.size());
    out.str("\nendstream\nendobj\nstartxref\n");
    out.num(static_cast<long long>(at));
    out.str("\n%%EOF\n");
}

// The output with the containers flagged in `copy` copied: table rows in
// ascending number (members of copied streams only listed, the input's
// cross-reference streams left out), the copied streams, the added objects,
// a cross-reference stream.
int emit_keeping(const pdf_doc& doc, const write_plan& plan, const std::vector<char>& copy, out_pieces* result) {
    int32_t top = std::max({doc.max_obj, added_num(plan.info), added_num(plan.xmp)});
    for (size_t ci = 0; ci < copy.size(); ++ci)
        if (copy[ci]) top = std::max(top, doc.containers[ci].row.num);
    std::vector<int32_t> order(doc.objs.size());
    std::vector<xref_row> rows(static_cast<size_t>(top) + 1);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int32_t a, int32_t b) { return doc.objs[a].num < doc.objs[b].num; });
    const std::string id = plan.id.empty() ? trailer_id_text(doc) : plan.id;
    emitter out{&result->text, &result->pieces};
    out.reserve(size_estimate(doc, plan, rows.size()));
    const std::string header = keep_header(doc);
    out.bytes(header.data(), header.size());
    rows[0] = {0, 0, 65535};
    for (int32_t idx : order) {
        const obj_entry& e = doc.objs[idx];
        if (e.num < 0 || e.num > top) continue;
        if (edits(plan.info, obj_edit::drop, e.num) || edits(plan.xmp, obj_edit::drop, e.num)) continue;
        if (plan.leaves_out(e.num)) continue;
        if (is_old_xref_stream(doc, e) && !plan_touches(plan, e.num) && e.num != doc.root) continue;
        if (e.in_objstm && e.objstm_container >= 0 && copy[static_cast<size_t>(e.objstm_container)]) {
            const auto& c = doc.containers[static_cast<size_t>(e.objstm_container)];
            rows[e.num] = {2, static_cast<uint64_t>(c.row.num), static_cast<uint32_t>(e.objstm_index)};
            continue;
        }
        doc_expand_row(doc, e);
        rows[e.num] = {1, out.pos(), static_cast<uint32_t>(e.gen)};
        emit_header_line(out, e.num, e.gen);
        emit_body(out, doc, e, plan);
    }
    for (size_t ci = 0; ci < copy.size(); ++ci) {
        if (!copy[ci]) continue;
        const obj_entry& r = doc.containers[ci].row;
        rows[r.num] = {1, out.pos(), static_cast<uint32_t>(r.gen)};
        emit_header_line(out, r.num, r.gen);
        emit_stream(out, doc, r);
    }
    if (plan.info.edit == obj_edit::add) {
        rows[plan.info.num] = {1, out.pos(), 0};
        emit_header_line(out, plan.info.num, 0);
        emit_info_dict(out, plan.info.body);
    }
    if (plan.xmp.edit == obj_edit::add) {
        rows[plan.xmp.num] = {1, out.pos(), 0};
        emit_header_line(out, plan.xmp.num, 0);
        emit_packet_stream(out, plan.xmp.body);
    }
    if (plan.span == xref_span::written) {
        size_t s = rows.size();
        while (s > 1 && rows[s - 1].type == 0) --s;
        rows.resize(s);
    }
    emit_xref_stream(out, doc, plan, rows, id);
    out.finish();
    return 1;
}

}  // namespace

int doc_emit_pieces(const pdf_doc& doc, const write_plan& plan, out_pieces* result) {
    result->pieces.clear();
    if (plan.keep_streams && !doc.containers.empty()) {
        bool any = false;
        std::vector<char> copy;
        try {
            copy = containers_to_copy(doc, plan, &any);
            if (any) return emit_keeping(doc, plan, copy, result);
        } catch (const std::bad_alloc&) {
            set_error("out of memory");
            return 0;
        }
    }
    std::vector<int32_t> order;
    std::vector<long long> offs;
    std::vector<int32_t> gens;
    int32_t top = std::max({doc.max_obj, added_num(plan.info), added_num(plan.xmp)});
    try {
        order.resize(doc.objs.size());
        offs.assign(static_cast<size_t>(top) + 1, -1);
        gens.assign(static_cast<size_t>(top) + 1, 0);
    } catch (const std::bad_alloc&) {
        set_error("out of memory");
        return 0;
    }
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int32_t a, int32_t b) { return doc.objs[a].num < doc.objs[b].num; });

    doc_expand_all(doc);  // every object's text is written
    emitter out{&result->text, &result->pieces};
    out.reserve(size_estimate(doc, plan, offs.size()));
    out.bytes(HEADER, sizeof HEADER - 1);
    for (int32_t idx : order) {
        const obj_entry& e = doc.objs[idx];
        if (e.num < 0 || e.num > top) continue;
        if (edits(plan.info, obj_edit::drop, e.num) || edits(plan.xmp, obj_edit::drop, e.num)) continue;
        if (plan.leaves_out(e.num)) continue;
        offs[e.num] = static_cast<long long>(out.pos());
        gens[e.num] = e.gen;
        emit_header_line(out, e.num, e.gen);
        emit_body(out, doc, e, plan);
    }
    if (plan.info.edit == obj_edit::add) {
        offs[plan.info.num] = static_cast<long long>(out.pos());
        emit_header_line(out, plan.info.num, 0);
        emit_info_dict(out, plan.info.body);
    }
    if (plan.xmp.edit == obj_edit::add) {
        offs[plan.xmp.num] = static_cast<long long>(out.pos());
        emit_header_line(out, plan.xmp.num, 0);
        emit_packet_stream(out, plan.xmp.body);
    }
    if (plan.span == xref_span::written) {
        size_t s = offs.size();
        while (s > 1 && offs[s - 1] < 0) --s;
        offs.resize(s);
        gens.resize(s);
    }
    // A table row holds ten digits: objects from 10^10 bytes on (about
    // 9.3 GiB) cannot be listed, and a shortened offset would point elsewhere.
    if (!offs.empty() && *std::max_element(offs.begin(), offs.end()) >= XREF_OFFSET_LIMIT) {
        out.fail();
        set_error("output too large for a cross-reference table");
        return 0;
    }
    long long xref_at = static_cast<long long>(out.pos());
    emit_xref(out, offs, gens);
    out.str("trailer\n<</Size ");
    out.num(static_cast<long long>(offs.size()));
    out.str("/Root ");
    out.num(doc.root);
    out.bytes(" ", 1);
    out.num(gen_of(doc, doc.root));
    out.str(" R");
    if (plan.info.edit == obj_edit::replace || plan.info.edit == obj_edit::add) {
        out.str("/Info ");
        out.num(plan.info.num);
        out.bytes(" ", 1);
        out.num(plan.info.edit == obj_edit::add ? 0 : gen_of(doc, plan.info.num));
        out.str(" R");
    }
    if (!plan.id.empty()) {
        out.str("/ID ");
        out.bytes(plan.id.data(), plan.id.size());
    }
    out.str(">>\nstartxref ");
    out.num(xref_at);
    out.str("\n%%EOF\n");
    out.finish();
    return 1;
}

int write_output_pieces(const char* out_path, const out_pieces& out, bool (*check)(const char*, void*),
                        void* ctx) {
    std::vector<iovec> iov;
    uint64_t total = 0;
    try {
        iov.reserve(out.pieces.size());
        for (const out_piece& p : out.pieces) {
            const char* base = p.ext ? reinterpret_cast<const char*>(p.ext) : out.text.data + p.off;
            iov.push_back({const_cast<char*>(base), static_cast<size_t>(p.len)});
            total += p.len;
        }
    } catch (const std::bad_alloc&) {
        set_error("out of memory");
        return 0;
    }
    if (total == 0 || !out.text.data) {
        set_error("failed to build output");
        return 0;
    }
    return write_file_atomic_v(out_path, iov.data(), iov.size(), check, ctx);
}
