// Size analysis: the stored bytes of font, image and other streams, the rest
// of the file as overhead, and the page and object counts.
#include <cstdint>
#include <cstdio>
#include <cstring>

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

// Adds the stored size of every stream row to its class: /Type /Font first,
// then /Subtype /Image, everything else (no dictionary included) as streams.
size_sums sum_streams(const pdf_doc& doc) {
    size_sums s;
    for (const obj_entry& e : doc.objs) {
        if (!e.has_stream) continue;
        int64_t size = e.data_end - e.data_start;
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
