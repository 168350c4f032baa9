// PDF literal strings, hexadecimal strings and names: decoding to bytes and
// encoding bytes as a literal string. No character-set conversion.
#pragma once

#include <cstdint>

#include "core/strbuf.h"

// Decoded bytes of the literal string whose "(" is at pos; null when pos >= end
// or the byte there is not "(". The result may hold zero bytes; consumers
// read it as a NUL-terminated string.
cstr parse_literal_string(const uint8_t* text, int32_t end, int32_t pos);
// Decoded bytes of the hexadecimal string whose "<" is at pos; null when absent.
cstr parse_hex_string(const uint8_t* text, int32_t end, int32_t pos);
// Decoded name starting at pos (the byte after the solidus); never null
// except on allocation failure.
cstr decode_pdf_name(const uint8_t* text, int32_t end, int32_t pos);
// Appends s as a PDF literal string, parentheses included.
char* pdf_escape_literal(strbuf* b, const char* s);
// Decoded /Type (resp. /Subtype) name of the dictionary region, or null.
cstr dict_type_name(const uint8_t* text, int32_t end, int32_t start);
cstr dict_subtype_name(const uint8_t* text, int32_t end, int32_t start);
