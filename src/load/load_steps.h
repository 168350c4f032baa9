// The loader's internal steps, each in its own source file.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "load/doc.h"

// Learns /Root, /Info and /Encrypt from the trailers reached from the last
// "startxref" (trailer.cpp).
void trailer_read(pdf_doc* doc);

// Finds every object of the file by scanning for "obj", settles stream
// extents and removes false candidates; appends the rows to doc->objs in
// file order (scan_objects.cpp).
void scan_objects(pdf_doc* doc);

// Keeps one row per object number: the last direct row, else the last row
// taken from an object stream; drops object stream containers and numbers
// above 8388607, and sets doc->max_obj (doc.cpp).
void doc_select(pdf_doc* doc);

// Builds the number index that doc_find answers from; -1 when there is no
// memory for it (doc.cpp).
int doc_build_index(pdf_doc* doc);

// Flattens the page tree below obj_num into *pages (pages.cpp). `visited`
// holds doc.max_obj + 1 zeroed flags owned by the caller. Returns the number
// of rows in *pages (>= 1) on success, 0 for a node without usable kids, -1
// for a broken reference or a cycle, -2 for a direct dictionary inside /Kids.
int resolve_pages(const pdf_doc& doc, int32_t obj_num, std::vector<page_entry>* pages, uint8_t* visited);

// Appends a row; a row that cannot be stored (memory exhausted) is dropped.
template <class V, class T>
inline void vec_push(V& v, const T& row) noexcept {
    try {
        v.push_back(row);
    } catch (...) {
    }
}

// Answers find_dict_close(data, pos, len) for many positions of one buffer.
// A walk over bytes no earlier walk covered is a plain search; a walk that
// starts inside covered bytes (a dictionary nested in, or overlapping, an
// earlier one) remembers the close of every "<<" and the end of every literal
// string it passes, so such bytes are walked a bounded number of times
// (scan_objects.cpp).
class dict_closer {
public:
    dict_closer(const uint8_t* data, int32_t len) : d_(data), len_(len) {}
    // Same result as find_dict_close(data, pos, len) for a "<<" at pos.
    int32_t close(int32_t pos);
    // Same result as dict_stream_kw(data, len, pos) for a "<<" at pos.
    int32_t stream_kw(int32_t pos);

private:
    int32_t close_remembered(int32_t pos);
    int32_t string_end(int32_t pos);
    const uint8_t* d_;
    int32_t len_;
    int32_t reach_ = 0;  // bytes before this were covered by some walk
    std::unordered_map<int32_t, int32_t> closes_;   // "<<" position -> close, or -1
    std::unordered_map<int32_t, int32_t> strings_;  // "(" position -> position after its ")", or -1
    std::vector<int32_t> open_dicts_;               // work stacks
    std::vector<int32_t> open_strings_;
};
