// Loading a document: the whole-file read, the header version, the choice of
// one row per object number, the catalog and Info objects, and the release.
#include "load/doc.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

#include "core/frame.h"
#include "load/load_steps.h"
#include "load/objstm.h"
#include "syntax/lexer.h"

namespace {

constexpr int32_t MAX_OBJ_NUM = 0x7FFFFF;

// A large buffer that the read fills from end to end: huge pages save most of
// the page faults (and their cost per 4 KiB page). Only advice; a failure is
// harmless.
void advise_huge_pages(uint8_t* p, uint64_t n) {
    constexpr uintptr_t HUGE = uintptr_t(1) << 21;
    if (n < 4 * HUGE) return;
    uintptr_t lo = (reinterpret_cast<uintptr_t>(p) + HUGE - 1) & ~(HUGE - 1);
    uintptr_t hi = (reinterpret_cast<uintptr_t>(p) + n) & ~(HUGE - 1);
    if (hi > lo) madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_HUGEPAGE);
}

// Reads the whole file into doc->bytes with one read. 0 or -1 with a message.
int doc_read_file(const char* path, pdf_doc* doc) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return set_error("cannot open %s", path), -1;
    long long size = -1;
    if (fseeko(f, 0, SEEK_END) == 0) size = ftello(f);
    if (size <= 0 || size > INT32_MAX || fseeko(f, 0, SEEK_SET) != 0) {
        std::fclose(f);
        return set_error("empty input file: %s", path), -1;
    }
    // No zero fill: every byte is overwritten by the read.
    auto* buf = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
    if (buf) advise_huge_pages(buf, static_cast<uint64_t>(size));
    size_t got = buf ? std::fread(buf, 1, static_cast<size_t>(size), f) : 0;
    std::fclose(f);
    if (!buf || got != static_cast<size_t>(size)) {
        std::free(buf);
        return set_error("read error on %s", path), -1;
    }
    doc->bytes.reset(buf);
    doc->data = buf;
    doc->len = static_cast<int32_t>(size);
    return 0;
}

// The version after the first "%PDF-" header within the first 1024 bytes:
// an optional digit, an optional period, then a run of digits.
void doc_read_version(pdf_doc* doc) {
    const uint8_t* d = doc->data;
    int32_t len = doc->len;
    for (int32_t j = 0; j < 1024 && j + 7 < len; ++j) {
        if (std::memcmp(d + j, "%PDF-", 5) != 0 || (j > 0 && is_word(d[j - 1]))) continue;
        int32_t k = j + 5;
        int n = 0;
        if (k < len && is_digit(d[k])) doc->version[n++] = static_cast<char>(d[k++]);
        if (k < len && d[k] == '.') doc->version[n++] = static_cast<char>(d[k++]);
        while (k < len && n < 15 && is_digit(d[k])) doc->version[n++] = static_cast<char>(d[k++]);
        doc->version[n] = 0;
        return;
    }
}

bool row_is_container(const pdf_doc& doc, const obj_entry& e) {
    if (!e.has_stream || e.dict_pos < 0) return false;
    int32_t lim = e.stream_kw > 0 ? e.stream_kw : doc.len;
    return find_name(doc.data, doc.len, e.dict_pos, lim, "ObjStm") >= 0;
}

// Selection when the number indexes cannot be allocated: direct rows are all
// kept, a compressed row only when no direct row shares its number.
std::vector<obj_entry> select_fallback(const pdf_doc& doc, const std::vector<bool>& container) {
    std::vector<int32_t> direct_nums;
    for (size_t k = 0; k < doc.objs.size(); ++k) {
        const obj_entry& e = doc.objs[k];
        if (e.num <= MAX_OBJ_NUM && !e.in_objstm && !container[k]) direct_nums.push_back(e.num);
    }
    std::sort(direct_nums.begin(), direct_nums.end());
    std::vector<obj_entry> kept;
    for (size_t k = 0; k < doc.objs.size(); ++k) {
        const obj_entry& e = doc.objs[k];
        if (e.num > MAX_OBJ_NUM || container[k]) continue;
        if (e.in_objstm && std::binary_search(direct_nums.begin(), direct_nums.end(), e.num)) continue;
        vec_push(kept, e);
    }
    return kept;
}

// winner[num] after a pass in table order: 1 + k for the last direct row k,
// else -(1 + k) for the last compressed row k, or 0. A direct row overwrites
// anything, a compressed row only another compressed one, so a row is kept
// when it is its number's winner. The zero-filled block keeps a sparse
// numbering cheap: untouched pages are never materialised.
std::unique_ptr<int32_t, free_deleter> select_winners(const pdf_doc& doc, const std::vector<bool>& container,
                                                      int32_t high) {
    std::unique_ptr<int32_t, free_deleter> winner(
        static_cast<int32_t*>(std::calloc(static_cast<size_t>(high) + 1, sizeof(int32_t))));
    if (!winner) throw std::bad_alloc();
    int32_t* w = winner.get();
    for (size_t k = 0; k < doc.objs.size(); ++k) {
        const obj_entry& e = doc.objs[k];
        if (e.num > MAX_OBJ_NUM || container[k]) continue;
        int32_t id = static_cast<int32_t>(k) + 1;
        if (!e.in_objstm)
            w[e.num] = id;
        else if (w[e.num] <= 0)
            w[e.num] = -id;
    }
    return winner;
}

}  // namespace

void doc_select(pdf_doc* doc) {
    std::vector<bool> container(doc->objs.size());
    int32_t high = 0;
    for (size_t k = 0; k < doc->objs.size(); ++k) {
        const obj_entry& e = doc->objs[k];
        container[k] = row_is_container(*doc, e);
        if (e.num <= MAX_OBJ_NUM) high = std::max(high, e.num);
    }
    try {
        // Kept rows move forward in place, keeping their order.
        auto winner = select_winners(*doc, container, high);
        size_t w = 0;
        for (size_t k = 0; k < doc->objs.size(); ++k) {
            const obj_entry& e = doc->objs[k];
            if (e.num > MAX_OBJ_NUM || container[k]) continue;
            int32_t v = winner.get()[e.num];
            int32_t id = static_cast<int32_t>(k) + 1;
            if (v != id && v != -id) continue;
            if (w != k) doc->objs[w] = e;
            ++w;
        }
        doc->objs.resize(w);
    } catch (const std::bad_alloc&) {
        doc->objs = select_fallback(*doc, container);
    }
    doc->max_obj = 0;
    for (const obj_entry& e : doc->objs) doc->max_obj = std::max(doc->max_obj, e.num);
}

int doc_build_index(pdf_doc* doc) {
    size_t n = static_cast<size_t>(doc->max_obj) + 1;
    doc->by_num.reset(static_cast<int32_t*>(std::calloc(n, sizeof(int32_t))));
    if (!doc->by_num) return -1;
    doc->by_num_len = static_cast<int32_t>(n);
    int32_t* idx = doc->by_num.get();
    for (size_t k = 0; k < doc->objs.size(); ++k) {
        int32_t& slot = idx[doc->objs[k].num];
        if (slot == 0) slot = static_cast<int32_t>(k) + 1;
    }
    return 0;
}

namespace {

// Every position of a key /Catalog whose next byte, if any, ends the name.
// A key ending exactly at a row's range end also counts; that case is tested
// separately in catalog_in_range.
std::vector<int32_t> catalog_positions(const pdf_doc& doc) {
    std::vector<int32_t> hits;
    const uint8_t* d = doc.data;
    int32_t len = doc.len;
    for (int32_t p = 0; p + 8 <= len;) {
        const void* q = std::memchr(d + p, '/', static_cast<size_t>(len - 8 - p + 1));
        if (!q) break;
        p = static_cast<int32_t>(static_cast<const uint8_t*>(q) - d);
        if (std::memcmp(d + p + 1, "Catalog", 7) == 0 && (p + 8 == len || !is_name_cont(d[p + 8])))
            hits.push_back(p);
        ++p;
    }
    return hits;
}

// Whether find_name(data, len, start, lim, "Catalog") would find a key.
bool catalog_in_range(const pdf_doc& doc, const std::vector<int32_t>& hits, int32_t start, int32_t lim) {
    lim = std::min(lim, doc.len);
    if (lim - start < 8) return false;
    auto it = std::lower_bound(hits.begin(), hits.end(), start);
    if (it != hits.end() && *it + 8 <= lim) return true;
    // A key that ends exactly at lim matches whatever byte follows it.
    int32_t p = lim - 8;
    return doc.data[p] == '/' && std::memcmp(doc.data + p + 1, "Catalog", 7) == 0;
}

// The catalog: the trailer's /Root when that object exists, else the first
// row holding a key /Catalog, else 1.
int32_t doc_pick_root(const pdf_doc& doc) {
    if (doc.trailer_root >= 0 && doc_find(doc, doc.trailer_root)) return doc.trailer_root;
    std::vector<int32_t> hits;
    bool scanned = false;
    for (const obj_entry& e : doc.objs) {
        if (e.in_objstm) {
            if (e.objstm_text && e.objstm_len >= 8 &&
                find_name(e.objstm_text, e.objstm_len, 0, e.objstm_len, "Catalog") >= 0)
                return e.num;
            continue;
        }
        if (e.dict_pos < 0) continue;
        if (!scanned) hits = catalog_positions(doc), scanned = true;
        int32_t lim = e.endobj_pos > 0 ? e.endobj_pos : doc.len;
        if (catalog_in_range(doc, hits, e.dict_pos, lim)) return e.num;
    }
    return 1;
}

// Where the page tree walk starts: the catalog itself when it is a page or a
// page-tree node, else its first usable /Pages value; 0 when there is none.
int32_t doc_pages_start(const pdf_doc& doc, const obj_entry& cat) {
    int t = obj_type(doc.data, doc.len, cat);
    if (t == 1 || t == 2) return doc.root;
    const uint8_t* text;
    int32_t start, end;
    if (cat.in_objstm) {
        if (!cat.objstm_text) return 0;
        text = cat.objstm_text, start = 0, end = cat.objstm_len;
    } else {
        if (cat.dict_pos < 0) return 0;
        text = doc.data, start = cat.dict_pos, end = cat.endobj_pos > 0 ? cat.endobj_pos : doc.len;
    }
    for (int32_t k = find_name(text, end, start, end, "Pages"); k >= 0;
         k = find_name(text, end, k + 1, end, "Pages")) {
        int32_t pos = skip_ws(text, k + 6, end);
        int32_t v = parse_int_at(text, end, &pos);
        if (v > 0) return v;
    }
    return 0;
}

// Catalog, Info and the page list. -1 only when the visited flags cannot be had.
int doc_finish(pdf_doc* doc) {
    doc->root = doc_pick_root(*doc);
    doc->info = doc->trailer_info >= 0 && doc_find(*doc, doc->trailer_info) ? doc->trailer_info : -1;
    const obj_entry* cat = doc_find(*doc, doc->root);
    if (!cat) return 0;
    int32_t start = doc_pages_start(*doc, *cat);
    if (start <= 0) return 0;
    auto* visited = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(doc->max_obj) + 1, 1));
    if (!visited) return set_error("out of memory"), -1;
    int r = resolve_pages(*doc, start, &doc->pages, visited);
    std::free(visited);
    doc->pages_ok = r > 0 ? 1 : 0;
    return 0;
}

}  // namespace

uint8_t* arena::alloc(uint64_t size) noexcept {
    if (size > static_cast<uint64_t>(PTRDIFF_MAX)) return nullptr;  // no such block can exist
    auto* p = static_cast<uint8_t*>(std::malloc(size ? static_cast<size_t>(size) : 1));
    if (!p) return nullptr;
    try {
        items.emplace_back(p);
    } catch (...) {
        std::free(p);
        return nullptr;
    }
    return p;
}

void arena::drop_last() noexcept {
    if (!items.empty()) items.pop_back();
}

int doc_load_ex(const char* path, pdf_doc* doc, int allow_encrypted) {
    doc_free(doc);
    doc->trailer_root = doc->trailer_info = doc->encrypt_obj = doc->root = -1;
    if (!path) return set_error("NULL path argument"), -1;
    if (doc_read_file(path, doc) != 0) return -1;
    trailer_read(doc);
    doc_read_version(doc);
    scan_objects(doc);
    objstm_expand(doc);
    doc_select(doc);
    if (doc_build_index(doc) != 0) return set_error("out of memory"), -1;
    if (doc->objs.empty()) return set_error("no PDF objects found \xE2\x80\x94 not a PDF: %s", path), -1;
    if (doc->encrypted == 1) {
        if (!allow_encrypted) return set_error("encrypted PDFs are not supported: %s", path), -1;
        doc->info = doc->trailer_info >= 0 && doc_find(*doc, doc->trailer_info) ? doc->trailer_info : -1;
        return 0;
    }
    return doc_finish(doc);
}

void doc_free(pdf_doc* doc) {
    if (!doc) return;
    *doc = pdf_doc{};
    doc->trailer_root = doc->trailer_info = doc->encrypt_obj = doc->root = doc->info = 0;
}

const obj_entry* doc_find(const pdf_doc& doc, int32_t num) {
    if (num < 0 || num >= doc.by_num_len) return nullptr;
    int32_t k = doc.by_num.get()[num];
    return k > 0 ? &doc.objs[static_cast<size_t>(k) - 1] : nullptr;
}

dict_region doc_dict_span(const pdf_doc& doc, const obj_entry& e) {
    if (e.in_objstm) return {e.objstm_text, 0, e.objstm_text ? e.objstm_len : 0};
    if (e.dict_pos < 0) return {};
    int32_t end = e.stream_kw > 0 ? e.stream_kw : e.endobj_pos > 0 ? e.endobj_pos : doc.len;
    return {doc.data, e.dict_pos, end};
}
