// Strict validator for JSON texts (RFC 8259 grammar; strings must not hold
// raw control bytes; bytes from 0x80 up are accepted as they are).
#pragma once

#include <string>

// "" when text is exactly one JSON value, else a description with the offset.
std::string json_fault(const std::string& text);

// The decoded value of the first string member "key" of a JSON text (escapes
// \uXXXX, surrogate pairs included, turned into UTF-8); "<missing>" when the
// text has no such member.
std::string json_string_member(const std::string& text, const std::string& key);
