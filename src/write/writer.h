// The writer: one loaded document written to a new file as a request asks.
#pragma once

#include "load/doc.h"
#include "write/write_plan.h"

// Writes doc to out_path as req asks: the plan (write_plan_make), the whole
// file as pieces (doc_emit_pieces), the atomic file write. 1 on success; 0
// with "NULL output path", the Info builder's, the emitter's or the file
// write's message.
int doc_write(const pdf_doc& doc, const char* out_path, const write_request& req);
