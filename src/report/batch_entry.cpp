// One file's object in the batch-read array.
#include <cstdio>

#include "core/options.h"
#include "info/info.h"
#include "report/reports.h"
#include "syntax/text_string.h"

void batch_entry_append(strbuf* b, const std::string& name, const pdf_doc& doc, bool first) {
    info_fields f = info_read_named(doc);
    if (!first) buf_bytes(b, ",", 1);
    buf_str(b, "{\"file\":");
    // A file name is bytes; under OPT_UNICODE its invalid UTF-8 becomes U+FFFD.
    if (option_on(OPT_UNICODE)) {
        std::string shown = utf8_sanitize(name);
        json_str_append_n(b, shown.data(), shown.size());
    } else {
        json_str_append(b, name.c_str());
    }
    for (int i = 0; i < INFO_FIELD_COUNT; ++i) {
        buf_str(b, ",\"");
        buf_str(b, KEYS[i]);
        buf_str(b, "\":");
        json_str_append_n(b, f[i].data(), f[i].size());
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
