#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "syntax/codecs.h"
#include "core/date.h"
#include "core/frame.h"
#include "syntax/lexer.h"
#include "info/info_build.h"
#include "write/writer.h"
#include "xmp/xmp.h"

namespace {

constexpr int32_t METADATA_KEY_LEN = 9;  // "/Metadata"

// Tests the /Metadata key whose solidus is at p. Returns the end of the bytes
// to remove (key, reference and the white space after the R) or -1 when no
// reference follows; *reach is one past the last byte the test looked at.
int32_t metadata_ref_end(const uint8_t* t, int32_t n, int32_t p, int32_t* reach) {
    int32_t v = ws_skip(t, p + METADATA_KEY_LEN, n);
    *reach = v + 1;
    if (v >= n || !is_digit(t[v]) || ref_read(t, v, n) <= 0) {
        // ref_read reads at most: digits, white space, digits, white space, R, one byte.
        int32_t i = v;
        for (int part = 0; part < 2 && i < n; ++part) {
            while (i < n && is_digit(t[i])) ++i;
            i = ws_skip(t, i, n);
        }
        *reach = std::max(*reach, i + 2);
        return -1;
    }
    int32_t i = v;
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
    int32_t pos;    // solidus of a /Metadata key left in place
    int32_t reach;  // one past the last byte its test looked at
};

bool catalog_rewritable(const obj_entry* e) { return e && !e->has_stream && (e->in_objstm || e->dict_pos >= 0); }

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

// Catalog text without its Metadata references and, when meta_num >= 0, with
// a new reference before the close of its first dictionary.
std::string catalog_rewrite(const pdf_doc& doc, const obj_entry& e, int32_t meta_num, int32_t meta_gen) {
    std::string text = catalog_text(doc, e);
    int32_t n = static_cast<int32_t>(text.size());
    text.push_back('\0');
    dict_remove_metadata_ref(text.data(), &n);
    text.resize(static_cast<size_t>(n));
    if (meta_num >= 0) {
        int32_t close = dict_close(reinterpret_cast<const uint8_t*>(text.data()), 0, n);
        if (close >= 0) {
            char ref[64];
            int k = std::snprintf(ref, sizeof ref, " /Metadata %ld %ld R", static_cast<long>(meta_num),
                                  static_cast<long>(meta_gen));
            text.insert(static_cast<size_t>(close), ref, static_cast<size_t>(k));
        }
    }
    return text;
}

// The Info text from eight caller values (null: carry the old value, or for
// the dates write today). Null with *bad_date set when a date is refused
// (message already set), null alone when memory ran out.
cstr info_text_from_fields(const pdf_doc& doc, const char* const* fields, bool* bad_date) {
    info_pairs pairs;
    info_collect_doc(doc, &pairs);
    char today[DATE_BUF];
    today_pdf_date(today);
    strbuf b = strbuf_start();
    bool ok = buf_bytes(&b, "<<", 2) != nullptr;
    for (int f = 0; f < INFO_FIELD_COUNT && ok; ++f) {
        bool is_date = f == FIELD_CREATION_DATE || f == FIELD_MOD_DATE;
        const char* v = fields[f];
        if (v) {
            char date[DATE_BUF];
            if (is_date) {
                if (normalize_write_date(v, date) != 0) {
                    set_error("bad date for %s: %s", INFO_KEYS[f], v);
                    *bad_date = true;
                    return cstr();
                }
                v = date;
            }
            ok = buf_str(&b, " /") && buf_str(&b, INFO_KEYS[f]) && buf_bytes(&b, " ", 1) && pdf_escape_literal(&b, v);
        } else if (pairs[f].present) {
            ok = info_pair_append(&b, pairs[f]);
        } else if (is_date) {
            ok = buf_str(&b, " /") && buf_str(&b, INFO_KEYS[f]) && buf_bytes(&b, " ", 1) &&
                 pdf_escape_literal(&b, today);
        }
    }
    ok = ok && buf_bytes(&b, ">>", 2);
    if (!ok || b.len == 0) return cstr();
    return cstr(b.release());
}

}  // namespace

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
        int32_t q = name_find(t + h, 0, n - h, "Metadata");
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

int doc_write2(const pdf_doc& doc, const char* out_path, int info_flag, int xmp_mode, const char* packet,
               int32_t packet_len, const char* const* fields) {
    if (!out_path) {
        set_error("NULL output path");
        return 0;
    }
    bool has_info = writer_info_in_table(doc);
    write_plan plan;
    cstr info_text;
    int32_t next = doc_top_num(doc) + 1;
    if (info_flag == 1) {
        bool bad_date = false;
        info_text = fields ? info_text_from_fields(doc, fields, &bad_date)
                           : build_info_dict(doc, nullptr, nullptr, nullptr, nullptr);
        if (!info_text) {
            if (!bad_date) set_error("failed to build the Info dict");
            return 0;
        }
        plan.info_text = info_text.get();
        plan.info_len = std::strlen(info_text.get());
        plan.trailer_info = true;
        if (has_info) {
            plan.info_num = doc.info;
        } else {
            plan.info_new = true;
            plan.info_new_num = next++;
        }
    } else if (has_info) {
        plan.info_num = doc.info;
        plan.info_drop = true;
    }

    std::string cat;
    if (xmp_mode == 1 || xmp_mode == 3) {
        const obj_entry* meta = find_xmp_obj(doc);
        // A Metadata reference to the catalog or the Info object is not obeyed:
        // replacing or removing either would wreck the document.
        if (meta && (meta->num == doc.root || (has_info && meta->num == doc.info))) meta = nullptr;
        int32_t ref_num = -1, ref_gen = 0;
        if (xmp_mode == 1) {
            plan.packet = reinterpret_cast<const uint8_t*>(packet);
            plan.packet_len = packet && packet_len > 0 ? static_cast<uint64_t>(packet_len) : 0;
            if (meta) {
                plan.meta_num = meta->num;
                ref_num = meta->num;
                ref_gen = meta->gen;
            } else {
                plan.meta_new = true;
                plan.meta_new_num = next++;
                ref_num = plan.meta_new_num;
            }
        } else if (meta) {
            plan.meta_num = meta->num;
            plan.meta_drop = true;
        }
        const obj_entry* root = doc.root >= 0 ? doc_find(doc, doc.root) : nullptr;
        if (catalog_rewritable(root)) {
            cat = catalog_rewrite(doc, *root, ref_num, ref_gen);
            plan.cat_num = doc.root;
            plan.cat_text = reinterpret_cast<const uint8_t*>(cat.data());
            plan.cat_len = cat.size();
        }
    }
    out_pieces out;
    if (!doc_emit_pieces(doc, plan, &out)) return 0;
    return write_output_pieces(out_path, out);
}
