// Strict validator for JSON texts (RFC 8259 grammar; strings must not hold
// raw control bytes; bytes from 0x80 up are accepted as they are).
#pragma once

#include <string>

// "" when text is exactly one JSON value, else a description with the offset.
std::string json_fault(const std::string& text);
