// Object texts with some dictionary entries left out, for writes that take
// metadata out of every object holding it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "syntax/lexer.h"

// The keys of the entries to leave out: `anywhere` in every dictionary the
// value holds (nested dictionaries and arrays included), `outer` in the
// value's own dictionary only. Keys are compared after #xx decoding.
struct strip_keys {
    std::vector<std::string_view> anywhere;
    std::vector<std::string_view> outer;
};

// The value at t[p, end) as text with those entries left out; every other
// byte (white space and comments included) is copied as it stands. False,
// *out unspecified, when nothing was left out or the value cannot be
// measured (the caller then keeps the text it had).
bool strip_entries(const uint8_t* t, pos p, pos end, const strip_keys& keys, std::string* out);
