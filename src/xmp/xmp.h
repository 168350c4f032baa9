// XMP metadata: locating the metadata stream and scanning a packet into a
// flat list of properties (no XML parser; plain byte searches).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/strbuf.h"
#include "load/doc.h"

// The metadata stream object of the document: the catalog's /Metadata
// reference when it names an existing row (returned without further tests),
// else the first row with a stream whose /Type is /Metadata; null when none.
const obj_entry* find_xmp_obj(const pdf_doc& doc);

// The decoded packet of the metadata stream e (stored bytes, or inflated);
// false when it cannot be decoded.
bool xmp_stream_packet(const pdf_doc& doc, const obj_entry& e, std::string* out);

// The object number the catalog's /Metadata entry names, read as
// find_xmp_obj reads it; -1 (or 0) when there is none.
int32_t xmp_catalog_ref(const pdf_doc& doc);

// The JSON text of vellix_read_xmp for doc into b: the eight STD properties,
// then the others in list order. False with "failed to decode the XMP stream"
// when the metadata stream cannot be decoded.
bool read_xmp_build(const pdf_doc& doc, strbuf& b);

// One property: "prefix:local" (or "local" alone) and its decoded text, never empty.
struct xmp_prop {
    std::string name;
    std::string value;
};

// Properties of one packet in the order each name was first recorded; names
// are unique. `index` maps a name to its row so recording stays constant time.
struct propvec {
    std::vector<xmp_prop> items;
    std::unordered_map<std::string, int32_t> index;

    int32_t count() const { return static_cast<int32_t>(items.size()); }
    // Value stored under name, or null.
    const std::string* find(const std::string& name) const;
};

// Releases every entry and leaves the list empty.
void propvec_free(propvec* pv);

constexpr int XMP_PREFIX_CAP = 32;  // prefix: at most 31 bytes
constexpr int XMP_LOCAL_CAP = 48;   // local part: at most 47 bytes

// Packet positions are 32-bit: a packet is at most 1 GiB (the decoder's
// largest capacity, or 256 MiB stored).

// Splits the element name buf[start, end) at its first colon into prefix and
// local part. Returns 0 (buffers untouched) when a length is out of range;
// otherwise writes both buffers and returns 1 unless the name is RDF/XMP
// structure (rdf:RDF, rdf:Alt, rdf:Bag, rdf:Seq, rdf:li, x:xmpmeta, x:adobe:xmp).
int xmp_name_split(const uint8_t* buf, int32_t start, int32_t end, char prefix[XMP_PREFIX_CAP],
                   char local[XMP_LOCAL_CAP]);

// Records value under "prefix:local" (local alone for an empty prefix). A null
// or empty value is ignored. An existing name gets ",value" appended when join
// is set and is left alone otherwise (the first recording wins). Throws
// std::bad_alloc when memory runs out, so no property goes missing quietly.
void xmp_record(propvec* pv, const char* prefix, const char* local, const char* value, int join);

// Decodes the five XML entities and numeric character references (0x20 up to
// U+10FFFF, as UTF-8) in p[0, n); everything else is copied. Never null except
// when memory is exhausted.
cstr xml_decode(const uint8_t* p, int32_t n);

// Phase 1: the items of every rdf:Alt, rdf:Bag and rdf:Seq container, joined
// with commas under the name of the enclosing element. Writes one diagnostic
// line per container to stderr when VXDBG2 is set. Both phases throw
// std::bad_alloc when memory runs out. With full_refs the values are decoded
// by xml_text_decode instead of xml_decode.
void xmp_scan_containers(const uint8_t* pkt, int32_t n, propvec* pv, bool full_refs = false);
// Phase 2: elements holding plain text. Run after xmp_scan_containers.
void xmp_scan_simple(const uint8_t* pkt, int32_t n, propvec* pv, bool full_refs = false);

// The properties of the metadata stream e, read as read_xmp_build reads the
// document's packet under this thread's options, into *pv; false when the
// stream cannot be decoded. Throws std::bad_alloc when memory runs out.
bool xmp_read_stream(const pdf_doc& doc, const obj_entry& e, propvec* pv);

// {"dc:title":...,<the other seven STD properties>,<every other property in
// list order>}; `unicode`: names and values written whole and as valid UTF-8.
// Empty (data null) when an append fails.
strbuf xmp_props_json(const propvec& pv, bool unicode);

// --- Reading with the options (xmp_rdf.cpp) ---------------------------------

// The packet as UTF-8: UTF-16 or UTF-32 (either byte order) when it starts
// with a byte-order mark or with "<" in that form, else UTF-8 (a mark of its
// own removed). What cannot be decoded becomes U+FFFD: always valid UTF-8.
std::string xmp_packet_to_utf8(const uint8_t* p, int32_t n);

// XML text with the five entities and every character reference ("&#N;",
// "&#xH;") decoded; a reference to a character XML does not allow gives
// U+FFFD, anything else is copied.
std::string xml_text_decode(std::string_view s);

// Records the properties of the packet as RDF/XML defines them: elements and
// attributes of rdf:Description, an rdf:Alt's x-default item (else its first),
// rdf:Seq and rdf:Bag items joined with ", ", the fields of structures under
// their own names; the first value of a name wins. With `unicode` the texts
// are decoded by xml_text_decode, else by xml_decode.
void xmp_read_rdf(const uint8_t* p, int32_t n, bool unicode, propvec* pv);
