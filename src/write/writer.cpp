// One write: plan, emit, atomic file.
#include "write/writer.h"

#include "core/frame.h"
#include "write/emitter.h"

int doc_write(const pdf_doc& doc, const char* out_path, const write_request& req) {
    if (!out_path) {
        set_error("NULL output path");
        return 0;
    }
    write_plan plan;
    if (!write_plan_make(doc, req, &plan)) return 0;
    out_pieces out;
    if (!doc_emit_pieces(doc, plan, &out)) return 0;
    return write_output_pieces(out_path, out);
}
