// The scrub export: plan, emit, and a read of the copy before it counts.
#include <new>
#include <string>

#include "api/flows.h"
#include "report/reports.h"
#include "vellix.h"
#include "write/emitter.h"
#include "write/scrub.h"

namespace {

struct scrub_check_ctx {
    const char* out_path;
};

// The copy in its temporary file must load and hold no metadata trace.
bool copy_is_clean(const char* temp_path, void* ctx) noexcept {
    const char* out_path = static_cast<scrub_check_ctx*>(ctx)->out_path;
    try {
        pdf_doc copy;
        if (doc_load(temp_path, &copy, 0) != 0) {
            set_error("cannot scrub into %s: the copy does not load", out_path);
            return false;
        }
        std::string left = traces_first_left(copy);
        if (left.empty()) return true;
        set_error("cannot scrub into %s: the copy would still hold metadata (%s); nothing was written", out_path,
                  left.c_str());
    } catch (const std::bad_alloc&) {
        set_error("out of memory");
    }
    return false;
}

}  // namespace

extern "C" VELLIX_API int vellix_scrub(const char* in_path, const char* out_path) {
    return export_guard(0, "out of memory", [&]() -> int {
        clear_error();
        if (!args_given({in_path, out_path})) return 0;
        pdf_doc doc;
        if (doc_load(in_path, &doc, 0) != 0) return 0;
        if (!full_rewrite_allowed(doc, in_path)) return 0;
        write_plan plan;
        if (!scrub_plan_make(doc, in_path, &plan)) return 0;
        plan.keep_streams = option_on(OPT_KEEP_STREAMS);
        out_pieces out;
        if (!doc_emit_pieces(doc, plan, &out)) return 0;
        scrub_check_ctx ctx{out_path};
        return write_output_pieces(out_path, out, copy_is_clean, &ctx);
    });
}
