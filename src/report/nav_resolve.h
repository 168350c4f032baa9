// Bookmarks and page labels read as the PDF standard defines them (the
// OPT_RESOLVE reading), and the text writer both readers share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/strbuf.h"
#include "load/doc.h"

// The outline through /First and /Next with destinations resolved: direct or
// indirect arrays, GoTo actions, named destinations, << /D [...] >> dictionaries.
bool bookmarks_build_resolved(const pdf_doc& doc, strbuf& b);
// The /PageLabels number tree (/Nums, /Kids), or the label array.
bool page_labels_build_resolved(const pdf_doc& doc, strbuf& b);

// Appends the JSON string of the PDF text string whose bytes are given: with
// OPT_UNICODE the UTF-8 text they denote (zero bytes kept), otherwise the
// bytes up to the first zero byte, as the byte rules write them.
void text_json_append(strbuf* b, std::string_view bytes);

// One page-label range as both page-label readers report it.
struct label_range {
    int64_t start = 0;
    const char* style = "decimal";
    std::string prefix;
    int64_t start_num = 1;
};

// Appends {"start":..,"style":..,"prefix":..,"start_num":..}, a ',' first
// unless `first`, which it then clears.
void label_write(strbuf& b, const label_range& r, bool& first);
