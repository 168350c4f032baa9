// The loader's internal steps, each in its own source file.
#pragma once

#include <cstdint>
#include <vector>

#include "load/doc.h"

// Learns /Root, /Info and /Encrypt from the trailers reached from the last
// "startxref" (trailer.cpp).
void trailer_read(pdf_doc* doc);

// Finds every object of the file by scanning for "obj", settles stream
// extents and removes false candidates; appends the rows to doc->objs in
// file order (scan_objects.cpp).
void scan_objects(pdf_doc* doc);

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
