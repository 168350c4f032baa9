// Batch read and batch clear over the ".pdf" files of one directory.
#include "api/flows.h"
#include "report/reports.h"
#include "vellix.h"

thread_local result_slot g_batch_json;

// The previous result stays in place when an argument is null.
extern "C" VELLIX_API int vellix_batch_read(const char* dir, const char** out_json) {
    return export_guard(0, "failed to build batch JSON", [&] {
        clear_error();
        if (!args_given({dir, out_json})) return 0;
        g_batch_json.reset();
        pdf_dir d;
        if (!pdf_dir_open(dir, &d)) return 0;
        strbuf b = strbuf_start();
        buf_bytes(&b, "[", 1);
        bool first = true;
        pdf_dir_each_loaded(d, [&](const std::string& name, const pdf_doc& doc) {
            batch_entry_append(&b, name, doc, first);
            first = false;
        });
        buf_bytes(&b, "]", 1);
        const char* text = text_publish(g_batch_json, b, "failed to build batch JSON");
        if (!text) return 0;
        *out_json = text;
        return 1;
    });
}

// Each copy loses its Info dictionary and its XMP stream. Failures of single
// files are not counted and leave no message.
extern "C" VELLIX_API int vellix_batch_clear(const char* in_dir, const char* out_dir) {
    return export_guard(-1, "out of memory", [&] {
        clear_error();
        if (!args_given({in_dir, out_dir})) return -1;
        pdf_dir d;
        if (!pdf_dir_open(in_dir, &d)) return -1;
        if (!dir_make(out_dir)) {
            set_error("cannot create directory %s", out_dir);
            return -1;
        }
        write_request req;
        req.info = info_edit::drop;
        req.xmp = xmp_edit::drop;
        int count = 0;
        pdf_dir_each_loaded(d, [&](const std::string& name, const pdf_doc& doc) {
            std::string in = dir_join(d.path, name);
            if (doc_write_opts(doc, in.c_str(), dir_join(out_dir, name).c_str(), req) == 1) ++count;
        });
        clear_error();
        return count;
    });
}
