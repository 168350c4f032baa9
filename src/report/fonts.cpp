// Font list: every font dictionary of the object table with its base font
// name, type, whether it names an embedded font program, and the subset tag.
#include <cstring>

#include "syntax/codecs.h"
#include "report/report_common.h"
#include "report/reports.h"

namespace {

// /BaseFont when its value is a name; null otherwise.
cstr font_base_name(const dict_view& r) {
    pos v = r.value("BaseFont");
    if (v < 0 || r.text[v] != '/') return nullptr;
    return name_decode(r.text, v + 1, r.end);
}

bool font_is_embedded(const dict_view& r) {
    for (const char* key : {"FontFile", "FontFile2", "FontFile3"})
        if (r.key(key) >= 0) return true;
    return false;
}

// A subset font's name starts with a six-character tag and "+".
bool font_is_subset(const char* name) { return std::strlen(name) >= 7 && name[6] == '+'; }

void font_write(strbuf& b, const char* name, const char* type, bool embedded, bool subset, bool& first) {
    if (!first) buf_bytes(&b, ",", 1);
    first = false;
    buf_str(&b, "{\"name\":");
    json_str_append(&b, name);
    buf_str(&b, ",\"type\":");
    json_str_append(&b, type);
    buf_str(&b, ",\"embedded\":");
    buf_str(&b, embedded ? "true" : "false");
    buf_str(&b, ",\"subset\":");
    buf_str(&b, subset ? "true" : "false");
    buf_bytes(&b, "}", 1);
}

}  // namespace

bool fonts_build(const pdf_doc& doc, strbuf& b) {
    buf_bytes(&b, "[", 1);
    bool first = true;
    for (const obj_entry& e : doc.objs) {
        dict_view r = doc_dict_span(doc, e);
        if (!r.text) continue;
        cstr type = dict_name(r, "Type");
        if (!type || std::strcmp(type.get(), "Font") != 0) continue;
        cstr name = font_base_name(r);
        cstr subtype = dict_name(r, "Subtype");
        const char* name_text = name ? name.get() : "";
        font_write(b, name_text, subtype ? subtype.get() : "unknown", font_is_embedded(r),
                   font_is_subset(name_text), first);
    }
    buf_bytes(&b, "]", 1);
    return true;
}
