// The writing exports: each states its request, the writer flow does the rest.
#include <cstring>

#include "api/flows.h"
#include "core/json_flat.h"
#include "core/options.h"
#include "info/info.h"
#include "info/info_build.h"
#include "syntax/text_string.h"
#include "vellix.h"
#include "core/date.h"
#include "xmp/xmp_build.h"

namespace {

// JSON arguments are read with every standard escape under OPT_UNICODE (so
// "\u00e9" is é), by the byte rules otherwise.
json_escapes request_escapes() {
    return option_on(OPT_UNICODE) ? json_escapes::standard : json_escapes::byte_rules;
}

// Points each of the eight values at the value of the first pair whose key is
// that field's JSON key; returns how many values were found.
int fields_from_json(const jsonobj& obj, info_values* v) {
    int found = 0;
    for (int f = 0; f < INFO_FIELD_COUNT; ++f) {
        for (const json_pair& kv : obj) {
            if (kv.key == KEYS[f]) {
                v->given[f] = kv.value.c_str();
                ++found;
                break;
            }
        }
    }
    return found;
}

// The packet of an XMP JSON object; false with the message when the text or
// one of its keys is refused.
bool xmp_packet_from_json(const char* json, std::string* packet) {
    jsonobj obj;
    if (!json_parse_flat(json, &obj, request_escapes())) return refuse("invalid XMP JSON (flat object of strings required)");
    if (obj.empty()) return refuse("XMP JSON is empty");
    bool has_modify_date = false;
    const bool unicode = option_on(OPT_UNICODE);
    for (const json_pair& kv : obj) {
        if (!xmp_key_ok(kv.key.c_str())) return refuse("invalid XMP property key (ns:Local required)");
        // The packet is UTF-8 XML; under OPT_UNICODE values must be UTF-8.
        if (unicode && !utf8_valid(kv.value)) {
            set_error("%s is not valid UTF-8", kv.key.c_str());
            return false;
        }
        if (kv.key == "xmp:ModifyDate") has_modify_date = true;
    }
    *packet = xmp_packet_build(obj, has_modify_date);
    return true;
}

// Under OPT_SYNC, the changes of an XMP JSON object for the packet in place
// (xmp:ModifyDate and xmp:MetadataDate of now unless given); false with the
// message when the text or a key is refused.
bool xmp_changes_from_json(const char* json, std::vector<xmp_change>* changes) {
    jsonobj obj;
    if (!json_parse_flat(json, &obj, request_escapes())) return refuse("invalid XMP JSON (flat object of strings required)");
    if (obj.empty()) return refuse("XMP JSON is empty");
    bool modify = false, metadata = false;
    for (const json_pair& kv : obj) {
        if (!xmp_key_ok(kv.key.c_str())) return refuse("invalid XMP property key (ns:Local required)");
        if (!utf8_valid(kv.value)) {
            set_error("%s is not valid UTF-8", kv.key.c_str());
            return false;
        }
        const bool date = kv.key == "xmp:CreateDate" || kv.key == "xmp:ModifyDate" || kv.key == "xmp:MetadataDate";
        if (date && !kv.value.empty() && iso_date_to_pdf(kv.value).empty()) {
            set_error("bad date for %s: %s", kv.key.c_str(), kv.value.c_str());
            return false;
        }
        modify = modify || kv.key == "xmp:ModifyDate";
        metadata = metadata || kv.key == "xmp:MetadataDate";
        changes->push_back({kv.key, kv.value});
    }
    char now[DATE_BUF];
    today_pdf_date(now);
    std::string iso = pdf_date_to_iso(now);
    if (!modify) changes->push_back({"xmp:ModifyDate", iso});
    if (!metadata) changes->push_back({"xmp:MetadataDate", iso});
    return true;
}

}  // namespace

extern "C" {

VELLIX_API int vellix_write(const char* in_path, const char* out_path, const char* title, const char* author,
                            const char* subject, const char* keywords) {
    return write_flow(in_path, out_path, {}, [&](write_request* req) {
        if (!title && !author && !subject && !keywords) return refuse("no fields to set (all fields are NULL)");
        req->values.given = {title, author, subject, keywords};
        req->span = xref_span::written;
        req->sync = option_on(OPT_SYNC);
        return info_values_utf8_check(req->values);
    });
}

VELLIX_API int vellix_clear(const char* in_path, const char* out_path) {
    return write_flow(in_path, out_path, {}, [](write_request* req) {
        req->info = info_edit::drop;
        req->span = xref_span::written;
        return true;
    });
}

VELLIX_API int vellix_write_full(const char* in_path, const char* out_path, const char* json) {
    jsonobj obj;  // the request's values point into it
    return write_flow(in_path, out_path, {json}, [&](write_request* req) {
        if (!json_parse_flat(json, &obj, request_escapes())) return refuse("invalid JSON object for vellix_write_full");
        if (fields_from_json(obj, &req->values) == 0) return refuse("no recognised fields in the JSON object");
        req->values.mod_date = mod_date_rule::carry;
        req->sync = option_on(OPT_SYNC);
        return info_values_utf8_check(req->values);
    });
}

// The XMP writers rebuild the Info dictionary too, its ModDate set to now.
VELLIX_API int vellix_write_xmp(const char* in_path, const char* out_path, const char* xmp_json) {
    return write_flow(in_path, out_path, {xmp_json}, [&](write_request* req) {
        if (option_on(OPT_SYNC)) {
            req->xmp = xmp_edit::merge;
            req->sync = true;
            return xmp_changes_from_json(xmp_json, &req->xmp_changes);
        }
        req->xmp = xmp_edit::replace;
        return xmp_packet_from_json(xmp_json, &req->packet);
    });
}

VELLIX_API int vellix_clear_xmp(const char* in_path, const char* out_path) {
    return write_flow(in_path, out_path, {}, [](write_request* req) {
        req->xmp = xmp_edit::drop;
        return true;
    });
}

}  // extern "C"
