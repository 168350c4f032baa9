// Reading the document information (Info) dictionary: key search over a
// dictionary's bytes, value decoding, the Keywords join, the eight-field
// reader, and which object is the Info dictionary.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/strbuf.h"
#include "load/doc.h"
#include "load/graph.h"

constexpr int INFO_FIELD_COUNT = 8;

// The eight metadata fields, always in this order. INFO_KEYS are the Info
// dictionary keys (without solidus); KEYS are the JSON keys.
extern const char* const INFO_KEYS[INFO_FIELD_COUNT];
extern const char* const KEYS[INFO_FIELD_COUNT];

// Index of the field in the tables above.
enum info_field : int {
    FIELD_TITLE = 0,
    FIELD_AUTHOR = 1,
    FIELD_SUBJECT = 2,
    FIELD_KEYWORDS = 3,
    FIELD_CREATOR = 4,
    FIELD_PRODUCER = 5,
    FIELD_CREATION_DATE = 6,
    FIELD_MOD_DATE = 7,
};

// Keys of an Info dictionary are found with name_find_depth0 (syntax/lexer.h):
// only at the dictionary's own level, so keys of nested dictionaries and
// arrays are not seen and a longer name such as /Titles does not match Title.

// Value of the key whose solidus is at k (as name_find_depth0 finds it),
// decoded from a literal or hexadecimal string, or a name's raw characters
// (no '#' decoding). Null when the value is anything else or the text ends.
cstr info_value_at(const uint8_t* text, pos k, pos end);

// Value of a Keywords key at k: the string elements of an array joined with
// commas, or the value as info_value_at reads it. Never null except when
// memory is exhausted; "" when nothing is usable.
cstr info_keywords_at(const uint8_t* text, pos k, pos end);

// Eight strings in table order: a missing key, a value that is not a string
// or name, and a date that does not normalise all give "". Dates are cut to
// YYYY-MM-DD. With the byte rules a value ends at its first zero byte; under
// OPT_UNICODE zero bytes are text and every value is valid UTF-8.
using info_fields = std::array<std::string, INFO_FIELD_COUNT>;

// The eight fields of the dictionary region r (text null: all ""), as this
// thread's options say:
// - options 0: the byte rules (info_value_at, info_keywords_at);
// - OPT_UNICODE: the bytes of each string decoded as a PDF text string
//   (text_string_to_utf8), Keywords elements each on its own (a name value
//   is read as with the byte rules: its run holds only ASCII);
// - OPT_RESOLVE (doc given): a value that is a reference "N G R", and a
//   reference among the Keywords elements, is read from the object it names.
// Throws std::bad_alloc when memory runs out (exports run inside export_guard).
info_fields info_read_region(const dict_view& r, const pdf_doc* doc = nullptr);

// Which object is the Info dictionary. The row the trailer names (doc.info,
// which the loader keeps only when the table holds it) is the answer of
// every reader and writer; the rules differ where it is missing or unsafe:
// - vellix_read (info_obj_find) looks further: without a named row it takes
//   the first dictionary that looks like Info, so that a file whose trailer
//   lost its /Info entry still reports its metadata.
// - batch read and compare (info_read_named) read the named row only and
//   give eight "" without it: they list what the file declares.
// - the writers carry old values from the named row whatever it is
//   (info_collect_doc), but replace or drop it only when info_obj_writable
//   allows: a trailer /Info naming the catalog, a page or a page-tree node is
//   not obeyed there, since rewriting or dropping that object would destroy
//   the document; the new dictionary is then added as a new object.

// The eight fields of the row the trailer names (doc.info); all "" without one.
// Throws std::bad_alloc when memory runs out.
info_fields info_read_named(const pdf_doc& doc);

// The Info object as vellix_read chooses it: the row named by doc.info (even
// if that row has no dictionary); otherwise the first row, in table order,
// whose dictionary holds Title, Author or Producer together with Producer or
// Creator. Null when neither gives a row.
const obj_entry* info_obj_find(const pdf_doc& doc);

// The Info object a writer may replace or drop: the row named by doc.info
// unless it is the catalog, a page or a page-tree node; null otherwise (info_build.cpp).
const obj_entry* info_obj_writable(const pdf_doc& doc);

// The JSON text of vellix_read for doc into b; always true (a failed append
// leaves b empty).
bool read_json_build(const pdf_doc& doc, strbuf& b);

// Whether the dictionary d is one an Info dictionary could be, named or not:
// no /Type and no /Subtype, and an Info key other than /Title, or a /Title
// without the /Parent of an outline item. The rule by which metadata traces
// are found and scrubbed.
bool dict_info_like(pdf_val d);
