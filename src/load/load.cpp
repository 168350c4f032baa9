// Loading a document: the order of the steps, and the choice of the catalog
// and Info objects.
#include "load/doc.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "core/frame.h"
#include "load/load_steps.h"

namespace {

// Every position of a key /Catalog whose next byte, if any, ends the name.
// A key ending exactly at a row's range end also counts; that case is tested
// separately in catalog_in_range.
std::vector<pos> catalog_positions(const pdf_doc& doc) {
    std::vector<pos> hits;
    const uint8_t* d = doc.data;
    pos len = doc.len;
    for (pos p = 0; p + 8 <= len;) {
        const void* q = std::memchr(d + p, '/', static_cast<size_t>(len - 8 - p + 1));
        if (!q) break;
        p = static_cast<const uint8_t*>(q) - d;
        if (std::memcmp(d + p + 1, "Catalog", 7) == 0 && (p + 8 == len || !is_name_cont(d[p + 8])))
            hits.push_back(p);
        ++p;
    }
    return hits;
}

// Whether name_find(data, start, min(lim, len), "Catalog") would find a key.
bool catalog_in_range(const pdf_doc& doc, const std::vector<pos>& hits, pos start, pos lim) {
    lim = std::min(lim, doc.len);
    if (lim - start < 8) return false;
    auto it = std::lower_bound(hits.begin(), hits.end(), start);
    if (it != hits.end() && *it + 8 <= lim) return true;
    // A key that ends exactly at lim matches whatever byte follows it.
    pos p = lim - 8;
    return doc.data[p] == '/' && std::memcmp(doc.data + p + 1, "Catalog", 7) == 0;
}

// The catalog: the trailer's /Root when that object exists, else the first
// row holding a key /Catalog, else 1.
int32_t doc_pick_root(const pdf_doc& doc) {
    if (doc.trailer_root >= 0 && doc_find(doc, doc.trailer_root)) return doc.trailer_root;
    std::vector<pos> hits;
    bool scanned = false;
    for (const obj_entry& e : doc.objs) {
        if (e.in_objstm) {
            if (e.objstm_len < 8) continue;
            const uint8_t* t = doc_row_text(doc, e);
            if (t && name_find(t, 0, e.objstm_len, "Catalog") >= 0) return e.num;
            continue;
        }
        if (e.dict_pos < 0) continue;
        if (!scanned) hits = catalog_positions(doc), scanned = true;
        pos lim = e.endobj_pos > 0 ? e.endobj_pos : doc.len;
        if (catalog_in_range(doc, hits, e.dict_pos, lim)) return e.num;
    }
    return 1;
}

// Where the page tree walk starts: the catalog itself when it is a page or a
// page-tree node, else its first usable /Pages value; 0 when there is none.
int32_t doc_pages_start(const pdf_doc& doc, const obj_entry& cat) {
    int t = obj_page_type(doc.data, doc.len, cat);
    if (t == 1 || t == 2) return doc.root;
    const uint8_t* text;
    pos start, end;
    if (cat.in_objstm) {
        if (!cat.objstm_text) return 0;
        text = cat.objstm_text, start = 0, end = cat.objstm_len;
    } else {
        if (cat.dict_pos < 0) return 0;
        text = doc.data, start = cat.dict_pos, end = cat.endobj_pos > 0 ? cat.endobj_pos : doc.len;
    }
    for (pos k = name_find(text, start, end, "Pages"); k >= 0; k = name_find(text, k + 1, end, "Pages")) {
        pos p = ws_skip(text, k + 6, end);
        int32_t v = int_read(text, &p, end);
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
    std::unique_ptr<uint8_t, free_deleter> visited(
        static_cast<uint8_t*>(std::calloc(static_cast<size_t>(doc->max_obj) + 1, 1)));
    if (!visited) return set_error("out of memory"), -1;
    int r = resolve_pages(*doc, start, &doc->pages, visited.get());
    doc->pages_ok = r > 0 ? 1 : 0;
    return 0;
}

// The steps after the file is read.
int doc_load_steps(const char* path, pdf_doc* doc, int allow_encrypted) {
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

}  // namespace

int doc_load(const char* path, pdf_doc* doc, int allow_encrypted) {
    *doc = pdf_doc{};
    if (!path) return set_error("NULL path argument"), -1;
    open_file mapped_from;
    if (doc_read_file(path, doc, &mapped_from) != 0) return -1;
    int r;
    try {
        r = doc_load_steps(path, doc, allow_encrypted);
    } catch (const std::bad_alloc&) {
        set_error("out of memory");
        r = -1;
    }
    if (r == 0 && doc_check_size(path, *doc, &mapped_from) != 0) return -1;
    return r;
}
