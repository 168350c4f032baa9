// Reading the XMP packet of a document into a flat JSON object.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/options.h"
#include "syntax/codecs.h"
#include "syntax/text_string.h"
#include "core/frame.h"
#include "syntax/inflate.h"
#include "syntax/lexer.h"
#include "xmp/xmp.h"

namespace {

// Standard properties, always reported first and in this order.
const char* const STD[] = {"dc:title",       "dc:creator",     "dc:description", "dc:subject",
                           "xmp:CreateDate", "xmp:ModifyDate", "pdf:Producer",   "pdf:Keywords"};

constexpr uint32_t XMP_MAX_STREAM = 268435456;    // 256 MiB of stored data
constexpr uint64_t INFLATE_MAX_CAP = 1073741824;  // the inflater refuses larger capacities
constexpr uint64_t MEASURE_ABOVE = 8u << 20;       // larger bounds are measured, not allocated

// The metadata stream named by the catalog's /Metadata entry, or null.
const obj_entry* xmp_from_catalog(const pdf_doc& doc) {
    int32_t num = xmp_catalog_ref(doc);
    return num > 0 ? doc_find(doc, num) : nullptr;
}

// The first stream in table order whose /Type is /Metadata, or null.
const obj_entry* xmp_by_type(const pdf_doc& doc) {
    for (const obj_entry& e : doc.objs) {
        if (!e.has_stream || e.dict_pos < 0) continue;
        dict_view r = doc_dict_span(doc, e);
        if (!r.text) continue;
        cstr type = dict_name(r, "Type");
        if (type && std::strcmp(type.get(), "Metadata") == 0) return &e;
    }
    return nullptr;
}

// The decoded packet of a metadata stream: stored bytes are used in place,
// Flate data is inflated into `owned`.
struct xmp_packet {
    std::unique_ptr<uint8_t, free_deleter> owned;
    const uint8_t* bytes = nullptr;
    int32_t len = 0;
};

// Decodes the stream of e; false when it cannot be decoded.
bool xmp_decode_stream(const pdf_doc& doc, const obj_entry& e, xmp_packet* out) {
    if (!e.has_stream) return false;
    const uint32_t raw_len = static_cast<uint32_t>(e.data_end - e.data_start);
    if (raw_len > XMP_MAX_STREAM) return false;
    if (raw_len > 0 && (e.data_start < 0 || e.data_start + raw_len > doc.len)) return false;
    const uint8_t* raw = raw_len > 0 ? doc.data + e.data_start : doc.data;

    pos dict_end = e.stream_kw > 0 ? e.stream_kw : doc.len;
    bool flate = e.dict_pos >= 0 && name_find(doc.data, e.dict_pos, dict_end, "FlateDecode") >= 0;
    if (!flate) {
        out->bytes = raw;
        out->len = static_cast<int32_t>(raw_len);
        return true;
    }
    // The output may grow to 16 times the stored size (plus a little).
    const uint64_t cap = 16 * (static_cast<uint64_t>(raw_len) + 64);
    if (cap > INFLATE_MAX_CAP) return false;
    uint64_t size = cap;
    if (cap > MEASURE_ABOVE) {
        // Learn the decoded length first so the buffer fits the packet, not the bound.
        std::unique_ptr<uint8_t, free_deleter> scratch(static_cast<uint8_t*>(std::malloc(INFLATE_MEASURE_SCRATCH)));
        if (!scratch || inflate_measure(raw, raw_len, cap, scratch.get(), &size) != 0) return false;
        if (size > cap) return false;
        if (size == 0) size = 1;
    }
    out->owned.reset(static_cast<uint8_t*>(std::malloc(size)));
    if (!out->owned) return false;
    uint64_t got = 0;
    if (inflate_decompress(raw, raw_len, out->owned.get(), size, &got) != 0) return false;
    out->bytes = out->owned.get();
    out->len = static_cast<int32_t>(got);
    return true;
}

bool is_std_name(const std::string& name) {
    for (const char* s : STD)
        if (name == s) return true;
    return false;
}

// A JSON string of s: up to its first zero byte, or (counted) whole and made
// valid UTF-8.
char* json_text(strbuf* b, const std::string& s, bool counted) {
    if (!counted) return json_str_append(b, s.c_str());
    std::string v = utf8_sanitize(s);
    return json_str_append_n(b, v.data(), v.size());
}

}  // namespace

// {"dc:title":...,<the other seven>,<every other property in list order>}
// A failed append empties the whole text, so no partial object is published.
// `unicode`: names and values are written whole and as valid UTF-8.
strbuf xmp_props_json(const propvec& pv, bool unicode) {
    strbuf b = strbuf_start();
    bool ok = buf_bytes(&b, "{", 1) != nullptr;
    bool first = true;
    static const std::string EMPTY;
    for (const char* name : STD) {
        if (!first) ok = ok && buf_bytes(&b, ",", 1);
        first = false;
        const std::string* v = pv.find(name);
        ok = ok && json_str_append(&b, name) && buf_bytes(&b, ":", 1) && json_text(&b, v ? *v : EMPTY, unicode);
    }
    for (const xmp_prop& p : pv.items) {
        if (is_std_name(p.name)) continue;
        ok = ok && buf_bytes(&b, ",", 1) && json_text(&b, p.name, unicode) && buf_bytes(&b, ":", 1) &&
             json_text(&b, p.value, unicode);
    }
    ok = ok && buf_bytes(&b, "}", 1);
    if (!ok) b.reset();
    return b;
}


bool xmp_stream_packet(const pdf_doc& doc, const obj_entry& e, std::string* out) {
    xmp_packet pkt;
    if (!xmp_decode_stream(doc, e, &pkt)) return false;
    out->assign(reinterpret_cast<const char*>(pkt.bytes), static_cast<size_t>(pkt.len));
    return true;
}

int32_t xmp_catalog_ref(const pdf_doc& doc) {
    dict_view r = doc_catalog_dict(doc);
    if (!r.text) return -1;
    pos v = r.value_past_name("Metadata");
    if (v < 0) return -1;
    return ref_read(r.text, v, r.end);
}

const obj_entry* find_xmp_obj(const pdf_doc& doc) {
    if (const obj_entry* e = xmp_from_catalog(doc)) return e;
    return xmp_by_type(doc);
}

bool xmp_read_stream(const pdf_doc& doc, const obj_entry& e, propvec* pv) {
    const bool resolve = option_on(OPT_RESOLVE);
    const bool unicode = option_on(OPT_UNICODE);
    xmp_packet pkt;
    if (!xmp_decode_stream(doc, e, &pkt)) return false;
    if (!resolve && !unicode) {
        xmp_scan_containers(pkt.bytes, pkt.len, pv);
        xmp_scan_simple(pkt.bytes, pkt.len, pv);
        return true;
    }
    // UNICODE: the packet is read as UTF-8 text whatever its encoding.
    std::string text;
    const uint8_t* bytes = pkt.bytes;
    int32_t len = pkt.len;
    if (unicode) {
        text = xmp_packet_to_utf8(pkt.bytes, pkt.len);
        bytes = reinterpret_cast<const uint8_t*>(text.data());
        len = static_cast<int32_t>(text.size() < INT32_MAX ? text.size() : INT32_MAX);
    }
    if (resolve) {
        xmp_read_rdf(bytes, len, unicode, pv);
    } else {
        xmp_scan_containers(bytes, len, pv, true);
        xmp_scan_simple(bytes, len, pv, true);
    }
    return true;
}

// The JSON text of vellix_read_xmp for doc into b; false with "failed to
// decode the XMP stream" when the metadata stream cannot be decoded.
bool read_xmp_build(const pdf_doc& doc, strbuf& b) {
    propvec pv;
    if (const obj_entry* e = find_xmp_obj(doc)) {
        if (!xmp_read_stream(doc, *e, &pv)) {
            set_error("failed to decode the XMP stream");
            return false;
        }
    }
    b = xmp_props_json(pv, option_on(OPT_UNICODE));
    propvec_free(&pv);
    return true;
}
