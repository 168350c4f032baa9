// Mapping the eight Info fields to XMP properties and back.
#include "write/sync.h"

#include "core/date.h"
#include "core/frame.h"
#include "core/options.h"
#include "info/info_build.h"
#include "syntax/dict_view.h"
#include "xmp/xmp.h"

const char* const SYNC_XMP_NAMES[INFO_FIELD_COUNT] = {
    "dc:title",        "dc:creator",   "dc:description", "pdf:Keywords",
    "xmp:CreatorTool", "pdf:Producer", "xmp:CreateDate", "xmp:ModifyDate",
};

namespace {

bool is_date(int field) { return field == FIELD_CREATION_DATE || field == FIELD_MOD_DATE; }

// This thread's options with OPT_UNICODE on for one scope: the fields are
// compared and written as UTF-8 texts.
struct unicode_scope {
    unsigned saved = options_get();
    unicode_scope() { options_set(saved | OPT_UNICODE); }
    ~unicode_scope() { options_set(saved); }
};

// An ISO 8601 date in one form ("YYYY-MM-DDTHH:mm:SS+HH:mm" as far as it
// goes), or the text itself when it is none.
std::string iso_normal(const std::string& v) {
    std::string pdf = iso_date_to_pdf(v);
    return pdf.empty() ? v : pdf_date_to_iso(pdf);
}

}  // namespace

sync_fields sync_fields_of_packet(const std::string& packet) {
    propvec pv;
    xmp_read_rdf(reinterpret_cast<const uint8_t*>(packet.data()), static_cast<int32_t>(packet.size()), true, &pv);
    sync_fields f;
    for (int i = 0; i < INFO_FIELD_COUNT; ++i) {
        std::string name = SYNC_XMP_NAMES[i];
        const std::string* v = pv.find(name);
        if (!v && name.rfind("xmp:", 0) == 0) v = pv.find("xap:" + name.substr(4));
        if (v) f[i] = *v;
    }
    return f;
}

sync_fields sync_fields_of_info(const std::string& dict) {
    unicode_scope u;
    const auto* text = reinterpret_cast<const uint8_t*>(dict.data());
    dict_view r{text, 0, static_cast<pos>(dict.size())};
    info_fields read = info_read_region(r);
    sync_fields f;
    for (int i = 0; i < INFO_FIELD_COUNT; ++i) {
        if (!is_date(i)) {
            f[i] = read[i];
            continue;
        }
        pos k = name_find_depth0(text, r.start, r.end, INFO_KEYS[i]);
        if (k < 0) continue;
        cstr raw = info_value_at(text, k, r.end);
        if (raw) f[i] = raw.get();
    }
    return f;
}

sync_fields sync_fields_of_doc(const pdf_doc& doc) {
    info_pairs pairs;
    info_collect_doc(doc, &pairs);
    std::string dict = "<<";
    for (const info_pair& p : pairs)
        if (p.present) {
            dict += ' ';
            dict.append(p.bytes.get(), static_cast<size_t>(p.size));
        }
    dict += " >>";
    return sync_fields_of_info(dict);
}

bool sync_packet_of(const pdf_doc& doc, const obj_entry& stream, std::string* packet) {
    if (!xmp_stream_packet(doc, stream, packet)) {
        set_error("failed to decode the XMP stream; Info and XMP cannot be kept in agreement");
        return false;
    }
    const std::string& p = *packet;
    if (p.size() >= 2 && ((p[0] == '\xFE' && p[1] == '\xFF') || (p[0] == '\xFF' && p[1] == '\xFE') || p[0] == '\0' ||
                          p[1] == '\0')) {
        set_error("the XMP packet is not UTF-8; it is not edited");
        return false;
    }
    return true;
}

std::string sync_xmp_value_of_info(int field, const std::string& v) {
    return is_date(field) ? pdf_date_to_iso(v) : v;
}

std::string sync_info_value_of_xmp(int field, const std::string& v) {
    return is_date(field) ? iso_date_to_pdf(v) : v;
}

bool sync_same(int field, const std::string& info_value, const std::string& xmp_value) {
    if (!is_date(field)) return info_value == xmp_value;
    return pdf_date_to_iso(info_value) == iso_normal(xmp_value);
}

std::vector<xmp_change> sync_changes_from_info(const sync_fields& info, const sync_fields& xmp) {
    std::vector<xmp_change> changes;
    for (int i = 0; i < INFO_FIELD_COUNT; ++i) {
        if (info[i].empty() || sync_same(i, info[i], xmp[i])) continue;
        std::string v = sync_xmp_value_of_info(i, info[i]);
        if (v.empty()) continue;  // a date XMP cannot hold
        changes.push_back({SYNC_XMP_NAMES[i], v});
        if (i == FIELD_MOD_DATE) changes.push_back({"xmp:MetadataDate", v});
    }
    return changes;
}
