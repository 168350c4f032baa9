// Incremental updates: the input's bytes kept as they are and the changed
// objects appended with a cross-reference section of their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "load/doc.h"
#include "write/write_plan.h"

// The bytes to append to doc (loaded from in_path) for req: a line feed when
// the file does not end with an end of line, the objects the plan replaces or
// adds (Info; for XMP also the metadata stream and a copy of the catalog), a
// cross-reference section of the kind of the input's last one (table, or
// stream) with /Prev, and its trailer keeping /Root, the first /ID element
// and /XRefStm, with a new second /ID element. *tail_at is where
// "startxref" begins in *update. False with the message when the last
// section cannot be found where startxref points, or the plan fails.
// *written, when given, receives each object of the update with the offset
// it has in the output.
struct update_obj {
    int32_t num;
    int32_t gen;
    long long off;
};
bool incremental_update_build(const pdf_doc& doc, const char* in_path, const write_request& req,
                              std::string* update, size_t* tail_at, std::vector<update_obj>* written = nullptr);

// Writes the update of req to out_path. When out_path names the input file
// itself, the update is appended in place: everything up to "startxref" is
// written and synced first, then the rest, so that any cut leaves the old or
// the new document; on a failure the file is cut back to its length.
// Otherwise the input is copied (a reflink, else copy_file_range) with the
// update after it into a temporary file renamed into place.
//
// With `check_read_back` (a document loaded by a scan of its bytes, which may
// be damaged), the written file is loaded again before it counts: an input
// that ends inside an unterminated stream or object would hide the appended
// objects from every reader, so the write fails instead ("cannot update %s
// incrementally: ..."), the in-place file cut back to its length and the
// temporary copy removed. A document loaded through its verified sections
// needs no such check.
// 1, or 0 with the message ("cannot write %s", "%s changed since it was
// read", the builder's, or the read-back one).
int doc_write_incremental(const pdf_doc& doc, const char* in_path, const char* out_path, const write_request& req,
                          bool check_read_back);

// The /ID array of the trailer of the section the input's startxref names,
// as written, when it holds two strings; else empty.
std::string trailer_id_text(const pdf_doc& doc);
