// Size analysis: the stored bytes of font, image and other streams, the rest
// of the file as overhead, and the page and object counts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/options.h"
#include "load/graph.h"
#include "report/report_common.h"
#include "report/reports.h"

namespace {

// Sums are kept wide: rows sharing one stream (headers nested in one
// dictionary) each count it, and the total may pass the 32-bit range.
struct size_sums {
    int64_t fonts = 0;
    int64_t images = 0;
    int64_t streams = 0;
};

// A count written into the report: a signed 32-bit number, held at its
// largest value rather than wrapped.
int32_t clamp32(int64_t v) { return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v); }

// Marks, by row, the streams that the font descriptor `desc` names as its
// program (/FontFile, /FontFile2, /FontFile3).
void mark_programs(const pdf_doc& doc, pdf_val desc, std::vector<bool>& program) {
    dict_each(desc, [&](std::string_view k, pdf_val v) {
        if (k == "FontFile" || k == "FontFile2" || k == "FontFile3") {
            int32_t n = val_ref(v);
            int64_t row = n > 0 ? doc.by_num.row(n) : -1;
            if (row >= 0) program[static_cast<size_t>(row)] = true;
        }
        return true;
    });
}

// Whether text holds "/FontFile". A memchr for its 'F' and a compare of the
// rest: most object texts hold few capitals F, and memchr skips the rest far
// faster than a general substring search.
bool names_font_file(const uint8_t* text, size_t n) {
    static const char REST[] = "ontFile";
    const uint8_t* p = text;
    const uint8_t* end = text + n;
    while (end - p >= static_cast<ptrdiff_t>(sizeof REST)) {
        const void* hit = std::memchr(p, 'F', static_cast<size_t>(end - p) - (sizeof REST - 1));
        if (!hit) return false;
        const uint8_t* f = static_cast<const uint8_t*>(hit);
        if (f > text && f[-1] == '/' && std::memcmp(f + 1, REST, sizeof REST - 1) == 0) return true;
        p = f + 1;
    }
    return false;
}

// The font programs of the document, by row: the streams every font
// descriptor names, whether the descriptor is an object of its own, written
// inside a font, or inside a Type0 font's descendant written there. A
// descriptor holds its /FontFile* keys itself, so only rows whose text holds
// "/FontFile" are read, and no reference needs following.
std::vector<bool> font_programs(const pdf_doc& doc) {
    std::vector<bool> program(doc.objs.size(), false);
    for (const obj_entry& e : doc.objs) {
        dict_view r = doc_dict_span(doc, e);
        if (!r.text || r.end <= r.start || !names_font_file(r.text + r.start, static_cast<size_t>(r.end - r.start)))
            continue;
        pdf_val v = graph_object(doc, e.num);
        if (!v.is_dict()) continue;
        mark_programs(doc, v, program);
        mark_programs(doc, dict_get_raw(v, "FontDescriptor"), program);
        array_each(dict_get_raw(v, "DescendantFonts"), [&](pdf_val kid) {
            mark_programs(doc, dict_get_raw(kid, "FontDescriptor"), program);
            return true;
        });
    }
    return program;
}

// Adds the stored size of every stream row to its class: /Type /Font first,
// then /Subtype /Image, everything else (no dictionary included) as streams.
// With OPT_RESOLVE the font programs count as fonts before both tests.
size_sums sum_streams(const pdf_doc& doc) {
    size_sums s;
    const bool resolve = option_on(OPT_RESOLVE);
    std::vector<bool> program;
    if (resolve) program = font_programs(doc);
    for (const obj_entry& e : doc.objs) {
        if (!e.has_stream) continue;
        int64_t size = e.data_end - e.data_start;
        if (resolve) {
            int64_t row = e.num > 0 ? doc.by_num.row(e.num) : -1;
            if (row >= 0 && program[static_cast<size_t>(row)]) {
                s.fonts += size;
                continue;
            }
        }
        dict_view r = doc_dict_span(doc, e);
        if (!r.text) {
            s.streams += size;
            continue;
        }
        if (r.name_is("Type", "Font"))
            s.fonts += size;
        else if (r.name_is("Subtype", "Image"))
            s.images += size;
        else
            s.streams += size;
    }
    return s;
}

}  // namespace

bool analyze_build(const pdf_doc& doc, strbuf& b) {
    size_sums s = sum_streams(doc);
    int64_t overhead = doc.len - s.fonts - s.images - s.streams;
    if (overhead < 0) overhead = 0;
    int pages = doc.pages_ok ? static_cast<int>(doc.pages.size()) : 0;
    char text[256];
    int n = std::snprintf(text, sizeof text,
                          "{\"total_bytes\":%d,\"fonts_bytes\":%d,\"images_bytes\":%d,\"streams_bytes\":%d,"
                          "\"overhead_bytes\":%d,\"pages\":%d,\"objects\":%d}",
                          clamp32(doc.len), clamp32(s.fonts), clamp32(s.images), clamp32(s.streams),
                          clamp32(overhead), pages,
                          static_cast<int>(doc.objs.size()));
    if (!buf_bytes(&b, text, static_cast<uint64_t>(n))) b.reset();
    return true;
}
