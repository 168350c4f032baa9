// Field-by-field comparison of the Info fields of two files.
#include <cstring>

#include "info/info.h"
#include "report/reports.h"

namespace {

enum class field_group { added, removed, changed, same };

field_group compare_field(const char* a, const char* b) {
    bool ea = !a[0], eb = !b[0];
    if (ea && eb) return field_group::same;
    if (ea) return field_group::added;
    if (eb) return field_group::removed;
    return std::strcmp(a, b) == 0 ? field_group::same : field_group::changed;
}

}  // namespace

bool compare_build(const pdf_doc& a, const pdf_doc& b, strbuf& out) {
    info_fields fa = info_read_named(a);
    info_fields fb = info_read_named(b);
    field_group g[INFO_FIELD_COUNT];
    const char* va[INFO_FIELD_COUNT];
    const char* vb[INFO_FIELD_COUNT];
    for (int i = 0; i < INFO_FIELD_COUNT; ++i) {
        va[i] = fa[i] ? fa[i].get() : "";
        vb[i] = fb[i] ? fb[i].get() : "";
        g[i] = compare_field(va[i], vb[i]);
    }

    // The fields of one group, comma-separated: each as "key" and then what
    // `value(i)` appends after it.
    auto group = [&](field_group which, auto value) {
        bool first = true;
        for (int i = 0; i < INFO_FIELD_COUNT; ++i) {
            if (g[i] != which) continue;
            if (!first) buf_bytes(&out, ",", 1);
            first = false;
            buf_bytes(&out, "\"", 1);
            buf_str(&out, KEYS[i]);
            buf_bytes(&out, "\"", 1);
            value(i);
        }
    };
    // added shows the second file's value, removed the first file's.
    auto value_of = [&](const char* const* vals) {
        return [&out, vals](int i) {
            buf_bytes(&out, ":", 1);
            json_str_append(&out, vals[i]);
        };
    };
    buf_str(&out, "{\"added\":{");
    group(field_group::added, value_of(vb));
    buf_str(&out, "},\"removed\":{");
    group(field_group::removed, value_of(va));
    buf_str(&out, "},\"changed\":{");
    group(field_group::changed, [&](int i) {
        buf_str(&out, ":{\"from\":");
        json_str_append(&out, va[i]);
        buf_str(&out, ",\"to\":");
        json_str_append(&out, vb[i]);
        buf_bytes(&out, "}", 1);
    });
    buf_str(&out, "},\"same\":[");
    group(field_group::same, [](int) {});
    buf_str(&out, "]}");
    return true;
}

