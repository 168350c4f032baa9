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
