#include "pretty.h"

namespace {

bool is_json_ws(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Indentation stops growing at this depth, so that the output of a deeply
// nested text (a hostile bookmark tree) stays linear in its size.
constexpr int MAX_INDENT_DEPTH = 64;

void new_line(std::string& out, int depth) {
    out.push_back('\n');
    out.append(static_cast<size_t>(depth < MAX_INDENT_DEPTH ? depth : MAX_INDENT_DEPTH) * 2, ' ');
}

// Position of the first byte at or after i that is not white space.
size_t skip_ws(std::string_view s, size_t i) {
    while (i < s.size() && is_json_ws(s[i])) ++i;
    return i;
}

// Copies the string token starting at the quote s[i]; returns the position after it.
size_t copy_string(std::string_view s, size_t i, std::string& out) {
    size_t start = i++;
    while (i < s.size() && s[i] != '"') i += (s[i] == '\\') ? 2 : 1;
    if (i < s.size()) ++i;  // closing quote
    if (i > s.size()) i = s.size();
    out.append(s.substr(start, i - start));
    return i;
}

}  // namespace

std::string json_pretty(std::string_view s) {
    std::string out;
    out.reserve(s.size() * 2);
    int depth = 0;
    size_t i = skip_ws(s, 0);
    while (i < s.size()) {
        char c = s[i];
        if (c == '"') {
            i = copy_string(s, i, out);
            continue;
        }
        if (c == '{' || c == '[') {
            char close = (c == '{') ? '}' : ']';
            size_t next = skip_ws(s, i + 1);
            out.push_back(c);
            if (next < s.size() && s[next] == close) {
                out.push_back(close);
                i = next + 1;
            } else {
                new_line(out, ++depth);
                i = next;
            }
        } else if (c == '}' || c == ']') {
            if (depth > 0) --depth;
            new_line(out, depth);
            out.push_back(c);
            ++i;
        } else if (c == ',') {
            out.push_back(',');
            new_line(out, depth);
            i = skip_ws(s, i + 1);
            continue;
        } else if (c == ':') {
            out.append(": ");
            ++i;
        } else {
            // Number or literal: copied up to the next delimiter.
            size_t start = i;
            while (i < s.size() && !is_json_ws(s[i]) && s[i] != ',' && s[i] != ':' && s[i] != '}' &&
                   s[i] != ']' && s[i] != '{' && s[i] != '[' && s[i] != '"')
                ++i;
            out.append(s.substr(start, i - start));
        }
        i = skip_ws(s, i);
    }
    return out;
}
