// Page labels: the label ranges of the catalog's /PageLabels array, each
// with its first page index, numbering style, prefix and first number.
// Number trees (/PageLabels as a dictionary) give no ranges.
#include <cstring>
#include <string>

#include "syntax/codecs.h"
#include "report/report_common.h"
#include "report/reports.h"
#include "vellix.h"

namespace {

constexpr size_t STYLE_MAX = 31;
constexpr size_t PREFIX_MAX = 127;

// The label array: its "[" at t[0], running to the end of the text that holds it.
struct label_array {
    const uint8_t* t = nullptr;
    int32_t e = 0;
};

struct label_range {
    int32_t start = 0;
    const char* style = "decimal";
    std::string prefix;
    int32_t start_num = 1;
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
void label_dict_read(const uint8_t* t, int32_t ds, int32_t avail_end, label_range& r) {
    int32_t close = find_dict_close(t, ds, avail_end);
    int32_t de = close >= 0 ? close + 2 : avail_end;
    int32_t v = value_after_key(t, ds, de, "S");
    if (v >= 0 && t[v] == '/') {
        int32_t q = v + 1;
        while (q < de && (is_name_cont(t[q]) || t[q] == '#')) ++q;
        size_t n = static_cast<size_t>(q - v - 1);
        r.style = label_style(t + v + 1, n < STYLE_MAX ? n : STYLE_MAX);
    }
    v = value_after_key(t, ds, de, "P");
    if (v >= 0) {
        cstr s;
        if (t[v] == '(')
            s = parse_literal_string(t, de, v);
        else if (t[v] == '<' && !(v + 1 < de && t[v + 1] == '<'))
            s = parse_hex_string(t, de, v);
        if (s) r.prefix.assign(s.get(), strnlen(s.get(), PREFIX_MAX));
    }
    v = value_start_after(t, de, ds, "St");
    if (v >= 0 && v < de) {
        int32_t n = parse_int_at(t, de, &v);
        r.start_num = n >= 1 ? n : 1;
    }
}

// Label dictionary given by reference: the object's span must open with "<<".
void label_dict_by_ref(const pdf_doc& doc, int32_t num, label_range& r) {
    const obj_entry* e = doc_find(doc, num);
    if (!e) return;
    dict_region dr = doc_dict_span(doc, *e);
    if (!dr.text) return;
    int32_t p = skip_ws(dr.text, dr.start, dr.end);
    if (p + 1 < dr.end && dr.text[p] == '<' && dr.text[p + 1] == '<') label_dict_read(dr.text, p, dr.end, r);
}

void label_write(strbuf& b, const label_range& r, bool& first) {
    if (!first) buf_bytes(&b, ",", 1);
    first = false;
    buf_str(&b, "{\"start\":");
    buf_int(&b, r.start);
    buf_str(&b, ",\"style\":");
    json_str_append(&b, r.style);
    buf_str(&b, ",\"prefix\":");
    json_str_append(&b, r.prefix.c_str());
    buf_str(&b, ",\"start_num\":");
    buf_int(&b, r.start_num);
    buf_bytes(&b, "}", 1);
}

// A labelled range [start value] whose "[" is at a.t[pos]; writes it and
// returns the position after its closing bracket (or the array's end).
int32_t label_range_read(const pdf_doc& doc, const label_array& a, int32_t pos, strbuf& b, bool& first) {
    label_range r;
    int32_t p = skip_ws(a.t, pos + 1, a.e);
    if (p >= a.e) {
        label_write(b, r, first);
        return a.e;
    }
    if (is_digit(a.t[p])) {
        r.start = parse_int_at(a.t, a.e, &p);
        p = skip_ws(a.t, p, a.e);
    }
    if (p + 1 < a.e && a.t[p] == '<' && a.t[p + 1] == '<') {
        label_dict_read(a.t, p, a.e, r);
    } else if (p < a.e && is_digit(a.t[p])) {
        int32_t n = parse_ref_at(a.t, a.e, p);
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
    int32_t p = skip_ws(a.t, 1, a.e);
    while (p < a.e) {
        uint8_t c = a.t[p];
        if (c == ']') break;
        if (c == '[') {
            p = label_range_read(doc, a, p, b, first);
        } else if (is_digit(c)) {
            int32_t n = parse_int_at(a.t, a.e, &p);
            if (!first) buf_bytes(&b, ",", 1);
            first = false;
            buf_str(&b, "{\"start\":");
            buf_int(&b, n);
            buf_str(&b, ",\"style\":\"decimal\",\"prefix\":\"\",\"start_num\":1}");
        } else {
            ++p;
        }
        p = skip_ws(a.t, p, a.e);
    }
}

// The array a /PageLabels reference points to: a bare array object in the
// file body (after its header) or in an object stream.
bool label_array_by_ref(const pdf_doc& doc, int32_t num, label_array& out) {
    const obj_entry* e = doc_find(doc, num);
    if (!e || e->has_stream || e->dict_pos >= 0) return false;
    const uint8_t* t;
    int32_t start, end;
    if (e->in_objstm) {
        if (!e->objstm_text || e->objstm_len <= 0) return false;
        t = e->objstm_text;
        start = skip_ws(t, 0, e->objstm_len);
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
    if (doc.root < 0) return false;
    const obj_entry* cat = doc_find(doc, doc.root);
    if (!cat) return false;
    dict_region r = doc_dict_span(doc, *cat);
    if (!r.text) return false;
    int32_t v = value_after_key(r, "PageLabels");
    if (v < 0) return false;
    if (r.text[v] == '[') {
        out = {r.text + v, r.end - v};
        return true;
    }
    if (!is_digit(r.text[v])) return false;
    int32_t n = parse_ref_at(r.text, r.end, v);
    return n > 0 && label_array_by_ref(doc, n, out);
}

}  // namespace

bool page_labels_build(const pdf_doc& doc, strbuf& b) {
    buf_bytes(&b, "[", 1);
    label_array a;
    if (label_array_find(doc, a)) label_array_write(doc, a, b);
    buf_bytes(&b, "]", 1);
    return true;
}
