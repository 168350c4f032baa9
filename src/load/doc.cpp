// The lookups every reader makes in a loaded document.
#include "load/doc.h"

const obj_entry* doc_find(const pdf_doc& doc, int32_t num) {
    int64_t k = doc.by_num.row(num);
    if (k < 0) return nullptr;
    const obj_entry& e = doc.objs[static_cast<size_t>(k)];
    if (e.objstm_stream >= 0 && !e.objstm_text) {
        // The row is an element of the document's own table, which is not
        // itself const: only its text pointer is filled in.
        const_cast<obj_entry&>(e).objstm_text = doc_row_text(doc, e);
    }
    return &e;
}

dict_view doc_dict_span(const pdf_doc& doc, const obj_entry& e) {
    if (e.in_objstm) {
        const uint8_t* t = doc_row_text(doc, e);
        return {t, 0, t ? e.objstm_len : 0};
    }
    if (e.dict_pos < 0) return {};
    pos end = e.stream_kw > 0 ? e.stream_kw : e.endobj_pos > 0 ? e.endobj_pos : doc.len;
    return {doc.data, e.dict_pos, end};
}

dict_view doc_catalog_dict(const pdf_doc& doc) {
    const obj_entry* cat = doc.root >= 0 ? doc_find(doc, doc.root) : nullptr;
    return cat ? doc_dict_span(doc, *cat) : dict_view{};
}

obj_body doc_obj_body(const pdf_doc& doc, const obj_entry& e) {
    if (e.obj_pos < 0) return {};
    return {obj_value_start(doc.data, e.obj_pos, doc.len), e.endobj_pos > 0 ? e.endobj_pos : doc.len};
}
