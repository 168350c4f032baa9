// The vellix command-line tool: its formatting and parsing helpers, and the
// tool itself run as a process on fixtures and on the bundled sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "cli_args.h"
#include "commands.h"
#include "core/json_flat.h"
#include "flat_json.h"
#include "pretty.h"
#include "support/pdf_builder.h"
#include "support/process.h"
#include "vellix.h"

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
    ASSERT_TRUE(json_parse_flat(text.c_str(), &obj)) << text;
    ASSERT_EQ(obj.size(), pairs.size());
    for (size_t i = 0; i < obj.size(); ++i) {
        EXPECT_EQ(obj[i].key, pairs[i].first);
        EXPECT_EQ(obj[i].value, pairs[i].second);
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

// ---- the tool as a process ---------------------------------------------------

namespace fs = std::filesystem;

struct run_result {
    int status = -1;  // exit status, or -1 when the tool did not exit normally
    std::string out, err;
};

// Runs build/vellix with args, feeding `input` on standard input. With
// stdout_path set, standard output goes to that file instead of a pipe.
run_result run_tool(const std::vector<std::string>& args, const std::string& input = "",
                    const char* stdout_path = nullptr) {
    std::vector<std::string> full = {VELLIX_CLI_PATH};
    full.insert(full.end(), args.begin(), args.end());
    process_setup setup;
    setup.input = input;
    setup.stdout_path = stdout_path;
    process_result p = run_process(full, setup);
    return {p.status, p.out, p.err};
}

const std::string SAMPLE = VELLIX_SOURCE_DIR "/samples/sample.pdf";

// The tool runs the library with its own options unless --exact is given;
// the library calls these tests compare with run on this thread with the
// same options.
const bool tool_options_in_effect = (vellix_set_options(TOOL_OPTIONS), true);

// Runs f with this thread's library options set to `options`, then restores them.
template <class F>
auto with_options(unsigned options, F f) {
    unsigned before = vellix_set_options(options);
    auto r = f();
    vellix_set_options(before);
    return r;
}

// Info with escapes, a control byte and bytes from 0x80 up; an outline, labels
// and one image, so that every report has content.
std::string rich_pdf() {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 7 0 R /PageLabels [[0 << /S /A /P (x\\351) >>] 1] >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /Im1 5 0 R >> "
             "/Font << /F1 6 0 R >> >> >>");
    b.obj(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    b.stream(5, "/Type /XObject /Subtype /Image /Width 2 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceGray",
             "\x10\x20");
    b.obj(6, "<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+Caf#c3#a9 /FontFile2 9 0 R >>");
    b.obj(7, "<< /Type /Outlines /First 8 0 R /Last 8 0 R /Count 1 >>");
    b.obj(8, "<< /Title (Chapter \\\"one\\\" \\351) /Parent 7 0 R /Dest [4 0 R /Fit] >>");
    b.obj(10, "<< /Title (caf\\303\\251 \"q\" \\\\ tab\\t ctl\\001) /Author <4164612d> /Producer (gen)"
              " /CreationDate (D:20240115093000Z) >>");
    b.xref_trailer("/Size 11 /Root 1 0 R /Info 10 0 R");
    return b.bytes();
}

std::string encrypted_pdf() {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    b.obj(4, "<< /Filter /Standard /V 1 /R 2 /Length 40 /O <00> /U <00> /P -3904 >>");
    b.xref_trailer("/Size 5 /Root 1 0 R /Encrypt 4 0 R");
    return b.bytes();
}

// The dates of now that a writer stamps, replaced so that two writes can be compared.
// Every "D:" + 14 digits + "Z" becomes "D:<now>Z".
std::string mask_now(const std::string& file) {
    std::string out;
    size_t i = 0;
    while (i < file.size()) {
        bool date = file.compare(i, 2, "D:") == 0 && i + 17 <= file.size() && file[i + 16] == 'Z';
        for (size_t k = i + 2; date && k < i + 16; ++k) date = std::isdigit(static_cast<unsigned char>(file[k]));
        if (date) {
            out += "D:<now>Z";
            i += 17;
        } else {
            out.push_back(file[i++]);
        }
    }
    return out;
}

std::string text_or_null(const char* t) { return t ? std::string(t) : std::string("<null>"); }

struct report_case {
    const char* command;
    const char* (*fn)(const char*);
};
const report_case REPORTS[] = {
    {"info", vellix_read},          {"xmp", vellix_read_xmp},     {"fonts", vellix_fonts},
    {"images", vellix_images},      {"bookmarks", vellix_bookmarks}, {"security", vellix_security},
    {"analyze", vellix_analyze},    {"labels", vellix_page_labels},
};

TEST(CliTool, ReportsPrintTheLibraryTextExactlyOrIndented) {
    TempDir dir;
    const std::string rich = dir.file("rich.pdf");
    write_file(rich, rich_pdf());
    ASSERT_TRUE(tool_options_in_effect);
    // Default options, then --exact (options 0).
    for (bool exact : {false, true}) {
    for (const std::string& file : {SAMPLE, rich}) {
        for (const auto& rc : REPORTS) {
            SCOPED_TRACE(std::string(rc.command) + " " + file + (exact ? " --exact" : ""));
            std::string want =
                with_options(exact ? 0u : TOOL_OPTIONS, [&] { return text_or_null(rc.fn(file.c_str())); });
            ASSERT_NE(want, "<null>") << vellix_last_error();
            std::vector<std::string> args = {rc.command, file};
            if (exact) args.insert(args.begin() + 1, "--exact");
            run_result r = run_tool(args);
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out, want + "\n");
            EXPECT_EQ(r.err, "");

            args.insert(args.begin() + 1, "--pretty");
            run_result p = run_tool(args);
            EXPECT_EQ(p.status, 0);
            EXPECT_EQ(p.err, "");
            ASSERT_FALSE(p.out.empty());
            EXPECT_EQ(p.out.back(), '\n');
            EXPECT_EQ(canonical_json(p.out), canonical_json(want));
            EXPECT_NE(canonical_json(want), "<invalid>");
            if (want != "[]" && want != "{}") {
                EXPECT_NE(p.out.find("\n  "), std::string::npos);
            }
        }
    }
    }
}

TEST(CliTool, TheSampleHasSomethingInEveryReport) {
    const std::pair<const char*, const char*> expected[] = {
        {"info", "\"title\":\"Quarterly field report, Z\xc3\xbcrich\""},
        {"xmp", "\"dc:title\":\"Quarterly field report, Z\xc3\xbcrich\""},
        {"fonts", "\"name\":\"Courier\",\"type\":\"Type1\",\"embedded\":false"},
        {"fonts", "\"name\":\"CXJQYU+Helvetica\",\"type\":\"Type1\",\"embedded\":true"},
        {"images", "{\"page\":1,\"width\":16,\"height\":16"},
        {"bookmarks", "\"children\":[{\"title\":\"Findings\",\"page\":2}]"},
        {"bookmarks", "{\"title\":\"Appendix\",\"page\":3"},  // through a named destination
        {"security", "\"encrypted\":false"},
        {"analyze", "\"pages\":3"},
        {"labels", "\"style\":\"roman_lower\""},
    };
    for (const auto& [cmd, fragment] : expected) {
        run_result r = run_tool({cmd, SAMPLE});
        EXPECT_EQ(r.status, 0) << cmd;
        EXPECT_NE(r.out.find(fragment), std::string::npos) << cmd << ": " << r.out;
    }
}

TEST(CliTool, BytesPassThroughInBothLayouts) {
    TempDir dir;
    const std::string rich = dir.file("rich.pdf");
    write_file(rich, rich_pdf());
    // --exact: the bytes of the file, as they are.
    run_result r = run_tool({"info", "--exact", rich});
    run_result p = run_tool({"info", "--pretty", "--exact", rich});
    const std::string title = "\"caf\xc3\xa9 \\\"q\\\" \\\\ tab\\t ctl\\u0001\"";
    EXPECT_NE(r.out.find("\"title\":" + title), std::string::npos) << r.out;
    EXPECT_NE(p.out.find("  \"title\": " + title + ",\n"), std::string::npos) << p.out;
    run_result b = run_tool({"bookmarks", "--pretty", "--exact", rich});
    EXPECT_NE(b.out.find("\"Chapter \\\"one\\\" \xe9\""), std::string::npos) << b.out;
    // By default the PDFDocEncoding byte E9 is the UTF-8 of U+00E9.
    b = run_tool({"bookmarks", "--pretty", rich});
    EXPECT_NE(b.out.find("\"Chapter \\\"one\\\" \xc3\xa9\""), std::string::npos) << b.out;
}

TEST(CliTool, BatchCompareAndBatchClear) {
    TempDir dir;
    fs::create_directory(dir.path() / "in");
    const std::string a = dir.file("in/a.pdf"), b = dir.file("in/b.pdf"), junk = dir.file("in/x.pdf");
    write_file(a, minimal_pdf(1, "<< /Title (Outline) /Author (Ann) /Producer (P) >>"));
    write_file(b, minimal_pdf(2, "<< /Title (Final) /Subject (Q3) /Producer (P) >>"));
    write_file(junk, "not a pdf at all");
    const std::string in = dir.file("in");

    // One JSON line per file in name order, the junk file's failure among
    // them; the failure makes the exit status 1.
    std::string want;
    for (const std::string& f : {a, b})
        want += "{\"path\":\"" + f + "\",\"result\":" + text_or_null(vellix_read(f.c_str())) + "}\n";
    want += ("{\"path\":\"" + junk + "\",\"error\":\"no PDF objects found \xe2\x80\x94 not a PDF: " +
                                 junk + "\"}\n");
    run_result r = run_tool({"batch", in});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, want);
    EXPECT_EQ(r.err, "vellix: 1 of 3 files failed\n");
    run_result rp = run_tool({"batch", "--array", "--pretty", in});
    std::string lines = want;
    std::replace(lines.begin(), lines.end(), '\n', ',');
    EXPECT_EQ(canonical_json(rp.out), canonical_json("[" + lines.substr(0, lines.size() - 1) + "]"));

    // The library's own batch array (options 0): each good file's result
    // holds the fields of its entry there, less "file".
    const char* old = nullptr;
    std::string old_text = with_options(0u, [&] {
        return vellix_batch_read(in.c_str(), &old) ? std::string(old) : std::string("<failed>");
    });
    r = run_tool({"batch", "--exact", in});
    for (const std::string& f : {a, b}) {
        std::string name = fs::path(f).filename().string();
        std::string result = with_options(0u, [&] { return text_or_null(vellix_read(f.c_str())); });
        EXPECT_NE(r.out.find("{\"path\":\"" + f + "\",\"result\":" + result + "}\n"), std::string::npos);
        EXPECT_NE(old_text.find("{\"file\":\"" + name + "\"," + result.substr(1)), std::string::npos) << old_text;
    }

    std::string cmp = text_or_null(vellix_compare(a.c_str(), b.c_str()));
    r = run_tool({"compare", a, b});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, cmp + "\n");
    EXPECT_NE(r.out.find("\"changed\":{\"title\":{\"from\":\"Outline\",\"to\":\"Final\"}}"), std::string::npos);
    r = run_tool({"compare", "--pretty", a, b});
    EXPECT_EQ(canonical_json(r.out), canonical_json(cmp));

    const std::string out = dir.file("out");
    r = run_tool({"batch-clear", in, out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "{\"path\":\"" + a + "\",\"result\":{\"output\":\"" + out + "/a.pdf\"}}\n"
                     "{\"path\":\"" + b + "\",\"result\":{\"output\":\"" + out + "/b.pdf\"}}\n"
                     "{\"path\":\"" + junk + "\",\"error\":\"no PDF objects found \xe2\x80\x94 not a PDF: " + junk + "\"}\n");
    EXPECT_EQ(r.err, "vellix: 1 of 3 files failed\n");
    ASSERT_TRUE(fs::exists(out + "/a.pdf"));
    ASSERT_TRUE(fs::exists(out + "/b.pdf"));
    EXPECT_FALSE(fs::exists(out + "/x.pdf"));
    EXPECT_NE(text_or_null(vellix_read((out + "/b.pdf").c_str())).find("\"title\":\"\""), std::string::npos);
}

TEST(CliTool, FailuresExitOneWithTheLibraryMessage) {
    TempDir dir;
    const std::string good = dir.file("good.pdf"), text = dir.file("notes.pdf"), enc = dir.file("enc.pdf");
    const std::string missing = dir.file("missing.pdf"), out = dir.file("out.pdf");
    write_file(good, minimal_pdf(1, "<< /Title (T) /Producer (P) >>"));
    write_file(text, "plain text, no objects");
    write_file(enc, encrypted_pdf());
    const std::string nodir = dir.file("none/deeper");
    struct failure_case {
        std::vector<std::string> args;
        std::string message;
    };
    const failure_case cases[] = {
        {{"info", missing}, "cannot open " + missing},
        {{"fonts", text}, "no PDF objects found \xe2\x80\x94 not a PDF: " + text},
        {{"xmp", enc}, "encrypted PDFs are not supported: " + enc},
        {{"compare", good, missing}, "cannot open " + missing},
        {{"batch-clear", dir.path().string(), nodir}, "cannot create directory " + nodir},
        {{"set", missing, "-o", out, "--title", "x"}, "cannot open " + missing},
        {{"set", good, "-o", out, "--json", "[]"}, "invalid JSON object for vellix_write_full"},
        {{"set", good, "-o", out, "--json", "{\"Title\":\"x\"}"}, "no recognised fields in the JSON object"},
        {{"set", good, "-o", out, "--creation-date", "15/01/2024"}, "bad date for CreationDate: 15/01/2024"},
        {{"set-xmp", good, "-o", out, "-p", "title=x"}, "invalid XMP property key (ns:Local required)"},
        {{"set-xmp", good, "-o", out, "--json", "{}"}, "XMP JSON is empty"},
        {{"clear", enc, "-o", out}, "encrypted PDFs are not supported: " + enc},
        {{"clear-xmp", text, "-o", out}, "no PDF objects found \xe2\x80\x94 not a PDF: " + text},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        run_result r = run_tool(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "vellix: " + c.message + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fs::exists(out));
    }
    // The security summary reads encrypted files.
    run_result r = run_tool({"security", enc});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\"encrypted\":true"), std::string::npos) << r.out;
}

TEST(CliTool, UsageErrorsExitTwo) {
    TempDir dir;
    const std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    write_file(in, minimal_pdf(1, "<< /Title (T) >>"));
    struct usage_case {
        std::vector<std::string> args;
        std::string first_line;
    };
    const usage_case cases[] = {
        {{}, "vellix: no command given"},
        {{"frobnicate"}, "vellix: unknown command 'frobnicate'"},
        {{"--colour"}, "vellix: unknown option '--colour'"},
        {{"help", "frobnicate"}, "vellix: unknown command 'frobnicate'"},
        {{"info"}, "vellix: info: missing operand (expects FILE)"},
        {{"info", in, in}, "vellix: info: unexpected operand '" + in + "'"},
        {{"info", "--colour", in}, "vellix: info: unknown option '--colour'"},
        {{"compare", in}, "vellix: compare: missing operand (expects FILE_A FILE_B)"},
        {{"batch-clear", "--colour", "a", "b"}, "vellix: batch-clear: unknown option '--colour'"},
        {{"set", in, "--title", "x"}, "vellix: set: give -o OUT or --in-place"},
        {{"set", in, "-o", out, "--in-place", "--title", "x"}, "vellix: set: -o and --in-place exclude each other"},
        {{"set", in, "-o", out}, "vellix: set: nothing to set (give a field option or --json)"},
        {{"set", in, "-o", out, "--title", "x", "--json", "{}"},
         "vellix: set: --json cannot be combined with field options"},
        {{"set", in, "-o", out, "--title"}, "vellix: set: option '--title' needs a value"},
        {{"set", in, "--in-place=1", "--title", "x"}, "vellix: set: option '--in-place' takes no value"},
        {{"clear", in}, "vellix: clear: give -o OUT or --in-place"},
        {{"set-xmp", in, "-o", out}, "vellix: set-xmp: nothing to set (give --prop KEY=VALUE or --json)"},
        {{"set-xmp", in, "-o", out, "-p", "dc:title"}, "vellix: set-xmp: --prop needs KEY=VALUE, got 'dc:title'"},
        {{"set-xmp", in, "-o", out, "-p", "a:b=c", "--json", "{}"},
         "vellix: set-xmp: --json cannot be combined with --prop"},
        {{"clear-xmp", in, "-o"}, "vellix: clear-xmp: option '-o' needs a value"},
    };
    const std::string before = read_file(in);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first_line);
        run_result r = run_tool(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.first_line);
        EXPECT_NE(r.err.find("\nTry 'vellix "), std::string::npos);
        EXPECT_FALSE(fs::exists(out));
    }
    EXPECT_EQ(read_file(in), before);
}

TEST(CliTool, HelpAndVersion) {
    run_result top = run_tool({"--help"});
    EXPECT_EQ(top.status, 0);
    EXPECT_EQ(top.err, "");
    EXPECT_EQ(top.out.rfind("Usage: vellix COMMAND", 0), 0u);
    EXPECT_EQ(run_tool({"-h"}).out, top.out);
    EXPECT_EQ(run_tool({"help"}).out, top.out);
    const char* commands[] = {"info", "xmp",   "fonts",     "images", "bookmarks", "security",
                              "analyze", "labels", "set", "clear", "set-xmp", "clear-xmp",
                              "batch", "batch-clear", "compare"};
    for (const char* c : commands) {
        SCOPED_TRACE(c);
        EXPECT_NE(top.out.find(std::string("\n  ") + c + " "), std::string::npos);
        run_result h = run_tool({c, "--help"});
        EXPECT_EQ(h.status, 0);
        EXPECT_EQ(h.err, "");
        EXPECT_EQ(h.out.rfind(std::string("Usage: vellix ") + c + " ", 0), 0u);
        EXPECT_NE(h.out.find("  -h, --help"), std::string::npos);
        // Help wins over everything else on the line, operands and bad options included.
        EXPECT_EQ(run_tool({c, "--colour", "-h"}).out, h.out);
        EXPECT_EQ(run_tool({"help", c}).out, h.out);
    }
    run_result v = run_tool({"--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out, "vellix " VELLIX_PROJECT_VERSION "\n");
    EXPECT_EQ(run_tool({"-V"}).out, v.out);
}

TEST(CliTool, SetUsesTheFourFieldWriterOrTheFullWriter) {
    TempDir dir;
    const std::string in = dir.file("in.pdf");
    write_file(in, minimal_pdf(1, "<< /Title (Old) /Author (Ann) /Creator (C0) /Producer (P0) >>"));

    // Title and keywords only: the four-field writer, NULL for the others.
    const std::string four = dir.file("four.pdf"), four_ref = dir.file("four_ref.pdf");
    run_result r = run_tool({"set", in, "-o", four, "--title", "New", "--keywords", "a, b"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    ASSERT_EQ(vellix_write(in.c_str(), four_ref.c_str(), "New", nullptr, nullptr, "a, b"), 1);
    EXPECT_EQ(mask_now(read_file(four)), mask_now(read_file(four_ref)));

    // Any other field: the full writer with a JSON object of the given fields.
    const std::string title = "caf\xc3\xa9 \"q\" \\ \ttab";
    const std::string json = "{\"title\":\"caf\xc3\xa9 \\\"q\\\" \\\\ \\ttab\",\"creator\":\"Tool\","
                             "\"creation_date\":\"2024-01-15\",\"mod_date\":\"2024-03-01T08:00:00\"}";
    const std::string full = dir.file("full.pdf"), full_ref = dir.file("full_ref.pdf");
    r = run_tool({"set", in, "--mod-date", "2024-03-01T08:00:00", "--creator", "Tool", "-o", full,
                  "--creation-date=2024-01-15", "--title", title});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(vellix_write_full(in.c_str(), full_ref.c_str(), json.c_str()), 1) << vellix_last_error();
    EXPECT_EQ(read_file(full), read_file(full_ref));
    std::string info = text_or_null(vellix_read(full.c_str()));
    EXPECT_NE(info.find("\"title\":\"caf\xc3\xa9 \\\"q\\\" \\\\ \\ttab\""), std::string::npos) << info;
    EXPECT_NE(info.find("\"author\":\"Ann\""), std::string::npos) << info;
    EXPECT_NE(info.find("\"creation_date\":\"2024-01-15\""), std::string::npos) << info;

    // --json as an argument and from standard input: the same file.
    const std::string j1 = dir.file("j1.pdf"), j2 = dir.file("j2.pdf");
    r = run_tool({"set", in, "-o", j1, "--json", json});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(j1), read_file(full_ref));
    r = run_tool({"set", in, "-o", j2, "--json", "-"}, json);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(j2), read_file(full_ref));

    // clear: the library's file.
    const std::string c = dir.file("c.pdf"), c_ref = dir.file("c_ref.pdf");
    r = run_tool({"clear", in, "-o", c});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(vellix_clear(in.c_str(), c_ref.c_str()), 1);
    EXPECT_EQ(read_file(c), read_file(c_ref));
}

TEST(CliTool, XmpWritersGiveTheLibrarysFiles) {
    TempDir dir;
    const std::string in = dir.file("in.pdf");
    write_file(in, read_file(SAMPLE));
    const std::string json =
        "{\"dc:title\":\"R\xc3\xa9sum\xc3\xa9 & <co>\",\"dc:subject\":\"a, b\",\"xmp:ModifyDate\":\"2024-01-01T00:00:00Z\","
        "\"xmp:MetadataDate\":\"2024-01-01T00:00:00Z\"}";
    const std::string ref = dir.file("ref.pdf");
    // set-xmp edits the packet in place, keeping Info in agreement.
    ASSERT_EQ(with_options(TOOL_OPTIONS | VELLIX_SYNC, [&] { return vellix_write_xmp(in.c_str(), ref.c_str(), json.c_str()); }), 1)
        << vellix_last_error();

    const std::string p = dir.file("p.pdf"), j = dir.file("j.pdf");
    run_result r = run_tool({"set-xmp", in, "-o", p, "-p", "dc:title=R\xc3\xa9sum\xc3\xa9 & <co>", "--prop",
                             "dc:subject=a, b", "-pxmp:ModifyDate=2024-01-01T00:00:00Z",
                             "-pxmp:MetadataDate=2024-01-01T00:00:00Z"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(mask_now(read_file(p)), mask_now(read_file(ref)));
    r = run_tool({"set-xmp", in, "--json", json, "-o", j});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(mask_now(read_file(j)), mask_now(read_file(ref)));
    run_result x = run_tool({"xmp", p});
    EXPECT_NE(x.out.find("\"dc:title\":\"R\xc3\xa9sum\xc3\xa9 & <co>\""), std::string::npos) << x.out;

    const std::string c = dir.file("c.pdf"), c_ref = dir.file("c_ref.pdf");
    r = run_tool({"clear-xmp", in, "-o", c});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(vellix_clear_xmp(in.c_str(), c_ref.c_str()), 1);
    EXPECT_EQ(mask_now(read_file(c)), mask_now(read_file(c_ref)));
    EXPECT_EQ(read_file(c).find("dc:title"), std::string::npos);
}

TEST(CliTool, InPlaceReplacesTheFileOnlyWhenTheWriteSucceeds) {
    TempDir dir;
    const std::string f = dir.file("doc.pdf");
    write_file(f, read_file(SAMPLE));
    const std::string original = read_file(f);

    const std::vector<std::vector<std::string>> failing = {
        {"set", f, "--in-place", "--creation-date", "15/01/2024"},
        {"set", f, "--in-place", "--json", "{\"mod_date\":\"2024-13-01\"}"},
        {"set-xmp", f, "--in-place", "-p", "bad key=x"},
    };
    for (const auto& args : failing) {
        run_result r = run_tool(args);
        EXPECT_EQ(r.status, 1) << args[3];
        EXPECT_EQ(r.err.rfind("vellix: ", 0), 0u);
        EXPECT_EQ(read_file(f), original) << args[3];
    }

    run_result r = run_tool({"set", f, "--in-place", "--title", "Replaced"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(text_or_null(vellix_read(f.c_str())).find("\"title\":\"Replaced\""), std::string::npos);
    r = run_tool({"clear-xmp", "--in-place", f});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(text_or_null(vellix_read_xmp(f.c_str())).find("\"dc:title\":\"\""), std::string::npos);
    // Nothing but the file itself is left in the directory.
    int entries = 0;
    for (const auto& e : fs::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

// Writing commands refuse to rewrite a signed document, naming --force;
// --force and --exact rewrite it; --incremental appends the change, so the
// input's bytes (and its signature) are kept.
TEST(CliTool, SignedDocumentsAreRewrittenOnlyWhenAskedFor) {
    TempDir dir;
    const std::string f = dir.file("signed.pdf");
    const std::string original = read_file(VELLIX_SOURCE_DIR "/tests/signed/self-signed.pdf");
    write_file(f, original);
    const std::string out = dir.file("out.pdf");
    const std::string refused = "vellix: the document is signed; rewriting it would invalidate its signatures: " + f +
                                " (use --force to rewrite anyway)\n";
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"set", f, "-o", out, "--title", "x"},
             {"clear", f, "--in-place"},
             {"set-xmp", f, "-o", out, "-p", "dc:title=x"},
             {"clear-xmp", f, "-o", out}}) {
        run_result r = run_tool(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_EQ(r.err, refused);
        EXPECT_FALSE(fs::exists(out));
        EXPECT_EQ(read_file(f), original);
    }
    for (const char* flag : {"--force", "--exact"}) {
        run_result r = run_tool({"set", f, "-o", out, "--title", "x", flag});
        EXPECT_EQ(r.status, 0) << flag << r.err;
        EXPECT_NE(read_file(out).compare(0, original.size(), original), 0) << flag;
        fs::remove(out);
    }
    run_result r = run_tool({"set", f, "--in-place", "--incremental", "--title", "Kept"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(f).compare(0, original.size(), original), 0);
    EXPECT_NE(text_or_null(vellix_read(f.c_str())).find("\"title\":\"Kept\""), std::string::npos);
    r = run_tool({"set-xmp", f, "-o", out, "--incremental", "-p", "dc:title=Kept"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(out).compare(0, original.size(), original), 0);
    EXPECT_EQ(run_tool({"info", f, "--incremental"}).status, 2);  // writers only
}

// Every writing command copies an object stream it leaves alone and ends
// the copy with a cross-reference stream; --exact writes every object
// plainly with a cross-reference table, as options 0 do.
TEST(CliTool, WritersKeepUntouchedObjectStreamsUnlessExact) {
    TempDir dir;
    PdfBuilder b("1.5");
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Resources << /Font << /F1 4 0 R >> >> >>");
    b.obj(5, "<< /Title (Old) >>");
    b.object_stream(10, {{4, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Note (IN-STREAM) >>"}});
    b.xref_stream(11, "/Size 12 /Root 1 0 R /Info 5 0 R");
    fs::create_directory(dir.file("src"));
    const std::string in = dir.file("src/in.pdf"), out = dir.file("out.pdf"), out_dir = dir.file("cleared");
    write_file(in, b.bytes());
    const std::string stream_text = "4 0 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Note (IN-STREAM) >>";
    for (bool exact : {false, true}) {
        for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
                 {"set", in, "-o", out, "--title", "x"},
                 {"clear", in, "-o", out},
                 {"set-xmp", in, "-o", out, "-p", "dc:title=x"},
                 {"clear-xmp", in, "-o", out},
                 {"batch-clear", dir.file("src"), out_dir}}) {
            SCOPED_TRACE(args[0] + (exact ? " --exact" : ""));
            if (exact) args.push_back("--exact");
            run_result r = run_tool(args);
            ASSERT_EQ(r.status, 0) << r.err;
            const std::string got = read_file(args[0] == "batch-clear" ? out_dir + "/in.pdf" : out);
            EXPECT_EQ(got.find(stream_text) != std::string::npos, !exact);
            EXPECT_EQ(got.find("/Type /XRef /Size") != std::string::npos, !exact);
            EXPECT_EQ(got.find("\nxref\n0 ") != std::string::npos, exact);
            EXPECT_NE(got.find("IN-STREAM"), std::string::npos);
            fs::remove_all(out_dir);
        }
    }
}

TEST(CliTool, AFailedWriteToStandardOutputIsReported) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    run_result r = run_tool({"info", SAMPLE}, "", "/dev/full");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vellix: cannot write to standard output\n");
}

}  // namespace
