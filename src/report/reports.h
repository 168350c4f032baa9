// The report texts, one builder per report: each writes the JSON text of its
// report for loaded documents into b, and returns false when it has recorded
// a failure of its own. A builder that cannot append leaves b empty, which
// the caller publishes as a failure.
#pragma once

#include <string>

#include "core/strbuf.h"
#include "load/doc.h"

bool fonts_build(const pdf_doc& doc, strbuf& b);
bool images_build(const pdf_doc& doc, strbuf& b);
bool bookmarks_build(const pdf_doc& doc, strbuf& b);
bool security_build(const pdf_doc& doc, strbuf& b);
bool analyze_build(const pdf_doc& doc, strbuf& b);
bool page_labels_build(const pdf_doc& doc, strbuf& b);
// Every place metadata lives in the file: its revisions and the metadata items.
bool traces_build(const pdf_doc& doc, strbuf& b);
// What traces_build would list of metadata in doc, first thing first ("an
// XMP packet in object 12"); empty when it lists none: one revision whose
// trailer names no Info, no Info, XMP or /PieceInfo item, one /ID at most.
std::string traces_first_left(const pdf_doc& doc);

// {"added":{..},"removed":{..},"changed":{..},"same":[..]} over the Info
// fields of the rows the two trailers name (info_read_named).
bool compare_build(const pdf_doc& a, const pdf_doc& b, strbuf& out);

// Appends the batch-read object of one loaded file named `name` (a ',' first
// unless it is the first object of the array).
void batch_entry_append(strbuf* b, const std::string& name, const pdf_doc& doc, bool first);
