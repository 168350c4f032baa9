// A small reader of JSON texts into a tree of values: strings decoded to
// their bytes (\\uXXXX escapes as UTF-8), numbers kept as written, members
// in text order. Nesting is bounded; the grammar is checked only as far as
// reading needs.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct jvalue {
    enum kind_t { null_v, bool_v, number_v, string_v, array_v, object_v } kind = null_v;
    bool b = false;
    std::string text;  // a string's bytes, or a number as written
    std::vector<jvalue> items;
    std::vector<std::pair<std::string, jvalue>> members;

    // The first member named key, or null.
    const jvalue* get(std::string_view key) const {
        for (const auto& [k, v] : members)
            if (k == key) return &v;
        return nullptr;
    }
    // A string or number member's text; "" for anything else.
    std::string str(std::string_view key) const {
        const jvalue* v = get(key);
        return v && (v->kind == string_v || v->kind == number_v) ? v->text : std::string();
    }
};

// True with *out the value of the whole text (white space around it allowed).
bool json_value_parse(std::string_view text, jvalue* out);
