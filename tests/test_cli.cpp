// The vellix command-line tool: its formatting and parsing helpers, and the
// tool itself run as a process on fixtures and on the bundled sample.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cli_args.h"
#include "core/json_flat.h"
#include "flat_json.h"
#include "pretty.h"

namespace {

// ---- a strict JSON reader used to compare texts by value ---------------------

// Reads one JSON value at text[i] and appends its compact form to out;
// returns false on any syntax error. Strings are copied as written.
struct json_reader {
    const std::string& t;
    size_t i = 0;
    int depth = 0;

    void ws() {
        while (i < t.size() && (t[i] == ' ' || t[i] == '\t' || t[i] == '\n' || t[i] == '\r')) ++i;
    }
    bool string(std::string& out) {
        if (i >= t.size() || t[i] != '"') return false;
        size_t start = i++;
        while (i < t.size() && t[i] != '"') {
            if (static_cast<unsigned char>(t[i]) < 0x20) return false;
            if (t[i] == '\\') {
                if (++i >= t.size() || !std::strchr("\"\\/bfnrtu", t[i])) return false;
                if (t[i] == 'u') {
                    for (int k = 0; k < 4; ++k)
                        if (++i >= t.size() || !std::isxdigit(static_cast<unsigned char>(t[i]))) return false;
                }
            }
            ++i;
        }
        if (i >= t.size()) return false;
        ++i;
        out.append(t, start, i - start);
        return true;
    }
    bool value(std::string& out) {
        if (++depth > 200) return false;
        ws();
        if (i >= t.size()) return false;
        bool ok = true;
        char c = t[i];
        if (c == '{' || c == '[') {
            char close = c == '{' ? '}' : ']';
            out.push_back(c);
            ++i;
            ws();
            if (i < t.size() && t[i] == close) {
                ++i;
            } else {
                for (;;) {
                    if (c == '{') {
                        ws();
                        if (!string(out)) return false;
                        ws();
                        if (i >= t.size() || t[i++] != ':') return false;
                        out.push_back(':');
                    }
                    if (!value(out)) return false;
                    ws();
                    if (i < t.size() && t[i] == ',') {
                        out.push_back(',');
                        ++i;
                        continue;
                    }
                    if (i < t.size() && t[i] == close) {
                        ++i;
                        break;
                    }
                    return false;
                }
            }
            out.push_back(close);
        } else if (c == '"') {
            ok = string(out);
        } else {
            size_t start = i;
            while (i < t.size() && (std::isalnum(static_cast<unsigned char>(t[i])) || std::strchr("+-.", t[i]))) ++i;
            std::string tok = t.substr(start, i - start);
            bool number = !tok.empty() && (std::isdigit(static_cast<unsigned char>(tok[0])) || tok[0] == '-');
            ok = tok == "true" || tok == "false" || tok == "null" || number;
            out += tok;
        }
        --depth;
        return ok;
    }
};

// The compact form of a whole JSON text, or "<invalid>".
std::string canonical_json(const std::string& text) {
    json_reader r{text};
    std::string out;
    if (!r.value(out)) return "<invalid>";
    r.ws();
    return r.i == text.size() ? out : "<invalid>";
}

// The text with white space outside string tokens removed (strings end at an
// unescaped quote or at the end of the text, as the formatter reads them).
std::string strip_ws(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size();) {
        if (s[i] == '"') {
            size_t start = i++;
            while (i < s.size() && s[i] != '"') i += s[i] == '\\' ? 2 : 1;
            i = std::min(i + 1, s.size());
            out.append(s, start, i - start);
        } else {
            if (!std::strchr(" \t\n\r", s[i])) out.push_back(s[i]);
            ++i;
        }
    }
    return out;
}

// ---- the pretty-printer ----------------------------------------------------

TEST(CliPretty, LayoutOfObjectsArraysAndEmptyContainers) {
    const std::pair<std::string, std::string> cases[] = {
        {"{}", "{}"},
        {"[]", "[]"},
        {"7", "7"},
        {"{\"a\":1}", "{\n  \"a\": 1\n}"},
        {"[1,-2,true,null]", "[\n  1,\n  -2,\n  true,\n  null\n]"},
        {"{\"added\":{},\"same\":[\"title\",\"author\"]}",
         "{\n  \"added\": {},\n  \"same\": [\n    \"title\",\n    \"author\"\n  ]\n}"},
        {"[{\"title\":\"A\",\"kids\":[{\"title\":\"B\",\"kids\":[]}]}]",
         "[\n  {\n    \"title\": \"A\",\n    \"kids\": [\n      {\n        \"title\": \"B\",\n"
         "        \"kids\": []\n      }\n    ]\n  }\n]"},
        // White space already present is replaced, not added to.
        {" { \"a\" :\n [ ] , \"b\" : { } } ", "{\n  \"a\": [],\n  \"b\": {}\n}"},
    };
    for (const auto& [in, want] : cases) EXPECT_EQ(json_pretty(in), want) << in;
}

TEST(CliPretty, StringsAreCopiedByteForByte) {
    // Punctuation, escapes and bytes from 0x80 up inside strings stay as they are.
    const std::string in =
        "{\"k,:{}\":\"a,b:{c}[d] \\\" \\\\\",\"u\":\"\\u001b\\n\\t\",\"raw\":\"\xc3\xa9\xff\x80\","
        "\"end\":\"x\\\\\"}";
    const std::string want =
        "{\n  \"k,:{}\": \"a,b:{c}[d] \\\" \\\\\",\n  \"u\": \"\\u001b\\n\\t\",\n  \"raw\": \"\xc3\xa9\xff\x80\",\n"
        "  \"end\": \"x\\\\\"\n}";
    EXPECT_EQ(json_pretty(in), want);
    EXPECT_EQ(canonical_json(json_pretty(in)), canonical_json(in));
}

TEST(CliPretty, MalformedInputKeepsItsTokensAndEnds) {
    // Nothing is lost or invented and nothing is read past the end, whatever
    // the input; only white space outside strings changes.
    const std::string cases[] = {
        "", "{", "}", "]]]", "{{{", "[[[[", "{\"a\":\"unterminated", "\"\\", "{\"a\":\"x\\",
        "{\"a\" 1 2 \"b\"}", ",,,", "::", "{\"a\":[1,2}", std::string("[\"\0\"]", 5), "tru e",
    };
    for (const auto& in : cases) EXPECT_EQ(strip_ws(json_pretty(in)), strip_ws(in)) << in;
}

TEST(CliPretty, DeepNestingStaysLinear) {
    // No recursion, and indentation capped at 64 levels: 20000 levels give
    // at most 2 * 64 spaces per line.
    std::string deep = std::string(20000, '[') + "1" + std::string(20000, ']');
    std::string out = json_pretty(deep);
    EXPECT_EQ(strip_ws(out), deep);
    EXPECT_LE(out.size(), deep.size() * (2 + 2 * 64));
    EXPECT_EQ(out.substr(0, 6), "[\n  [\n");
    EXPECT_NE(out.find("\n" + std::string(128, ' ') + "["), std::string::npos);
    EXPECT_EQ(out.find("\n" + std::string(130, ' ')), std::string::npos);
}

// ---- flat JSON objects for the writers -------------------------------------

TEST(CliFlatJson, WritersDecodeEveryByteBack) {
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"title", "plain"},
        {"author", "quote \" backslash \\ end\\"},
        {"subject", "lf\ntab\tcr\r ctl\x01\x1f del\x7f"},
        {"keywords", "caf\xc3\xa9, \xff\x80"},
        {"k\ney\t\"\\", "key bytes"},
        {"empty", ""},
        {"", "empty key"},
    };
    std::string text = json_flat_object(pairs);
    jsonobj obj;
    jsonobj_guard guard{&obj};
    ASSERT_EQ(json_parse_flat(text.c_str(), &obj), 1) << text;
    ASSERT_EQ(obj.count, static_cast<int32_t>(pairs.size()));
    for (int32_t i = 0; i < obj.count; ++i) {
        EXPECT_EQ(obj.keys[i], pairs[i].first);
        EXPECT_EQ(obj.values[i], pairs[i].second);
    }
    EXPECT_EQ(json_flat_object({}), "{}");
}

// ---- argument parsing ------------------------------------------------------

const std::vector<option_spec> SPECS = {
    {"output", 'o', "OUT", ""},
    {"in-place", 0, nullptr, ""},
    {"title", 0, "TEXT", ""},
    {"prop", 'p', "KEY=VALUE", ""},
};

TEST(CliArgs, OptionFormsAndOperands) {
    parsed_args a;
    ASSERT_EQ(parse_args(SPECS,
                         {"in.pdf", "-o", "a.pdf", "--title=T=1", "-pdc:x=1", "--prop", "dc:y=2", "--title", "",
                          "-oB", "--in-place", "--", "--title", "-o", "-"},
                         a),
              "");
    EXPECT_EQ(a.positionals, (std::vector<std::string>{"in.pdf", "--title", "-o", "-"}));
    ASSERT_NE(a.last("output"), nullptr);
    EXPECT_EQ(*a.last("output"), "B");
    EXPECT_EQ(*a.last("title"), "");  // the last occurrence wins
    EXPECT_EQ(a.all("title"), (std::vector<std::string>{"T=1", ""}));
    EXPECT_EQ(a.all("prop"), (std::vector<std::string>{"dc:x=1", "dc:y=2"}));
    EXPECT_TRUE(a.has("in-place"));
    EXPECT_FALSE(a.has("pretty"));

    ASSERT_EQ(parse_args(SPECS, {"-", "x"}, a), "");
    EXPECT_EQ(a.positionals, (std::vector<std::string>{"-", "x"}));
    EXPECT_TRUE(a.options.empty());
}

TEST(CliArgs, UsageErrors) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--colour"}, "unknown option '--colour'"},
        {{"--colour=red"}, "unknown option '--colour'"},
        {{"-x"}, "unknown option '-x'"},
        {{"--pretty"}, "unknown option '--pretty'"},
        {{"in.pdf", "--title"}, "option '--title' needs a value"},
        {{"-o"}, "option '-o' needs a value"},
        {{"--in-place=yes"}, "option '--in-place' takes no value"},
        {{"--tit", "x"}, "unknown option '--tit'"},
    };
    for (const auto& [args, want] : cases) {
        parsed_args a;
        EXPECT_EQ(parse_args(SPECS, args, a), want) << args[0];
    }
}

TEST(CliArgs, HelpIsSeenBeforeTheEndOfOptions) {
    EXPECT_TRUE(wants_help({"a.pdf", "--help"}));
    EXPECT_TRUE(wants_help({"--colour", "-h"}));
    EXPECT_FALSE(wants_help({"--", "--help"}));
    EXPECT_FALSE(wants_help({"--helpful", "-hx"}));
}

}  // namespace
