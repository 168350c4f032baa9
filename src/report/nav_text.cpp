// The JSON form of bookmark titles and label prefixes.
#include <string>

#include "core/options.h"
#include "report/nav_resolve.h"
#include "syntax/text_string.h"

void text_json_append(strbuf* b, std::string_view bytes) {
    if (option_on(OPT_UNICODE)) {
        std::string u = text_string_to_utf8(bytes);
        json_str_append_n(b, u.data(), u.size());
    } else {
        std::string s(bytes);
        json_str_append(b, s.c_str());
    }
}

void label_write(strbuf& b, const label_range& r, bool& first) {
    if (!first) buf_bytes(&b, ",", 1);
    first = false;
    buf_str(&b, "{\"start\":");
    buf_int(&b, r.start);
    buf_str(&b, ",\"style\":");
    json_str_append(&b, r.style);
    buf_str(&b, ",\"prefix\":");
    text_json_append(&b, r.prefix);
    buf_str(&b, ",\"start_num\":");
    buf_int(&b, r.start_num);
    buf_bytes(&b, "}", 1);
}
