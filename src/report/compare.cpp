// Field-by-field comparison of the Info fields of two files.
#include <cstring>

#include "core/frame.h"
#include "load/doc.h"
#include "info/info.h"
#include "vellix.h"

namespace {

enum class field_group { added, removed, changed, same };

field_group compare_field(const char* a, const char* b) {
    bool ea = !a[0], eb = !b[0];
    if (ea && eb) return field_group::same;
    if (ea) return field_group::added;
    if (eb) return field_group::removed;
    return std::strcmp(a, b) == 0 ? field_group::same : field_group::changed;
}

const char* compare_files(const char* path_a, const char* path_b) {
    info_fields fa, fb;
    {
        pdf_doc a;
        if (doc_load_ex(path_a, &a, 0) != 0) return nullptr;
        pdf_doc b;
        if (doc_load_ex(path_b, &b, 0) != 0) return nullptr;
        fa = meta_read_fields(a);
        fb = meta_read_fields(b);
    }
    field_group g[INFO_FIELD_COUNT];
    const char* va[INFO_FIELD_COUNT];
    const char* vb[INFO_FIELD_COUNT];
    for (int i = 0; i < INFO_FIELD_COUNT; ++i) {
        va[i] = fa[i] ? fa[i].get() : "";
        vb[i] = fb[i] ? fb[i].get() : "";
        g[i] = compare_field(va[i], vb[i]);
    }

    strbuf out = strbuf_start();
    // One "name":value group; the value is the second file's for added and
    // the first file's for removed.
    auto value_group = [&](const char* head, field_group which, const char* const* vals) {
        buf_str(&out, head);
        bool first = true;
        for (int i = 0; i < INFO_FIELD_COUNT; ++i) {
            if (g[i] != which) continue;
            if (!first) buf_bytes(&out, ",", 1);
            first = false;
            buf_bytes(&out, "\"", 1);
            buf_str(&out, KEYS[i]);
            buf_str(&out, "\":");
            json_str_append(&out, vals[i]);
        }
        buf_str(&out, "},");
    };
    value_group("{\"added\":{", field_group::added, vb);
    value_group("\"removed\":{", field_group::removed, va);
    buf_str(&out, "\"changed\":{");
    bool first = true;
    for (int i = 0; i < INFO_FIELD_COUNT; ++i) {
        if (g[i] != field_group::changed) continue;
        if (!first) buf_bytes(&out, ",", 1);
        first = false;
        buf_bytes(&out, "\"", 1);
        buf_str(&out, KEYS[i]);
        buf_str(&out, "\":{\"from\":");
        json_str_append(&out, va[i]);
        buf_str(&out, ",\"to\":");
        json_str_append(&out, vb[i]);
        buf_bytes(&out, "}", 1);
    }
    buf_str(&out, "},\"same\":[");
    first = true;
    for (int i = 0; i < INFO_FIELD_COUNT; ++i) {
        if (g[i] != field_group::same) continue;
        if (!first) buf_bytes(&out, ",", 1);
        first = false;
        buf_bytes(&out, "\"", 1);
        buf_str(&out, KEYS[i]);
        buf_bytes(&out, "\"", 1);
    }
    buf_str(&out, "]}");
    return slot_publish(g_compare_json, out, "failed to build JSON");
}

}  // namespace

extern "C" VELLIX_API const char* vellix_compare(const char* path_a, const char* path_b) {
    g_compare_json.reset();
    clear_error();
    if (!path_a || !path_b) {
        set_error("NULL path argument");
        return nullptr;
    }
    return export_guard<const char*>(nullptr, "failed to build JSON", [&] { return compare_files(path_a, path_b); });
}
