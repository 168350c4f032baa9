// Signature dictionaries: found by their /ByteRange array.
#include "write/signatures.h"

bool doc_has_signature(const pdf_doc& doc) {
    for (const obj_entry& e : doc.objs) {
        dict_view d = doc_dict_span(doc, e);
        if (!d.text) continue;
        for (pos k = d.key("ByteRange"); k >= 0; k = name_find(d.text, k + 1, d.end, "ByteRange")) {
            pos v = ws_skip(d.text, k + 10, d.end);
            if (v < d.end && d.text[v] == '[') return true;
        }
    }
    return false;
}
