// Reading the document information (Info) dictionary: key search over a
// dictionary's bytes, value decoding, the Keywords join, the eight-field
// reader, and the choice of the Info object for reports.
#pragma once

#include <array>
#include <cstdint>

#include "core/strbuf.h"
#include "load/doc.h"

constexpr int INFO_FIELD_COUNT = 8;

// The eight metadata fields, always in this order. INFO_KEYS are the Info
// dictionary keys (without solidus); KEYS are the JSON keys. FIELDS is the
// same table as KEYS.
extern const char* const INFO_KEYS[INFO_FIELD_COUNT];
extern const char* const KEYS[INFO_FIELD_COUNT];
inline constexpr auto& FIELDS = KEYS;

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

// Eight owned strings in table order. Every slot is non-null after a read:
// a missing key, a value that is not a string or name, and a date that does
// not normalise all give "". Dates are cut to YYYY-MM-DD.
using info_fields = std::array<cstr, INFO_FIELD_COUNT>;

// The eight fields of the dictionary region r (text null: all "").
// Throws std::bad_alloc when memory runs out (exports run inside export_guard).
info_fields info_read_region(const dict_view& r);

// The eight fields of the Info dictionary the trailer names (doc.info).
// No search for another dictionary: without one all eight are "".
// Throws std::bad_alloc when memory runs out.
info_fields meta_read_fields(const pdf_doc& doc);

// The Info object as reports choose it: the row named by doc.info when the
// table holds it (even if that row has no dictionary); otherwise the first
// row, in table order, whose dictionary holds Title, Author or Producer
// together with Producer or Creator. Null when neither gives a row.
const obj_entry* info_obj_find(const pdf_doc& doc);
