// Choosing the write the options word asks for.
#include "write/edits.h"

#include "core/frame.h"
#include "core/options.h"
#include "load/tail_load.h"
#include "write/incremental.h"
#include "write/signatures.h"
#include "write/writer.h"
#include "xmp/xmp.h"

bool request_is_additive(const write_request& req) {
    return req.info != info_edit::drop && req.xmp != xmp_edit::drop;
}

bool full_rewrite_allowed(const pdf_doc& doc, const char* in_path) {
    if (option_on(OPT_KEEP_SIGNATURES) && doc_has_signature(doc)) {
        set_error("the document is signed; rewriting it would invalidate its signatures: %s", in_path);
        return false;
    }
    return true;
}

int doc_write_opts(const pdf_doc& doc, const char* in_path, const char* out_path, const write_request& req) {
    if (option_on(OPT_INCREMENTAL) && request_is_additive(req))
        return doc_write_incremental(doc, in_path, out_path, req, true);
    if (!full_rewrite_allowed(doc, in_path)) return 0;
    if (option_on(OPT_KEEP_STREAMS)) {
        write_request keep = req;
        keep.keep_streams = true;
        return doc_write(doc, out_path, keep);
    }
    return doc_write(doc, out_path, req);
}

namespace {

// Whether the document loaded through its sections serves req: a partial
// table serves an XMP write only when it holds the stream the catalog names
// (otherwise the stream replaced is the first /Metadata stream of them all).
bool sections_serve(const pdf_doc& doc, bool whole, const write_request& req) {
    if (whole || req.xmp == xmp_edit::keep) return true;
    int32_t num = xmp_catalog_ref(doc);
    return num > 0 && doc_find(doc, num);
}

}  // namespace

int path_write_opts(const char* in_path, const char* out_path, const write_request& req) {
    if (option_on(OPT_INCREMENTAL) && request_is_additive(req)) {
        pdf_doc doc;
        bool whole = false;
        if (doc_load_sections(in_path, &doc, &whole) && sections_serve(doc, whole, req))
            return doc_write_incremental(doc, in_path, out_path, req, false);
    }
    pdf_doc doc;
    if (doc_load(in_path, &doc, 0) != 0) return 0;
    return doc_write_opts(doc, in_path, out_path, req);
}
