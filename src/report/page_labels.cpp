// Page labels: the label ranges of the catalog's /PageLabels array, each
// with its first page index, numbering style, prefix and first number.
// Number trees (/PageLabels as a dictionary) give no ranges here; with
// OPT_RESOLVE the standard reading (page_labels_resolve.cpp) runs instead.
#include <cstring>
#include <string>

#include "core/options.h"
#include "syntax/codecs.h"
#include "report/nav_resolve.h"
#include "report/report_common.h"
#include "report/reports.h"

namespace {

constexpr size_t STYLE_MAX = 31;
constexpr size_t PREFIX_MAX = 127;

// The label array: its "[" at t[0], running to the end of the text that holds it.
struct label_array {
    const uint8_t* t = nullptr;
    pos e = 0;
};

const char* label_style(const uint8_t* name, size_t n) {
    if (n == 1) {
        switch (name[0]) {
            case 'D': return "decimal";
            case 'R': return "roman_upper";
            case 'r': return "roman_lower";
            case 'A': return "alpha_upper";
            case 'a': return "alpha_lower";
            default: break;
        }
    }
    return "decimal";
}

// Reads /S, /P and /St of the label dictionary whose "<<" is at t[ds]; the
// dictionary may extend to avail_end at most.
void label_dict_read(const uint8_t* t, pos ds, pos avail_end, label_range& r) {
    pos close = dict_close(t, ds, avail_end);
    const dict_view d{t, ds, close >= 0 ? close + 2 : avail_end};
    pos v = d.value("S");
    if (v >= 0 && t[v] == '/') {
        size_t n = static_cast<size_t>(name_run_end(t, v + 1, d.end) - v - 1);
        r.style = label_style(t + v + 1, n < STYLE_MAX ? n : STYLE_MAX);
    }
    v = d.value("P");
    if (v >= 0 && option_on(OPT_UNICODE)) {
        // The whole prefix, zero bytes included, for the decoded text.
        strbuf s;
        if (!(t[v] == '<' && dict_opens(t, v, d.end)))
            if (!literal_decode_to(t, v, d.end, &s)) hex_decode_to(t, v, d.end, &s);
        r.prefix.assign(s.data ? s.data : "", s.len);
    } else if (v >= 0) {
        cstr s;
        if (t[v] == '(')
            s = literal_decode(t, v, d.end);
        else if (t[v] == '<' && !dict_opens(t, v, d.end))
            s = hex_decode(t, v, d.end);
        if (s) r.prefix.assign(s.get(), strnlen(s.get(), PREFIX_MAX));
    }
    // Without /St the first number stays 1, as for a value below 1.
    int32_t n = d.int_value("St", 1);
    r.start_num = n >= 1 ? n : 1;
}

// Label dictionary given by reference: the object's span must open with "<<".
void label_dict_by_ref(const pdf_doc& doc, int32_t num, label_range& r) {
    const obj_entry* e = doc_find(doc, num);
    if (!e) return;
    dict_view dr = doc_dict_span(doc, *e);
    if (!dr.text) return;
    pos p = ws_skip(dr.text, dr.start, dr.end);
    if (dict_opens(dr.text, p, dr.end)) label_dict_read(dr.text, p, dr.end, r);
}

// A labelled range [start value] whose "[" is at a.t[pos]; writes it and
// returns the position after its closing bracket (or the array's end).
pos label_range_read(const pdf_doc& doc, const label_array& a, pos at, strbuf& b, bool& first) {
    label_range r;
    pos p = ws_skip(a.t, at + 1, a.e);
    if (p >= a.e) {
        label_write(b, r, first);
        return a.e;
    }
    if (is_digit(a.t[p])) {
        r.start = int_read(a.t, &p, a.e);
        p = ws_skip(a.t, p, a.e);
    }
    if (dict_opens(a.t, p, a.e)) {
        label_dict_read(a.t, p, a.e, r);
    } else if (p < a.e && is_digit(a.t[p])) {
        int32_t n = ref_read(a.t, p, a.e);
        if (n > 0) label_dict_by_ref(doc, n, r);
    }
    int32_t depth = 1;
    while (p < a.e) {
        uint8_t c = a.t[p++];
        if (c == '[') {
            ++depth;
        } else if (c == ']' && --depth == 0) {
            break;
        }
    }
    label_write(b, r, first);
    return p;
}

void label_array_write(const pdf_doc& doc, const label_array& a, strbuf& b) {
    if (a.e <= 1) return;
    bool first = true;
    pos p = ws_skip(a.t, 1, a.e);
    while (p < a.e) {
        uint8_t c = a.t[p];
        if (c == ']') break;
        if (c == '[') {
            p = label_range_read(doc, a, p, b, first);
        } else if (is_digit(c)) {
            int32_t n = int_read(a.t, &p, a.e);
            if (!first) buf_bytes(&b, ",", 1);
            first = false;
            buf_str(&b, "{\"start\":");
            buf_int(&b, n);
            buf_str(&b, ",\"style\":\"decimal\",\"prefix\":\"\",\"start_num\":1}");
        } else {
            ++p;
        }
        p = ws_skip(a.t, p, a.e);
    }
}

// The array a /PageLabels reference points to: a bare array object in the
// file body (after its header) or in an object stream.
bool label_array_by_ref(const pdf_doc& doc, int32_t num, label_array& out) {
    const obj_entry* e = doc_find(doc, num);
    if (!e || e->has_stream || e->dict_pos >= 0) return false;
    const uint8_t* t;
    pos start, end;
    if (e->in_objstm) {
        if (!e->objstm_text || e->objstm_len <= 0) return false;
        t = e->objstm_text;
        start = ws_skip(t, 0, e->objstm_len);
        end = e->objstm_len;
    } else {
        obj_body body = doc_obj_body(doc, *e);
        t = doc.data;
        start = body.start;
        end = body.end;
    }
    if (start >= end || t[start] != '[') return false;
    out = {t + start, end - start};
    return true;
}

bool label_array_find(const pdf_doc& doc, label_array& out) {
    dict_view r = doc_catalog_dict(doc);
    if (!r.text) return false;
    pos v = r.value("PageLabels");
    if (v < 0) return false;
    if (r.text[v] == '[') {
        out = {r.text + v, r.end - v};
        return true;
    }
    if (!is_digit(r.text[v])) return false;
    int32_t n = ref_read(r.text, v, r.end);
    return n > 0 && label_array_by_ref(doc, n, out);
}

}  // namespace

bool page_labels_build(const pdf_doc& doc, strbuf& b) {
    if (option_on(OPT_RESOLVE)) return page_labels_build_resolved(doc, b);
    buf_bytes(&b, "[", 1);
    label_array a;
    if (label_array_find(doc, a)) label_array_write(doc, a, b);
    buf_bytes(&b, "]", 1);
    return true;
}
