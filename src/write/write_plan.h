// What a write asks for (write_request) and what the emitter does to each
// object to get it (write_plan).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "info/info_build.h"
#include "load/doc.h"
#include "xmp/xmp_edit.h"

// What happens to the Info dictionary: a new one is written (rebuild, from
// write_request::values and the old dictionary) or it is left out (drop).
enum class info_edit { rebuild, drop };

// What happens to the XMP metadata stream and the catalog's reference to it:
// nothing (keep), the packet replaces it or is added (replace), or it is
// removed (drop), or the document's packet is edited (merge: the changes
// applied in place, a new packet when there is none). replace, merge and
// drop also take /Metadata out of the catalog, and replace and merge put a
// reference to the written stream in.
enum class xmp_edit { keep, replace, drop, merge };

// How far the cross-reference table reaches: up to the highest number of the
// table and the added objects (table), or up to the highest number written
// (written); they differ when the last object of the table is left out.
enum class xref_span { table, written };

// One write as a caller asks for it.
struct write_request {
    info_edit info = info_edit::rebuild;
    info_values values;  // rebuild: what the new dictionary is made of
    xmp_edit xmp = xmp_edit::keep;
    std::string packet;  // replace: the XMP packet, written as it is
    std::vector<xmp_change> xmp_changes;  // merge: the properties to set or remove
    // Info and XMP kept in agreement (OPT_SYNC): an Info write also edits the
    // document's packet (when it has one) so the eight fields agree, and a
    // merge also sets the Info fields from the edited packet. Fields one side
    // lacks are taken from the other, so nothing is lost; the side written
    // wins where they differ.
    bool sync = false;
    xref_span span = xref_span::table;
    // Object streams untouched by the write are copied (OPT_KEEP_STREAMS).
    bool keep_streams = false;
};

// What the emitter does with one object.
enum class obj_edit {
    keep,     // the table row is copied (nothing is written for an object the table lacks)
    replace,  // the table row `num` gets `body`
    drop,     // the table row `num` is left out; its cross-reference row is free
    add,      // `body` becomes object `num` (generation 0) after the table objects
};

struct planned_obj {
    obj_edit edit = obj_edit::keep;
    int32_t num = -1;
    std::string body;  // Info: dictionary text; XMP: the packet; catalog: its edited text
};

// The changes of one output file. The trailer names the Info object when it
// is replaced or added. The catalog is only ever kept or replaced.
struct write_plan {
    planned_obj info;
    planned_obj xmp;
    planned_obj catalog;
    xref_span span = xref_span::table;
    // Object streams none of whose members the plan edits are copied as they
    // are, with a cross-reference stream; added objects are then numbered
    // above the object streams too.
    bool keep_streams = false;
    // Edits of any object (a scrub): rows left out (by number, 1: not
    // written), and new texts of objects (the value; for a stream its
    // dictionary, the data copied as it is).
    std::vector<uint8_t> left_out;
    std::unordered_map<int32_t, std::string> texts;
    // The trailer's /ID as written ("[<..><..>]"); empty: the table trailer
    // has none and a cross-reference stream keeps the input's.
    std::string id;

    bool leaves_out(int32_t num) const {
        return num >= 0 && static_cast<size_t>(num) < left_out.size() && left_out[static_cast<size_t>(num)];
    }
};

// Fixes the plan of req for doc: Info replaced or added (numbered above the
// table, and above the object streams with keep_streams) or dropped; the metadata stream found by find_xmp_obj replaced,
// added (numbered after a new Info object) or dropped; the catalog rewritten
// when the metadata changes. False with the message of the Info builder
// (info_dict_build) when the Info dictionary cannot be built.
bool write_plan_make(const pdf_doc& doc, const write_request& req, write_plan* plan);

// Object streams numbered above this are never copied (the table keeps no
// object above it either).
constexpr int32_t CONTAINER_NUM_MAX = 0x7FFFFF;
// The highest number of an object stream that may be copied, or 0.
int32_t containers_top(const pdf_doc& doc);
