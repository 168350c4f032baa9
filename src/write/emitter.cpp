// The emitter: a whole output file under a write plan, as pieces.
#include "write/emitter.h"

#include <sys/uio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <numeric>
#include <vector>

#include "core/frame.h"
#include "core/huge_pages.h"
#include "syntax/lexer.h"
#include "write/atomic_file.h"

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

bool stream_bounds_ok(const pdf_doc& doc, const obj_entry& e) {
    return e.dict_pos >= 0 && e.stream_kw >= e.dict_pos && e.stream_kw <= doc.len && e.data_start >= 0 &&
           e.data_end >= e.data_start && e.data_end <= doc.len;
}

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

// Body of one table object, by the first rule that applies.
void emit_body(emitter& out, const pdf_doc& doc, const obj_entry& e, const write_plan& plan) {
    if (edits(plan.info, obj_edit::replace, e.num) && !e.has_stream) {
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

}  // namespace

int doc_emit_pieces(const pdf_doc& doc, const write_plan& plan, out_pieces* result) {
    result->pieces.clear();
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
    out.str(">>\nstartxref ");
    out.num(xref_at);
    out.str("\n%%EOF\n");
    out.finish();
    return 1;
}

int write_output_pieces(const char* out_path, const out_pieces& out) {
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
    return write_file_atomic_v(out_path, iov.data(), iov.size());
}
