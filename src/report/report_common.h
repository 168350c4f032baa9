// Pieces shared by the document reports: the row index of a table entry.
// Key lookups go through dict_view.
#pragma once

#include <cstdint>

#include "core/frame.h"
#include "core/strbuf.h"
#include "load/doc.h"
#include "syntax/dict_view.h"
#include "syntax/lexer.h"

// Index of a row within the document's table (rows come from doc_find).
inline size_t doc_row(const pdf_doc& doc, const obj_entry* e) {
    return static_cast<size_t>(e - doc.objs.data());
}
