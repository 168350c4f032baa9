// Turning a write request into the changes the emitter makes.
#include "write/write_plan.h"

#include <algorithm>

#include "info/info.h"
#include "write/catalog_edit.h"
#include "xmp/xmp.h"

namespace {

// Info: the writable Info row gets the new dictionary or is dropped; without
// one a new dictionary becomes the next new object.
bool plan_info(const pdf_doc& doc, const write_request& req, const obj_entry* row, int32_t* next, planned_obj* info) {
    if (req.info == info_edit::drop) {
        if (row) *info = {obj_edit::drop, doc.info, {}};
        return true;
    }
    cstr text = info_dict_build(doc, req.values);
    if (!text) return false;
    info->body = text.get();
    info->edit = row ? obj_edit::replace : obj_edit::add;
    info->num = row ? doc.info : (*next)++;
    return true;
}

// XMP and the catalog. A Metadata reference to the catalog or the Info
// object is not obeyed: replacing or removing either would wreck the document.
void plan_xmp(const pdf_doc& doc, const write_request& req, const obj_entry* info_row, int32_t* next,
              write_plan* plan) {
    const obj_entry* stream = find_xmp_obj(doc);
    if (stream && (stream->num == doc.root || (info_row && stream->num == doc.info))) stream = nullptr;
    int32_t ref_num = -1, ref_gen = 0;
    if (req.xmp == xmp_edit::replace) {
        plan->xmp.body = req.packet;
        plan->xmp.edit = stream ? obj_edit::replace : obj_edit::add;
        plan->xmp.num = stream ? stream->num : (*next)++;
        ref_num = plan->xmp.num;
        ref_gen = stream ? stream->gen : 0;
    } else if (stream) {
        plan->xmp.edit = obj_edit::drop;
        plan->xmp.num = stream->num;
    }
    const obj_entry* root = doc.root >= 0 ? doc_find(doc, doc.root) : nullptr;
    if (catalog_rewritable(root))
        plan->catalog = {obj_edit::replace, doc.root, catalog_rewrite(doc, *root, ref_num, ref_gen)};
}

}  // namespace

int32_t containers_top(const pdf_doc& doc) {
    int32_t top = 0;
    for (const objstm_container& c : doc.containers)
        if (c.row.num <= CONTAINER_NUM_MAX) top = std::max(top, c.row.num);
    return top;
}

bool write_plan_make(const pdf_doc& doc, const write_request& req, write_plan* plan) {
    plan->span = req.span;
    plan->keep_streams = req.keep_streams;
    int32_t next = doc.max_obj + 1;
    if (req.keep_streams) next = std::max(next, containers_top(doc) + 1);
    const obj_entry* info_row = info_obj_writable(doc);
    if (!plan_info(doc, req, info_row, &next, &plan->info)) return false;
    if (req.xmp != xmp_edit::keep) plan_xmp(doc, req, info_row, &next, plan);
    return true;
}
