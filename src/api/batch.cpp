// Batch read and batch clear over the ".pdf" files of one directory.
#include <cstdio>
#include <string>
#include <vector>

#include "core/frame.h"
#include "load/doc.h"
#include "info/info.h"
#include "write/writer.h"
#include "api/dir_list.h"
#include "vellix.h"

namespace {

// Appends the batch object of one loaded file.
void batch_append_file(strbuf* b, const std::string& name, const pdf_doc& doc, bool first) {
    info_fields f = meta_read_fields(doc);
    if (!first) buf_bytes(b, ",", 1);
    buf_str(b, "{\"file\":");
    json_str_append(b, name.c_str());
    for (int i = 0; i < INFO_FIELD_COUNT; ++i) {
        buf_str(b, ",\"");
        buf_str(b, KEYS[i]);
        buf_str(b, "\":");
        json_str_append(b, f[i] ? f[i].get() : "");
    }
    char tmp[64];
    int n = std::snprintf(tmp, sizeof tmp, ",\"pages\":%d", doc.pages_ok ? static_cast<int>(doc.pages.size()) : 0);
    buf_bytes(b, tmp, static_cast<uint64_t>(n));
    n = std::snprintf(tmp, sizeof tmp, ",\"file_size\":%ld", static_cast<long>(doc.len));
    buf_bytes(b, tmp, static_cast<uint64_t>(n));
    buf_str(b, ",\"pdf_version\":");
    json_str_append(b, doc.version[0] ? doc.version : "1.0");
    buf_bytes(b, "}", 1);
}

int batch_read(const char* dir, const char** out_json) {
    std::vector<std::string> names;
    if (!dir_list_pdfs(dir, &names)) {
        set_error("cannot open directory %s", dir);
        return 0;
    }
    strbuf b = strbuf_start();
    buf_bytes(&b, "[", 1);
    bool first = true;
    for (const std::string& name : names) {
        std::string path = dir_join(dir, name);
        pdf_doc doc;
        if (doc_load_ex(path.c_str(), &doc, 0) != 0) {
            continue;
        }
        batch_append_file(&b, name, doc, first);
        first = false;
    }
    buf_bytes(&b, "]", 1);
    const char* text = slot_publish(g_batch_json, b, "failed to build batch JSON");
    if (!text) return 0;
    *out_json = text;
    return 1;
}

int batch_clear(const char* in_dir, const char* out_dir) {
    std::vector<std::string> names;
    if (!dir_list_pdfs(in_dir, &names)) {
        set_error("cannot open directory %s", in_dir);
        return -1;
    }
    if (!dir_make(out_dir)) {
        set_error("cannot create directory %s", out_dir);
        return -1;
    }
    int count = 0;
    for (const std::string& name : names) {
        std::string in = dir_join(in_dir, name);
        std::string out = dir_join(out_dir, name);
        pdf_doc doc;
        if (doc_load_ex(in.c_str(), &doc, 0) == 0 && doc_write2(doc, out.c_str(), 0, 3, nullptr, 0, nullptr) == 1)
            ++count;
    }
    clear_error();
    return count;
}

}  // namespace

extern "C" {

VELLIX_API int vellix_batch_read(const char* dir, const char** out_json) {
    if (!dir || !out_json) {
        set_error("NULL path argument");
        return 0;
    }
    g_batch_json.reset();
    clear_error();
    return export_guard(0, "failed to build batch JSON", [&] { return batch_read(dir, out_json); });
}

VELLIX_API int vellix_batch_clear(const char* in_dir, const char* out_dir) {
    if (!in_dir || !out_dir) {
        set_error("NULL path argument");
        return -1;
    }
    return export_guard(-1, "out of memory", [&] { return batch_clear(in_dir, out_dir); });
}

}  // extern "C"
