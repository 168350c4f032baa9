// PDF text strings to and from UTF-8: the byte-order marks, UTF-16 (both byte
// orders), UTF-8 and PDFDocEncoding, as the PDF standard defines text strings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The UTF-8 text of a decoded PDF string (the bytes a literal or hexadecimal
// string denotes). FE FF starts UTF-16BE, FF FE UTF-16LE, EF BB BF UTF-8; a
// string without a mark that is valid UTF-8 holding a multi-byte sequence is
// UTF-8; anything else is PDFDocEncoding. Language escapes (1B ... 1B) of the
// Unicode forms are removed, surrogate pairs combined; zero bytes are text,
// not terminators. What cannot be decoded becomes U+FFFD. Always valid UTF-8.
std::string text_string_to_utf8(std::string_view bytes);

// The bytes with every invalid UTF-8 sequence replaced by U+FFFD.
std::string utf8_sanitize(std::string_view bytes);

// True when the bytes are well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF).
bool utf8_valid(std::string_view bytes);

// The PDF string bytes that store the UTF-8 value `utf8`: the value itself
// when it is printable ASCII (0x20 to 0x7E) or empty, else FE FF and its
// UTF-16BE code units. False (out untouched) when utf8 is not valid UTF-8.
bool utf8_to_text_string(std::string_view utf8, std::string* out);

// Appends the UTF-8 form of the code point (U+FFFD for a surrogate or a
// value above U+10FFFF).
void utf8_append(std::string& out, uint32_t cp);
