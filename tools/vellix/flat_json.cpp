#include "flat_json.h"

namespace {

// The writers' parser decodes backslash-n, -t and -r to control bytes only
// inside values; in keys those bytes are written raw so that they survive.
void append_string(std::string& out, const std::string& s, bool is_value) {
    out.push_back('"');
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (is_value && c == '\n') {
            out.append("\\n");
        } else if (is_value && c == '\t') {
            out.append("\\t");
        } else if (is_value && c == '\r') {
            out.append("\\r");
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
}

}  // namespace

std::string json_flat_object(const std::vector<std::pair<std::string, std::string>>& pairs) {
    std::string out = "{";
    for (size_t i = 0; i < pairs.size(); ++i) {
        if (i) out.push_back(',');
        append_string(out, pairs[i].first, false);
        out.push_back(':');
        append_string(out, pairs[i].second, true);
    }
    out.push_back('}');
    return out;
}
