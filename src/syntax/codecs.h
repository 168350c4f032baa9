// PDF literal strings, hexadecimal strings and names: decoding to bytes and
// encoding bytes as a literal string. No character-set conversion.
// Every decoder throws std::bad_alloc when memory runs out.
#pragma once

#include <cstdint>

#include "core/strbuf.h"
#include "syntax/dict_view.h"

// Decoded bytes of the literal string whose "(" is at p; null when p is
// outside [0, end) or the byte there is not "(". An unterminated string is
// decoded up to end. The result may hold zero bytes; consumers read it as a
// NUL-terminated string.
cstr literal_decode(const uint8_t* text, pos p, pos end);
// Decoded bytes of the hexadecimal string whose "<" is at p (non-hex bytes
// skipped, an odd last digit padded with 0); null when absent.
cstr hex_decode(const uint8_t* text, pos p, pos end);
// The decoders above, appending the decoded bytes (zero bytes kept) to out;
// false when no string of that kind starts at p.
bool literal_decode_to(const uint8_t* text, pos p, pos end, strbuf* out);
bool hex_decode_to(const uint8_t* text, pos p, pos end, strbuf* out);

// Decoded name starting at p (the byte after the solidus): "#" and two hex
// digits give one byte, it ends at any other non-name byte. Never null
// except on allocation failure.
cstr name_decode(const uint8_t* text, pos p, pos end);
// Appends s as a PDF literal string, parentheses included.
char* pdf_escape_literal(strbuf* b, const char* s);
// Decoded name value of /key (at d.value_past_name(key)), or null when the
// key is missing or its value is not a name.
cstr dict_name(const dict_view& d, const char* key);
