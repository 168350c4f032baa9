// Bookmarks and page labels read as the PDF standard defines them (the
// OPT_RESOLVE reading), and the text writer both readers share.
#pragma once

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
