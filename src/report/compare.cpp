// Field-by-field comparison of the Info fields of two files.
#include <string>

#include "info/info.h"
#include "report/reports.h"

namespace {

enum class field_group { added, removed, changed, same };

// The texts are compared whole: under OPT_UNICODE they are decoded text and
// may hold zero bytes; with the byte rules they hold none.
field_group compare_field(const std::string& a, const std::string& b) {
    bool ea = a.empty(), eb = b.empty();
    if (ea && eb) return field_group::same;
    if (ea) return field_group::added;
    if (eb) return field_group::removed;
    return a == b ? field_group::same : field_group::changed;
}

}  // namespace

bool compare_build(const pdf_doc& a, const pdf_doc& b, strbuf& out) {
    info_fields fa = info_read_named(a);
    info_fields fb = info_read_named(b);
    field_group g[INFO_FIELD_COUNT];
    for (int i = 0; i < INFO_FIELD_COUNT; ++i) g[i] = compare_field(fa[i], fb[i]);
    auto text = [&out](const std::string& v) { json_str_append_n(&out, v.data(), v.size()); };

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
    auto value_of = [&](const info_fields& vals) {
        return [&out, &vals, &text](int i) {
            buf_bytes(&out, ":", 1);
            text(vals[i]);
        };
    };
    buf_str(&out, "{\"added\":{");
    group(field_group::added, value_of(fb));
    buf_str(&out, "},\"removed\":{");
    group(field_group::removed, value_of(fa));
    buf_str(&out, "},\"changed\":{");
    group(field_group::changed, [&](int i) {
        buf_str(&out, ":{\"from\":");
        text(fa[i]);
        buf_str(&out, ",\"to\":");
        text(fb[i]);
        buf_bytes(&out, "}", 1);
    });
    buf_str(&out, "},\"same\":[");
    group(field_group::same, [](int) {});
    buf_str(&out, "]}");
    return true;
}

