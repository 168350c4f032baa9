// The object graph read as the PDF standard defines it: values, references
// followed to their objects, top-level dictionary entries and array
// elements. Every walk built on it is bounded: reference chains are cut at
// a fixed length, and the callers keep visited sets (visit_set) for trees.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "load/doc.h"
#include "syntax/lexer.h"

// A value: its first byte is text[start]; text[start, end) bounds the text it
// lies in (not the value's own end). A null text means "no value".
struct pdf_val {
    const uint8_t* text = nullptr;
    pos start = 0;
    pos end = 0;

    explicit operator bool() const { return text != nullptr && start < end; }
    uint8_t first() const { return *this ? text[start] : 0; }
    bool is_dict() const { return *this && start + 1 < end && text[start] == '<' && text[start + 1] == '<'; }
    bool is_array() const { return first() == '['; }
    bool is_name() const { return first() == '/'; }
    bool is_string() const { return first() == '(' || (first() == '<' && !is_dict()); }
    // Exclusive end of the value itself, or -1 (graph_detail::val_end).
    pos value_end() const;
};

// The value of object `num`: an object-stream member's text, or what follows
// "N G obj" of a file-body row. None when the table has no such object.
pdf_val graph_object(const pdf_doc& doc, int32_t num);

// Object number of the reference "N G R" that v is, or -1.
int32_t val_ref(pdf_val v);

// v itself, or, when v is a reference, the value of the object it names
// (chains of references followed up to 32 links). None for a reference to a
// missing object.
pdf_val graph_resolve(const pdf_doc& doc, pdf_val v);

// The value of /key among the top-level entries of the dictionary v (keys
// compared after #xx decoding; the last entry of that key wins, as readers
// of the standard do not define duplicates). Not resolved. None when v is no
// dictionary or has no such key.
pdf_val dict_get_raw(pdf_val dict, std::string_view key);
// dict_get_raw, then graph_resolve.
pdf_val dict_get(const pdf_doc& doc, pdf_val dict, std::string_view key);

// Calls f(key, value) for each top-level entry of the dictionary v, in order,
// with the key #xx-decoded; stops when f returns false or the text is
// malformed.
template <class F>
void dict_each(pdf_val dict, F&& f);

// Calls f(element) for each element of the array v (a reference counts as one
// element); stops when f returns false or the text is malformed.
template <class F>
void array_each(pdf_val arr, F&& f);

// Readers of simple values; false / empty when v is not of that kind.
bool val_int(pdf_val v, int64_t* out);
bool val_number(pdf_val v, double* out);
// The #xx-decoded name without its solidus; empty when v is no name.
std::string val_name(pdf_val v);
// The bytes a literal or hexadecimal string denotes (zero bytes kept).
bool val_string(pdf_val v, std::string* out);

// Object numbers seen by one walk; first_visit is false from the second call
// with the same number on, and always false for numbers not in the table.
class visit_set {
public:
    explicit visit_set(const pdf_doc& doc);
    bool first_visit(int32_t num);

private:
    const pdf_doc& doc_;
    std::vector<bool> seen_;
};

// Page object number -> 1-based page index (the first page naming it), from
// the document's page list.
class page_index {
public:
    explicit page_index(const pdf_doc& doc);
    // 1-based index of the page whose object is `num`, or 0.
    int32_t of(int32_t num) const;

private:
    const pdf_doc& doc_;
    std::vector<int32_t> index_;
};

// Calls f(num) for every reference "N G R" in t[start, end): strings,
// comments and names are skipped, so "1 0 R" inside a string is no reference.
template <class F>
void refs_each(const uint8_t* t, pos start, pos end, F&& f);

// --- Implementation of the templates ---------------------------------------

namespace graph_detail {
// First position >= p that is neither PDF white space nor inside a comment.
pos skip_ws_comments(const uint8_t* t, pos p, pos end);
// The #xx-decoded name whose bytes are t[p, e).
std::string name_bytes(const uint8_t* t, pos p, pos e);
// End of the run of regular characters from p (a name's bytes end at white
// space or a delimiter).
pos regular_run_end(const uint8_t* t, pos p, pos end);
// End (exclusive) of the value at p: names end at white space or a
// delimiter, everything else as value_end measures it. -1 when unmeasured.
pos val_end(const uint8_t* t, pos p, pos end);
}  // namespace graph_detail

inline pos pdf_val::value_end() const { return *this ? graph_detail::val_end(text, start, end) : -1; }

template <class F>
void dict_each(pdf_val d, F&& f) {
    if (!d.is_dict()) return;
    const uint8_t* t = d.text;
    pos p = d.start + 2;
    for (;;) {
        p = graph_detail::skip_ws_comments(t, p, d.end);
        if (p >= d.end || t[p] != '/') return;  // ">>", the end, or malformed
        pos ke = graph_detail::regular_run_end(t, p + 1, d.end);
        // Most keys hold no #xx escape: they are viewed in place, not copied.
        std::string_view raw(reinterpret_cast<const char*>(t + p + 1), static_cast<size_t>(ke - p - 1));
        std::string decoded;
        if (raw.find('#') != std::string_view::npos) decoded = graph_detail::name_bytes(t, p + 1, ke);
        std::string_view key = decoded.empty() ? raw : std::string_view(decoded);
        pos v = graph_detail::skip_ws_comments(t, ke, d.end);
        pos ve = graph_detail::val_end(t, v, d.end);
        if (ve < 0 || ve <= v) return;
        if (!f(key, pdf_val{t, v, d.end})) return;
        p = ve;
    }
}

template <class F>
void array_each(pdf_val a, F&& f) {
    if (!a.is_array()) return;
    const uint8_t* t = a.text;
    pos p = a.start + 1;
    for (;;) {
        p = graph_detail::skip_ws_comments(t, p, a.end);
        if (p >= a.end || t[p] == ']') return;
        pos ve = graph_detail::val_end(t, p, a.end);
        if (ve < 0 || ve <= p) return;
        if (!f(pdf_val{t, p, a.end})) return;
        p = ve;
    }
}

template <class F>
void refs_each(const uint8_t* t, pos start, pos end, F&& f) {
    int64_t a = -1, b = -1;  // the last two integers, in order
    pos p = start;
    while (p < end) {
        uint8_t c = t[p];
        if (is_pdf_ws(c)) {
            ++p;
        } else if (c == '%') {
            while (p < end && t[p] != '\r' && t[p] != '\n') ++p;
        } else if (c == '(') {
            p = literal_end(t, p, end);
            if (p < 0) return;
            a = b = -1;
        } else if (c == '<' && p + 1 < end && t[p + 1] == '<') {
            p += 2;  // a dictionary opens; its second '<' starts no string
            a = b = -1;
        } else if (c == '<') {
            p = hex_end(t, p, end);
            if (p < 0) return;
            a = b = -1;
        } else if (is_digit(c)) {
            int64_t v = 0;
            while (p < end && is_digit(t[p])) {
                if (v < (1 << 30)) v = v * 10 + (t[p] - '0');
                ++p;
            }
            if (p < end && t[p] == '.') {
                a = b = -1;
            } else {
                a = b;
                b = v;
            }
        } else if (c == 'R' && (p + 1 >= end || !is_name_cont(t[p + 1]))) {
            if (a > 0 && b >= 0 && a <= INT32_MAX) f(static_cast<int32_t>(a));
            a = b = -1;
            ++p;
        } else if (is_name_cont(c) || c == '/' || c == '#') {
            ++p;
            while (p < end && (is_name_cont(t[p]) || t[p] == '#' || t[p] == '.')) ++p;
            a = b = -1;
        } else {
            ++p;
            a = b = -1;
        }
    }
}
