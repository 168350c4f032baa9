// Pieces shared by the document reports: small readers of key values inside
// a dictionary span.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/frame.h"
#include "core/strbuf.h"
#include "load/doc.h"
#include "syntax/lexer.h"

// Position of the first byte after the key /name and the PDF white space that
// follows it, searched in text[start, end). -1 when the key is absent, ends at
// end, or only white space follows it up to end.
inline int32_t value_after_key(const uint8_t* text, int32_t start, int32_t end, const char* name) {
    int32_t k = find_name(text, end, start, end, name);
    if (k < 0) return -1;
    int32_t p = k + 1 + static_cast<int32_t>(std::strlen(name));
    if (p >= end) return -1;
    p = skip_ws(text, p, end);
    return p < end ? p : -1;
}

inline int32_t value_after_key(const dict_region& r, const char* name) {
    return value_after_key(r.text, r.start, r.end, name);
}

// Object number of the reference N G R that is the value of /name, or -1.
inline int32_t ref_after_key(const dict_region& r, const char* name) {
    int32_t p = value_after_key(r, name);
    if (p < 0 || !is_digit(r.text[p])) return -1;
    int32_t n = parse_ref_at(r.text, r.end, p);
    return n > 0 ? n : -1;
}

// Integer read in place at the value of /name (value_start_after), or
// `absent` when the key is missing or its value lies at or past end.
inline int32_t int_after_key(const dict_region& r, const char* name, int32_t absent) {
    int32_t v = value_start_after(r.text, r.end, r.start, name);
    if (v < 0 || v >= r.end) return absent;
    return parse_int_at(r.text, r.end, &v);
}

// The body of a file-body object: the bytes after "N G obj" and white space,
// up to "endobj" (or the end of the file). Empty (start >= end) when the row
// has no header position.
struct obj_body {
    int32_t start = 0;
    int32_t end = 0;
};

inline obj_body doc_obj_body(const pdf_doc& doc, const obj_entry& e) {
    obj_body b;
    if (e.obj_pos < 0) return b;
    const uint8_t* d = doc.data;
    int32_t len = doc.len;
    int32_t p = skip_ws(d, e.obj_pos, len);
    while (p < len && is_digit(d[p])) ++p;
    p = skip_ws(d, p, len);
    while (p < len && is_digit(d[p])) ++p;
    p = skip_ws(d, p, len);
    if (kw_at(d, p, len, "obj")) p = skip_ws(d, p + 3, len);
    b.start = p;
    b.end = e.endobj_pos > 0 ? e.endobj_pos : len;
    return b;
}

// Index of a row within the document's table (rows come from doc_find).
inline size_t doc_row(const pdf_doc& doc, const obj_entry* e) {
    return static_cast<size_t>(e - doc.objs.data());
}
