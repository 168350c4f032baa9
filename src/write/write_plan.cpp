// Turning a write request into the changes the emitter makes.
#include "write/write_plan.h"

#include <algorithm>

#include "core/date.h"
#include "core/frame.h"
#include "info/info.h"
#include "write/catalog_edit.h"
#include "write/sync.h"
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

// XMP and the catalog: `body` is the stream's new packet, or null to drop
// the stream. A Metadata reference to the catalog or the Info object is not
// obeyed: replacing or removing either would wreck the document.
void plan_xmp(const pdf_doc& doc, const obj_entry* stream, const std::string* body, int32_t* next, write_plan* plan) {
    int32_t ref_num = -1, ref_gen = 0;
    if (body) {
        plan->xmp.body = *body;
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

// The metadata stream a write may replace or drop.
const obj_entry* usable_xmp_stream(const pdf_doc& doc, const obj_entry* info_row) {
    const obj_entry* stream = find_xmp_obj(doc);
    if (stream && (stream->num == doc.root || (info_row && stream->num == doc.info))) stream = nullptr;
    return stream;
}

bool refuse_packet(const std::string& why) {
    set_error("%s; nothing was written", why.c_str());
    return false;
}

// The packet of a merge: the document's packet edited, or a new one.
bool merged_packet(const pdf_doc& doc, const obj_entry* stream, const std::vector<xmp_change>& changes,
                   std::string* out) {
    std::string why;
    if (!stream) return xmp_packet_new(changes, out, &why) || refuse_packet(why);
    std::string packet;
    if (!sync_packet_of(doc, *stream, &packet)) return false;
    return xmp_packet_edit(packet, changes, out, &why) || refuse_packet("the XMP packet cannot be edited: " + why);
}

// A merge: the packet edited with the request's changes (and under sync the
// Info values of the eight fields), then Info from the edited packet.
bool plan_merge(const pdf_doc& doc, const write_request& req, const obj_entry* info_row, int32_t* next,
                write_plan* plan) {
    const obj_entry* stream = usable_xmp_stream(doc, info_row);
    std::vector<xmp_change> changes = req.xmp_changes;
    std::string packet;
    if (!merged_packet(doc, stream, changes, &packet)) return false;
    write_request info_req = req;
    sync_fields given{};
    if (req.sync) {
        // Fields the edited packet lacks and the Info dictionary holds go
        // into the packet too; every field then goes to Info.
        sync_fields old_info = sync_fields_of_doc(doc);
        sync_fields xmp = sync_fields_of_packet(packet);
        std::vector<xmp_change> fills;
        for (int i = 0; i < INFO_FIELD_COUNT; ++i) {
            bool named = false;
            for (const xmp_change& c : req.xmp_changes) named = named || c.name == SYNC_XMP_NAMES[i];
            if (xmp[i].empty() && !named && !old_info[i].empty()) {
                std::string v = sync_xmp_value_of_info(i, old_info[i]);
                if (!v.empty()) fills.push_back({SYNC_XMP_NAMES[i], v});
            }
        }
        if (!fills.empty()) {
            changes.insert(changes.end(), fills.begin(), fills.end());
            if (!merged_packet(doc, stream, changes, &packet)) return false;
            xmp = sync_fields_of_packet(packet);
        }
        for (int i = 0; i < INFO_FIELD_COUNT; ++i) {
            bool named = false;
            for (const xmp_change& c : req.xmp_changes) named = named || c.name == SYNC_XMP_NAMES[i];
            given[i] = sync_info_value_of_xmp(i, xmp[i]);
            // A value, or a text the caller removed; else Info's own stays.
            if (!given[i].empty() || (named && i != FIELD_CREATION_DATE && i != FIELD_MOD_DATE))
                info_req.values.given[i] = given[i].c_str();
        }
    }
    if (!plan_info(doc, info_req, info_row, next, &plan->info)) return false;
    if (req.sync) {
        // What Info gained on its own (a creation date of now) goes into the
        // packet as well.
        std::vector<xmp_change> more =
            sync_changes_from_info(sync_fields_of_info(plan->info.body), sync_fields_of_packet(packet));
        if (!more.empty()) {
            changes.insert(changes.end(), more.begin(), more.end());
            if (!merged_packet(doc, stream, changes, &packet)) return false;
        }
    }
    plan_xmp(doc, stream, &packet, next, plan);
    return true;
}

// Under sync, an Info write edits the document's packet where it differs
// from the new dictionary; fields Info lacks are taken from the packet.
bool plan_info_synced(const pdf_doc& doc, const write_request& req, const obj_entry* info_row, int32_t* next,
                      write_plan* plan) {
    const obj_entry* stream = usable_xmp_stream(doc, info_row);
    if (!stream) return plan_info(doc, req, info_row, next, &plan->info);
    std::string packet;
    if (!sync_packet_of(doc, *stream, &packet)) return false;
    sync_fields xmp = sync_fields_of_packet(packet);
    // Fields neither the caller nor the old Info dictionary gives come from
    // the packet (before Info would get a creation date of now).
    write_request info_req = req;
    sync_fields old_info = sync_fields_of_doc(doc), fill{};
    for (int i = 0; i < INFO_FIELD_COUNT; ++i) {
        if (req.values.given[i] || !old_info[i].empty() || xmp[i].empty()) continue;
        fill[i] = sync_info_value_of_xmp(i, xmp[i]);
        if (!fill[i].empty()) info_req.values.given[i] = fill[i].c_str();
    }
    if (!plan_info(doc, info_req, info_row, next, &plan->info)) return false;
    sync_fields info = sync_fields_of_info(plan->info.body);
    std::vector<xmp_change> changes = sync_changes_from_info(info, xmp);
    if (changes.empty()) return true;
    std::string edited, why;
    if (!xmp_packet_edit(packet, changes, &edited, &why)) return refuse_packet("the XMP packet cannot be edited: " + why);
    plan_xmp(doc, stream, &edited, next, plan);
    return true;
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
    if (req.xmp == xmp_edit::merge) return plan_merge(doc, req, info_row, &next, plan);
    if (req.sync && req.xmp == xmp_edit::keep && req.info != info_edit::drop)
        return plan_info_synced(doc, req, info_row, &next, plan);
    if (!plan_info(doc, req, info_row, &next, &plan->info)) return false;
    if (req.xmp == xmp_edit::replace)
        plan_xmp(doc, usable_xmp_stream(doc, info_row), &req.packet, &next, plan);
    else if (req.xmp == xmp_edit::drop)
        plan_xmp(doc, usable_xmp_stream(doc, info_row), nullptr, &next, plan);
    return true;
}
