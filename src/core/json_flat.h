// Parser for flat JSON objects whose values are all strings.
#pragma once

#include <cstdint>

// Pairs in input order; duplicates are kept. Strings are malloc'ed and owned.
struct jsonobj {
    char** keys = nullptr;
    char** values = nullptr;
    int32_t count = 0;
    int32_t cap = 0;
};

// 1 when text is accepted, 0 otherwise; obj may hold pairs either way and is
// released with jsonobj_free in every case.
int json_parse_flat(const char* text, jsonobj* obj);
void jsonobj_free(jsonobj* obj);

// Releases a jsonobj when it goes out of scope.
struct jsonobj_guard {
    jsonobj* obj;
    ~jsonobj_guard() { jsonobj_free(obj); }
};
