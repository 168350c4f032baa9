// Building a new Info dictionary from caller values and the old dictionary.
#pragma once

#include <array>
#include <cstdint>

#include "core/strbuf.h"
#include "load/doc.h"
#include "info/info.h"

// One key/value pair cut out of the old Info dictionary: the bytes from the
// key's solidus to the end of its value, copied. present is 0 (bytes null,
// size 0) when the key is missing or its value could not be measured.
struct info_pair {
    cstr bytes;
    uint64_t size = 0;
    int present = 0;
};
using info_pairs = std::array<info_pair, INFO_FIELD_COUNT>;

// Fills the eight pairs, in the order of INFO_KEYS, from the dictionary
// region text[start, end).
void info_collect(const uint8_t* text, pos start, pos end, info_pairs* pairs);

// The pairs of the Info object named by doc.info (all absent when there is
// none or it has no dictionary).
void info_collect_doc(const pdf_doc& doc, info_pairs* pairs);

// How ModDate is written when the caller gives no value for it: the time of
// now (now), or the old value and the time of now only when there is none (carry).
enum class mod_date_rule { now, carry };

// What a new Info dictionary is made of: one caller value per field in the
// order of INFO_KEYS (null: carry the old value) and the ModDate rule.
struct info_values {
    std::array<const char*, INFO_FIELD_COUNT> given{};
    mod_date_rule mod_date = mod_date_rule::now;
};

// Under OPT_UNICODE, where caller values are UTF-8: false with "<field> is
// not valid UTF-8" (the JSON key, e.g. "title") for the first given value
// that is not. Always true with the byte rules.
bool info_values_utf8_check(const info_values& v);

// "<< /Title (..) ... /ModDate (D:..)>>" from the eight keys in table order:
// a caller value as a literal string (the two dates normalised first; under
// OPT_UNICODE a value other than printable ASCII as "<FEFF...>", its UTF-16BE
// text string in hexadecimal, and info_values_utf8_check applies), else
// the carried bytes of the old dictionary (info_collect_doc), else for
// CreationDate, and for ModDate, the date of now; ModDate follows v.mod_date.
// Null with "bad date for %s: %s" when a date is refused, or with "failed to
// build the Info dict" when memory runs out.
cstr info_dict_build(const pdf_doc& doc, const info_values& v);

// Appends " " and the carried bytes of p (p must be present).
char* info_pair_append(strbuf* b, const info_pair& p);
