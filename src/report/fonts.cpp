// Font list: every font dictionary of the object table with its base font
// name, type, whether it names an embedded font program, and the subset tag.
// With OPT_RESOLVE the facts come from the font's top-level entries, its
// descriptor (direct or by reference) and a Type0 font's descendant; with
// OPT_UNICODE the name is the whole #xx-decoded name made valid UTF-8.
#include <cstring>
#include <string>

#include "core/options.h"
#include "load/graph.h"
#include "syntax/codecs.h"
#include "syntax/text_string.h"
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
bool font_is_subset(std::string_view name) { return name.size() >= 7 && name[6] == '+'; }

void font_write(strbuf& b, std::string_view name, std::string_view type, bool embedded, bool subset, bool& first) {
    if (!first) buf_bytes(&b, ",", 1);
    first = false;
    buf_str(&b, "{\"name\":");
    json_str_append_n(&b, name.data(), name.size());
    buf_str(&b, ",\"type\":");
    json_str_append_n(&b, type.data(), type.size());
    buf_str(&b, ",\"embedded\":");
    buf_str(&b, embedded ? "true" : "false");
    buf_str(&b, ",\"subset\":");
    buf_str(&b, subset ? "true" : "false");
    buf_bytes(&b, "}", 1);
}

// Whether a font descriptor names a font program: a top-level /FontFile,
// /FontFile2 or /FontFile3 whose value is a reference (a stream can be given
// no other way), as viewers take it before reading the program.
bool descriptor_has_program(pdf_val desc) {
    bool found = false;
    dict_each(desc, [&](std::string_view k, pdf_val v) {
        if ((k == "FontFile" || k == "FontFile2" || k == "FontFile3") && val_ref(v) > 0) found = true;
        return !found;
    });
    return found;
}

// The top-level entries a font's facts come from, read in one pass (the
// last entry of a key wins, as dict_get_raw reads it).
struct font_entries {
    pdf_val base, subtype, descriptor, descendants;
};

font_entries font_entries_of(pdf_val font) {
    font_entries f;
    dict_each(font, [&](std::string_view k, pdf_val v) {
        if (k == "BaseFont") f.base = v;
        else if (k == "Subtype") f.subtype = v;
        else if (k == "FontDescriptor") f.descriptor = v;
        else if (k == "DescendantFonts") f.descendants = v;
        return true;
    });
    return f;
}

// A Type3 font is its own program; a Type0 font's program belongs to its
// descendant (the first element of /DescendantFonts); any other font's to its
// own descriptor.
bool font_embedded_resolved(const pdf_doc& doc, const font_entries& f, std::string_view subtype) {
    if (subtype == "Type3") return true;
    if (subtype == "Type0") {
        pdf_val kids = graph_resolve(doc, f.descendants);
        pdf_val kid;
        if (kids.is_array()) {
            array_each(kids, [&](pdf_val v) {
                kid = graph_resolve(doc, v);
                return false;
            });
        } else if (kids.is_dict()) {
            kid = kids;
        }
        return descriptor_has_program(dict_get(doc, kid, "FontDescriptor"));
    }
    return descriptor_has_program(graph_resolve(doc, f.descriptor));
}

// One font read as the standard defines it (OPT_RESOLVE) and/or with its
// name as UTF-8 (OPT_UNICODE); what neither option covers is read as the
// byte rules read it.
void font_write_optioned(const pdf_doc& doc, const obj_entry& e, const dict_view& r, bool resolve, bool unicode,
                         strbuf& b, bool& first) {
    font_entries fe = resolve ? font_entries_of(graph_object(doc, e.num)) : font_entries{};
    // Name: the /BaseFont value (top-level and resolved, or the first key).
    std::string name;
    if (resolve) {
        pdf_val v = graph_resolve(doc, fe.base);
        if (v.is_name()) {
            if (unicode) {
                name = val_name(v);
            } else if (cstr n = name_decode(v.text, v.start + 1, v.end)) {
                name = n.get();
            }
        }
    } else {
        pos v = r.value("BaseFont");
        if (v >= 0 && r.text[v] == '/') {
            pdf_val nv{r.text, v, r.end};
            if (unicode) {
                name = val_name(nv);
            } else if (cstr n = name_decode(r.text, v + 1, r.end)) {
                name = n.get();
            }
        }
    }
    if (unicode) name = utf8_sanitize(name);
    // Type: /Subtype, "unknown" when it is no name.
    std::string type;
    if (resolve) {
        pdf_val v = graph_resolve(doc, fe.subtype);
        if (v.is_name()) type = val_name(v);
        else type = "unknown";
    } else {
        cstr subtype = dict_name(r, "Subtype");
        type = subtype ? subtype.get() : "unknown";
    }
    if (unicode) type = utf8_sanitize(type);
    bool embedded = resolve ? font_embedded_resolved(doc, fe, type) : font_is_embedded(r);
    font_write(b, name, type, embedded, font_is_subset(name), first);
}


}  // namespace

bool fonts_build(const pdf_doc& doc, strbuf& b) {
    buf_bytes(&b, "[", 1);
    bool first = true;
    const bool resolve = option_on(OPT_RESOLVE);
    const bool unicode = option_on(OPT_UNICODE);
    for (const obj_entry& e : doc.objs) {
        dict_view r = doc_dict_span(doc, e);
        if (!r.text) continue;
        cstr type = dict_name(r, "Type");
        if (!type || std::strcmp(type.get(), "Font") != 0) continue;
        if (resolve || unicode) {
            font_write_optioned(doc, e, r, resolve, unicode, b, first);
            continue;
        }
        cstr name = font_base_name(r);
        cstr subtype = dict_name(r, "Subtype");
        const char* name_text = name ? name.get() : "";
        font_write(b, name_text, subtype ? subtype.get() : "unknown", font_is_embedded(r),
                   font_is_subset(name_text), first);
    }
    buf_bytes(&b, "]", 1);
    return true;
}
