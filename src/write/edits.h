// The writes the options word chooses between: the signature guard
// (OPT_KEEP_SIGNATURES), the incremental update (OPT_INCREMENTAL) and the
// full rewrite (doc_write).
#pragma once

#include "load/doc.h"
#include "write/write_plan.h"

// Whether req may be written as an incremental update: it must not remove
// anything (an appended update cannot take old values out of the file), so
// requests that drop the Info dictionary or the XMP stream never are.
bool request_is_additive(const write_request& req);

// Whether doc may be rewritten in full: not when it is signed and
// OPT_KEEP_SIGNATURES is on ("the document is signed; rewriting it would
// invalidate its signatures: %s", in_path).
bool full_rewrite_allowed(const pdf_doc& doc, const char* in_path);

// Writes doc (loaded from in_path) to out_path as req asks under this
// thread's options: with OPT_INCREMENTAL and an additive request, an update
// appended to the input's bytes (doc_write_incremental); otherwise a full
// rewrite, refused for a signed document under OPT_KEEP_SIGNATURES with
// "the document is signed; rewriting it would invalidate its signatures: %s"
// (in_path). 1 on success, 0 with the message.
int doc_write_opts(const pdf_doc& doc, const char* in_path, const char* out_path, const write_request& req);

// Loads in_path and writes out_path as doc_write_opts does. When that is an
// incremental update, the document is first loaded through its
// cross-reference sections (doc_load_sections), so the cost is that of the
// update rather than of the file; where that load does not apply the whole
// file is loaded (doc_load) and its messages are the ones given.
int path_write_opts(const char* in_path, const char* out_path, const write_request& req);
