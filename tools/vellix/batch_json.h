// JSON pieces of the batch records.
#pragma once

#include <string>
#include <string_view>

// Appends s as a JSON string: quote, backslash and bytes below 0x20 escaped.
// With utf8_only, every byte sequence that is not UTF-8 becomes U+FFFD, so
// the text is valid UTF-8 whatever s holds; otherwise other bytes are copied
// as they are.
void json_string_append(std::string& out, std::string_view s, bool utf8_only);

// The length of the valid UTF-8 sequence at s[i] (1 to 4), or 0 when none
// starts there (overlong forms, surrogates and values past U+10FFFF included).
size_t utf8_sequence_length(std::string_view s, size_t i);
