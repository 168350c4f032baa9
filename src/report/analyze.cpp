// Size analysis: the stored bytes of font, image and other streams, the rest
// of the file as overhead, and the page and object counts.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "report/analyze.h"
#include "report/report_common.h"
#include "report/reports.h"
#include "vellix.h"

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

int hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Adds the stored size of every stream row to its class: /Type /Font first,
// then /Subtype /Image, everything else (no dictionary included) as streams.
size_sums sum_streams(const pdf_doc& doc) {
    size_sums s;
    for (const obj_entry& e : doc.objs) {
        if (!e.has_stream) continue;
        int64_t size = static_cast<int64_t>(e.data_end) - e.data_start;
        dict_region r = doc_dict_span(doc, e);
        if (!r.text) {
            s.streams += size;
            continue;
        }
        if (dict_name_is(r.text, r.end, r.start, "Type", "Font"))
            s.fonts += size;
        else if (dict_name_is(r.text, r.end, r.start, "Subtype", "Image"))
            s.images += size;
        else
            s.streams += size;
    }
    return s;
}

}  // namespace

bool analyze_build(const pdf_doc& doc, strbuf& b) {
    size_sums s = sum_streams(doc);
    int64_t overhead = static_cast<int64_t>(doc.len) - s.fonts - s.images - s.streams;
    if (overhead < 0) overhead = 0;
    int pages = doc.pages_ok ? static_cast<int>(doc.pages.size()) : 0;
    char text[256];
    int n = std::snprintf(text, sizeof text,
                          "{\"total_bytes\":%d,\"fonts_bytes\":%d,\"images_bytes\":%d,\"streams_bytes\":%d,"
                          "\"overhead_bytes\":%d,\"pages\":%d,\"objects\":%d}",
                          doc.len, clamp32(s.fonts), clamp32(s.images), clamp32(s.streams),
                          clamp32(overhead), pages,
                          static_cast<int>(doc.objs.size()));
    if (!buf_bytes(&b, text, static_cast<uint64_t>(n))) b.reset();
    return true;
}

// Walks the name as decode_pdf_name decodes it (# and two hexadecimal digits
// give one byte; the name ends at any other byte) and compares on the fly:
// one decoded name per stream would cost a buffer allocation each.
bool dict_name_is(const uint8_t* text, int32_t end, int32_t start, const char* key, const char* want) {
    int32_t v = value_start_after(text, end, start, key);
    if (v < 0 || v >= end || text[v] != '/') return false;
    const auto* w = reinterpret_cast<const uint8_t*>(want);
    size_t n = 0;
    for (int32_t i = v + 1; i < end;) {
        uint8_t c = text[i];
        uint8_t out;
        if (c == '#') {
            if (i + 2 >= end) break;
            int hi = hex_digit(text[i + 1]), lo = hex_digit(text[i + 2]);
            if (hi < 0 || lo < 0) break;
            out = static_cast<uint8_t>(hi << 4 | lo);
            i += 3;
        } else if (is_name_cont(c)) {
            out = c;
            ++i;
        } else {
            break;
        }
        if (out == 0) break;  // the decoded text is read as a C string
        if (w[n] != out) return false;
        ++n;
    }
    return w[n] == 0;
}
