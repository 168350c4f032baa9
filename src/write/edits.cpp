// Choosing the write the options word asks for.
#include "write/edits.h"

#include "core/frame.h"
#include "core/options.h"
#include "write/incremental.h"
#include "write/signatures.h"
#include "write/writer.h"

bool request_is_additive(const write_request& req) {
    return req.info != info_edit::drop && req.xmp != xmp_edit::drop;
}

int doc_write_opts(const pdf_doc& doc, const char* in_path, const char* out_path, const write_request& req) {
    if (option_on(OPT_INCREMENTAL) && request_is_additive(req))
        return doc_write_incremental(doc, in_path, out_path, req);
    if (option_on(OPT_KEEP_SIGNATURES) && doc_has_signature(doc)) {
        set_error("the document is signed; rewriting it would invalidate its signatures: %s", in_path);
        return 0;
    }
    if (option_on(OPT_KEEP_STREAMS)) {
        write_request keep = req;
        keep.keep_streams = true;
        return doc_write(doc, out_path, keep);
    }
    return doc_write(doc, out_path, req);
}
