// A view of a dictionary's bytes, text[start, end), and the key lookups
// the readers make in it. Keys are searched with name_find: anywhere in the
// range, nested dictionaries and strings included.
#pragma once

#include <cstdint>

#include "syntax/lexer.h"

struct dict_view {
    const uint8_t* text = nullptr;  // null: no dictionary
    pos start = 0;
    pos end = 0;

    // Slash of the first /name, or -1 (name_find).
    pos key(const char* name) const { return name_find(text, start, end, name); }
    // Start of the value of /name after white space, or -1 (key_value).
    pos value(const char* name) const { return key_value(text, start, end, name); }
    // Start of the value of /name past further name bytes of the key; may
    // equal end (key_value_past_name).
    pos value_past_name(const char* name) const { return key_value_past_name(text, start, end, name); }
    // Integer read in place at value_past_name(name), or `absent` when the
    // key is missing or that position is end.
    int32_t int_value(const char* name, int32_t absent) const;
    // Object number of the reference N [G] R that is the value of /name, or -1.
    int32_t ref(const char* name) const;
    // Whether the value at value_past_name(key) is a name that decodes to
    // `want` (name_decode's rule: "#" and two hexadecimal digits give one
    // byte, the name ends at any other byte and, read as a C string, at its
    // first zero byte). No decoded copy is built.
    bool name_is(const char* key, const char* want) const;
};
