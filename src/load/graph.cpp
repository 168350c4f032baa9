// Values, references and containers of the object graph.
#include "load/graph.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "syntax/codecs.h"

namespace graph_detail {

constexpr bool is_delim(uint8_t c) {
    return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' || c == '/' ||
           c == '%';
}

pos skip_ws_comments(const uint8_t* t, pos p, pos end) {
    while (p < end) {
        if (is_pdf_ws(t[p])) {
            ++p;
        } else if (t[p] == '%') {
            while (p < end && t[p] != '\n' && t[p] != '\r') ++p;
        } else {
            break;
        }
    }
    return p;
}

namespace {

// Which bytes are regular characters (neither white space nor a delimiter).
struct regular_table {
    bool regular[256];
    constexpr regular_table() : regular() {
        for (int c = 0; c < 256; ++c) regular[c] = !is_pdf_ws(static_cast<uint8_t>(c)) && !is_delim(static_cast<uint8_t>(c));
    }
};
constexpr regular_table REGULAR;

}  // namespace

pos regular_run_end(const uint8_t* t, pos p, pos end) {
    while (p < end && REGULAR.regular[t[p]]) ++p;
    return p;
}

std::string name_bytes(const uint8_t* t, pos p, pos e) {
    const char* first = reinterpret_cast<const char*>(t + p);
    if (e > p && !std::memchr(first, '#', static_cast<size_t>(e - p))) return std::string(first, static_cast<size_t>(e - p));
    std::string out;
    out.reserve(static_cast<size_t>(e - p));
    for (pos i = p; i < e; ++i) {
        if (t[i] == '#') {
            int hi = i + 1 < e ? hex_value(t[i + 1]) : -1;
            int lo = i + 2 < e ? hex_value(t[i + 2]) : -1;
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(static_cast<char>(t[i]));
    }
    return out;
}

pos val_end(const uint8_t* t, pos p, pos end) {
    if (p < 0 || p >= end) return -1;
    if (t[p] == '/') return regular_run_end(t, p + 1, end);
    return ::value_end(t, p, end);
}

}  // namespace graph_detail

pdf_val graph_object(const pdf_doc& doc, int32_t num) {
    const obj_entry* e = num > 0 ? doc_find(doc, num) : nullptr;
    if (!e) return {};
    if (e->in_objstm) {
        dict_view d = doc_dict_span(doc, *e);
        if (!d.text) return {};
        pos p = graph_detail::skip_ws_comments(d.text, d.start, d.end);
        return {d.text, p, d.end};
    }
    obj_body b = doc_obj_body(doc, *e);
    if (b.start >= b.end) return {};
    pos p = graph_detail::skip_ws_comments(doc.data, b.start, b.end);
    return {doc.data, p, b.end};
}

int32_t val_ref(pdf_val v) {
    if (!v || !is_digit(v.first())) return -1;
    return ref_read(v.text, v.start, v.end);
}

pdf_val graph_resolve(const pdf_doc& doc, pdf_val v) {
    for (int links = 0; links < 32; ++links) {
        int32_t n = val_ref(v);
        if (n < 0) return v;
        v = graph_object(doc, n);
    }
    return {};
}

pdf_val dict_get_raw(pdf_val dict, std::string_view key) {
    pdf_val found;
    dict_each(dict, [&](std::string_view k, pdf_val v) {
        if (k == key) found = v;
        return true;
    });
    return found;
}

pdf_val dict_get(const pdf_doc& doc, pdf_val dict, std::string_view key) {
    return graph_resolve(doc, dict_get_raw(dict, key));
}

bool val_int(pdf_val v, int64_t* out) {
    double d = 0;
    if (!val_number(v, &d) || d != std::floor(d) || std::fabs(d) > 9.0e18) return false;
    *out = static_cast<int64_t>(d);
    return true;
}

bool val_number(pdf_val v, double* out) {
    if (!v) return false;
    uint8_t c = v.first();
    if (!(is_digit(c) || c == '-' || c == '+' || c == '.')) return false;
    pos e = v.start;
    if (v.text[e] == '+' || v.text[e] == '-') ++e;
    pos digits = e;
    while (e < v.end && (is_digit(v.text[e]) || v.text[e] == '.')) ++e;
    if (e == digits || e - v.start > 40) return false;
    std::string s(reinterpret_cast<const char*>(v.text + v.start), static_cast<size_t>(e - v.start));
    *out = std::strtod(s.c_str(), nullptr);
    return std::isfinite(*out);
}

std::string val_name(pdf_val v) {
    if (!v.is_name()) return {};
    pos e = graph_detail::regular_run_end(v.text, v.start + 1, v.end);
    return graph_detail::name_bytes(v.text, v.start + 1, e);
}

bool val_string(pdf_val v, std::string* out) {
    if (!v.is_string()) return false;
    pos e = v.value_end();
    if (e < 0) e = v.end;  // unterminated: decoded up to the end, as the byte rules do
    strbuf b;
    if (v.first() == '(') {
        if (!literal_decode_to(v.text, v.start, e, &b)) return false;
    } else {
        if (!hex_decode_to(v.text, v.start, e, &b)) return false;
    }
    out->assign(b.data ? b.data : "", b.len);
    return true;
}

// Both tables are indexed by the row doc_find answers with, so their size is
// that of the object table whatever the object numbers are.
visit_set::visit_set(const pdf_doc& doc) : doc_(doc), seen_(doc.objs.size(), false) {}

bool visit_set::first_visit(int32_t num) {
    int64_t row = num > 0 ? doc_.by_num.row(num) : -1;
    if (row < 0 || seen_[static_cast<size_t>(row)]) return false;
    seen_[static_cast<size_t>(row)] = true;
    return true;
}

page_index::page_index(const pdf_doc& doc) : doc_(doc), index_(doc.objs.size(), 0) {
    for (size_t i = doc.pages.size(); i-- > 0;) {
        int32_t n = doc.pages[i].page_obj;
        int64_t row = n > 0 ? doc.by_num.row(n) : -1;
        if (row >= 0) index_[static_cast<size_t>(row)] = static_cast<int32_t>(i + 1);
    }
}

int32_t page_index::of(int32_t num) const {
    int64_t row = num > 0 ? doc_.by_num.row(num) : -1;
    return row >= 0 ? index_[static_cast<size_t>(row)] : 0;
}
