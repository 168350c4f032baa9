// Pieces shared by the document reports: the call flow of a report export
// and the row index of a table entry. Key lookups go through dict_view.
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

// The flow shared by the report exports: empty the slot and the message,
// check the path, load, let `build` write the text, release the document and
// publish. `build(doc, buf)` returns false when it has already recorded a
// failure. Exceptions (memory exhausted in a container) become "failed to
// build JSON".
template <class F>
const char* report_export(result_slot& slot, const char* path, int allow_encrypted, F&& build) noexcept {
    return export_guard<const char*>(nullptr, "failed to build JSON", [&]() -> const char* {
        slot.reset();
        clear_error();
        if (!path) {
            set_error("NULL path argument");
            return nullptr;
        }
        pdf_doc doc;
        if (doc_load_ex(path, &doc, allow_encrypted) != 0) return nullptr;
        strbuf b = strbuf_start();
        bool ok = build(static_cast<const pdf_doc&>(doc), b);
        doc = pdf_doc{};  // the bytes go back before the text is published
        if (!ok) return nullptr;
        return slot_publish(slot, b, "failed to build JSON");
    });
}
