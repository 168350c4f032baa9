// The subcommand table and what each subcommand does. Every operation goes
// through the library's public interface. The library runs with the tool's
// options (Unicode texts, structures read as the standard defines them)
// unless --exact asks for the byte-exact rules; texts are printed as the
// library returns them.
#include "commands.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

#include "flat_json.h"
#include "pretty.h"
#include "traces_text.h"
#include "vellix.h"

namespace {

// ---- output ---------------------------------------------------------------

// Prints a library text: as it is, or indented, then one line feed.
int print_text(const char* text, bool pretty) {
    std::string out = pretty ? json_pretty(text) : std::string(text);
    out.push_back('\n');
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        print_error("cannot write to standard output");
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

// The library's message for a failed call; a refused rewrite of a signed
// document names the flag that allows it.
int library_failure() {
    const char* msg = vellix_last_error();
    std::string text = msg && *msg ? msg : "operation failed";
    if (text.rfind("the document is signed;", 0) == 0) text += " (use --force to rewrite anyway)";
    print_error(text);
    return EXIT_FAILED;
}

int report_result(const char* text, const parsed_args& a) {
    if (!text) return library_failure();
    return print_text(text, a.has("pretty"));
}

int write_result(int ok) { return ok ? EXIT_OK : library_failure(); }

// ---- reports --------------------------------------------------------------

int run_info(const parsed_args& a) { return report_result(vellix_read(a.positionals[0].c_str()), a); }
int run_xmp(const parsed_args& a) { return report_result(vellix_read_xmp(a.positionals[0].c_str()), a); }
int run_fonts(const parsed_args& a) { return report_result(vellix_fonts(a.positionals[0].c_str()), a); }
int run_images(const parsed_args& a) { return report_result(vellix_images(a.positionals[0].c_str()), a); }
int run_bookmarks(const parsed_args& a) { return report_result(vellix_bookmarks(a.positionals[0].c_str()), a); }
int run_security(const parsed_args& a) { return report_result(vellix_security(a.positionals[0].c_str()), a); }
int run_analyze(const parsed_args& a) { return report_result(vellix_analyze(a.positionals[0].c_str()), a); }
int run_labels(const parsed_args& a) { return report_result(vellix_page_labels(a.positionals[0].c_str()), a); }

// JSON as the library gives it; --pretty prints the timeline instead.
int run_traces(const parsed_args& a) {
    const char* text = vellix_traces(a.positionals[0].c_str());
    if (!text) return library_failure();
    if (!a.has("pretty")) return print_text(text, false);
    std::string out;
    if (!traces_timeline(text, &out)) {
        print_error("cannot read the traces report");
        return EXIT_FAILED;
    }
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        print_error("cannot write to standard output");
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

int run_compare(const parsed_args& a) {
    return report_result(vellix_compare(a.positionals[0].c_str(), a.positionals[1].c_str()), a);
}

// ---- writers --------------------------------------------------------------

const command* self(const char* name) { return find_command(name); }

// The output path of a writer: -o OUT or --in-place (FILE itself; the
// library writes the new file completely before it replaces the old one).
bool output_path(const command* cmd, const parsed_args& a, std::string& out, int& rc) {
    const std::string* o = a.last("output");
    bool in_place = a.has("in-place");
    if (o && in_place) {
        rc = usage_error(cmd, "-o and --in-place exclude each other");
        return false;
    }
    if (!o && !in_place) {
        rc = usage_error(cmd, "give -o OUT or --in-place");
        return false;
    }
    out = o ? *o : a.positionals[0];
    return true;
}

// The text of --json: the argument itself, or standard input for "-".
bool json_argument(const command* cmd, const std::string& value, std::string& out, int& rc) {
    if (value != "-") {
        out = value;
        return true;
    }
    out.clear();
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0) out.append(buf, n);
    if (std::ferror(stdin)) {
        print_error("cannot read standard input");
        rc = EXIT_FAILED;
        return false;
    }
    if (out.find('\0') != std::string::npos) {
        rc = usage_error(cmd, "the JSON text on standard input holds a zero byte");
        return false;
    }
    return true;
}

// The eight Info fields: option name and JSON key, in the library's order.
constexpr std::pair<const char*, const char*> INFO_OPTIONS[] = {
    {"title", "title"},       {"author", "author"},     {"subject", "subject"},
    {"keywords", "keywords"}, {"creator", "creator"},   {"producer", "producer"},
    {"creation-date", "creation_date"}, {"mod-date", "mod_date"},
};

const char* opt_or_null(const parsed_args& a, const char* name) {
    const std::string* v = a.last(name);
    return v ? v->c_str() : nullptr;
}

int run_set(const parsed_args& a) {
    const command* cmd = self("set");
    std::string out;
    int rc = EXIT_OK;
    if (!output_path(cmd, a, out, rc)) return rc;
    const char* in = a.positionals[0].c_str();

    std::vector<std::pair<std::string, std::string>> fields;
    bool beyond_four = false;  // a field that only the full writer sets
    for (size_t i = 0; i < std::size(INFO_OPTIONS); ++i) {
        if (const std::string* v = a.last(INFO_OPTIONS[i].first)) {
            fields.emplace_back(INFO_OPTIONS[i].second, *v);
            if (i >= 4) beyond_four = true;
        }
    }
    if (const std::string* j = a.last("json")) {
        if (!fields.empty()) return usage_error(cmd, "--json cannot be combined with field options");
        std::string text;
        if (!json_argument(cmd, *j, text, rc)) return rc;
        return write_result(vellix_write_full(in, out.c_str(), text.c_str()));
    }
    if (fields.empty()) return usage_error(cmd, "nothing to set (give a field option or --json)");
    if (beyond_four) return write_result(vellix_write_full(in, out.c_str(), json_flat_object(fields).c_str()));
    return write_result(vellix_write(in, out.c_str(), opt_or_null(a, "title"), opt_or_null(a, "author"),
                                     opt_or_null(a, "subject"), opt_or_null(a, "keywords")));
}

int run_clear(const parsed_args& a) {
    std::string out;
    int rc = EXIT_OK;
    if (!output_path(self("clear"), a, out, rc)) return rc;
    return write_result(vellix_clear(a.positionals[0].c_str(), out.c_str()));
}

int run_set_xmp(const parsed_args& a) {
    const command* cmd = self("set-xmp");
    std::string out;
    int rc = EXIT_OK;
    if (!output_path(cmd, a, out, rc)) return rc;
    std::vector<std::string> props = a.all("prop");
    const std::string* j = a.last("json");
    if (j && !props.empty()) return usage_error(cmd, "--json cannot be combined with --prop");
    std::string text;
    if (j) {
        if (!json_argument(cmd, *j, text, rc)) return rc;
    } else {
        if (props.empty()) return usage_error(cmd, "nothing to set (give --prop KEY=VALUE or --json)");
        std::vector<std::pair<std::string, std::string>> pairs;
        for (const auto& p : props) {
            size_t eq = p.find('=');
            if (eq == std::string::npos) return usage_error(cmd, "--prop needs KEY=VALUE, got '" + p + "'");
            pairs.emplace_back(p.substr(0, eq), p.substr(eq + 1));
        }
        text = json_flat_object(pairs);
    }
    return write_result(vellix_write_xmp(a.positionals[0].c_str(), out.c_str(), text.c_str()));
}

int run_clear_xmp(const parsed_args& a) {
    std::string out;
    int rc = EXIT_OK;
    if (!output_path(self("clear-xmp"), a, out, rc)) return rc;
    return write_result(vellix_clear_xmp(a.positionals[0].c_str(), out.c_str()));
}

int run_scrub(const parsed_args& a) {
    std::string out;
    int rc = EXIT_OK;
    if (!output_path(self("scrub"), a, out, rc)) return rc;
    return write_result(vellix_scrub(a.positionals[0].c_str(), out.c_str()));
}

// ---- the table ------------------------------------------------------------

const option_spec PRETTY = {"pretty", 0, nullptr, "indent the JSON, one member per line"};
const option_spec OUTPUT = {"output", 'o', "OUT", "write the new file to OUT"};
const option_spec IN_PLACE = {"in-place", 0, nullptr, "replace FILE (written completely first, then renamed)"};

const option_spec EXACT = {"exact", 0, nullptr,
                           "byte-exact texts and structure rules (library options 0)"};

const option_spec FORCE = {"force", 0, nullptr, "rewrite a signed document too (its signatures break)"};
const option_spec INCREMENTAL = {"incremental", 0, nullptr,
                                 "append the change to FILE's bytes instead of rewriting them (signatures stay valid)"};

bool is_writer(const std::string& name) {
    return name == "set" || name == "clear" || name == "set-xmp" || name == "clear-xmp" || name == "scrub" ||
           name == "batch-clear";
}

std::vector<command> make_commands() {
    const char* report_synopsis = "[--pretty] FILE";
    std::vector<command> table = {
        {"info", "FILE", report_synopsis, "Info fields, page count, file size and PDF version", "",
         {PRETTY}, 1, run_info},
        {"xmp", "FILE", report_synopsis, "XMP properties as a flat object", "", {PRETTY}, 1, run_xmp},
        {"fonts", "FILE", report_synopsis, "fonts of the document", "", {PRETTY}, 1, run_fonts},
        {"images", "FILE", report_synopsis, "images with the first page that uses each", "", {PRETTY}, 1,
         run_images},
        {"bookmarks", "FILE", report_synopsis, "bookmark tree with page numbers", "", {PRETTY}, 1,
         run_bookmarks},
        {"security", "FILE", report_synopsis, "encryption summary (also for encrypted files)", "", {PRETTY},
         1, run_security},
        {"analyze", "FILE", report_synopsis, "size breakdown by kind of content", "", {PRETTY}, 1,
         run_analyze},
        {"labels", "FILE", report_synopsis, "page-label ranges", "", {PRETTY}, 1, run_labels},
        {"traces", "FILE", report_synopsis, "every place metadata lives, revision by revision",
         "Lists the file's incremental revisions, oldest first, with the Info values\n"
         "each trailer named, then every Info-like dictionary, XMP packet, /PieceInfo\n"
         "and trailer /ID with the revision that holds it, the object that names it\n"
         "and whether the document still reaches it. Encrypted files give their\n"
         "revisions and /ID only. --pretty prints a timeline instead of JSON: what\n"
         "each revision changed, then one line per item.\n",
         {{"pretty", 0, nullptr, "a timeline of the revisions and items instead of JSON"}}, 1, run_traces},
        {"set", "FILE", "FILE (-o OUT | --in-place) [FIELD OPTIONS | --json JSON]",
         "set Info fields",
         "Fields not given keep their values. With only --title, --author, --subject\n"
         "and --keywords the four-field writer is used; any other field (or --json)\n"
         "uses the full writer, which also sets CreationDate and ModDate. Dates are\n"
         "given as YYYY-MM-DD[THH:MM[:SS]], YYYYMMDD[HHMMSS] or D:YYYYMMDDHHMMSS.\n"
         "--json takes a flat object with the keys title, author, subject, keywords,\n"
         "creator, producer, creation_date and mod_date; --json - reads it from\n"
         "standard input.\n",
         {OUTPUT, IN_PLACE,
          {"title", 0, "TEXT", "Title"},
          {"author", 0, "TEXT", "Author"},
          {"subject", 0, "TEXT", "Subject"},
          {"keywords", 0, "TEXT", "Keywords"},
          {"creator", 0, "TEXT", "Creator"},
          {"producer", 0, "TEXT", "Producer"},
          {"creation-date", 0, "DATE", "CreationDate"},
          {"mod-date", 0, "DATE", "ModDate"},
          {"json", 0, "JSON", "all fields from a flat JSON object (- for standard input)"}},
         1, run_set},
        {"clear", "FILE", "FILE (-o OUT | --in-place)", "remove the Info dictionary", "", {OUTPUT, IN_PLACE},
         1, run_clear},
        {"set-xmp", "FILE", "FILE (-o OUT | --in-place) (--prop KEY=VALUE... | --json JSON)",
         "set XMP properties",
         "Edits the document's packet: each property given replaces the one of that\n"
         "name or is added, an empty value removes it, and everything else in the\n"
         "packet stays; xmp:ModifyDate and xmp:MetadataDate are set to now unless\n"
         "given. The Info fields that match (title = dc:title, author = dc:creator,\n"
         "...) are set too, so that the two agree; set edits the packet the same way.\n"
         "Keys are prefix:name, for example dc:title. With --exact a new packet holds\n"
         "exactly the properties given (a value with commas becomes a list).\n",
         {OUTPUT, IN_PLACE,
          {"prop", 'p', "KEY=VALUE", "one property (repeatable, kept in order)"},
          {"json", 0, "JSON", "the properties as a flat JSON object (- for standard input)"}},
         1, run_set_xmp},
        {"clear-xmp", "FILE", "FILE (-o OUT | --in-place)", "remove the XMP metadata", "",
         {OUTPUT, IN_PLACE}, 1, run_clear_xmp},
        {"scrub", "FILE", "FILE (-o OUT | --in-place)", "remove every trace of metadata",
         "Writes a copy of the objects the document uses with no metadata left: no\n"
         "Info dictionary, no XMP packet anywhere (catalog, pages, images, fonts),\n"
         "no /PieceInfo, no earlier revision and no unused object, with a new random\n"
         "/ID. Pages, annotations, forms and attachments are kept. The copy is read\n"
         "back before it replaces anything: if a trace remains, nothing is written.\n"
         "A signed document is refused unless --force is given.\n",
         {OUTPUT, IN_PLACE}, 1, run_scrub},
        {"batch", "INPUT...", "[OPTIONS] (FILE | DIR)... [--files-from LIST]",
         "one report (or writer) over many files, as JSON Lines",
         "Each file gives one line, {\"path\":...,\"result\":{...}} or\n"
         "{\"path\":...,\"error\":\"...\"}, in the order of the inputs; --array prints\n"
         "one JSON array of the same records. A directory gives its *.pdf files\n"
         "(in name order; with -r those of its subdirectories too); files named\n"
         "directly or in LIST are taken whatever their names. Writers (--op clear,\n"
         "clear-xmp, clear-all, scrub, set, set-xmp) put their copies under\n"
         "-o OUT_DIR at the place of each input: a file of a directory DIR at its\n"
         "path below DIR, other files at their relative path. Exit status 1 when\n"
         "any file failed (their number on standard error).\n",
         batch_options(false), -1, run_batch},
        {"batch-clear", "INPUT... OUT_DIR", "[OPTIONS] (FILE | DIR)... (OUT_DIR | -o OUT_DIR)",
         "copies without Info and XMP into OUT_DIR (mirroring the inputs)",
         "The same as batch --op clear-all: without -o the last operand is the output\n"
         "directory, created when missing (its parent must exist). Prints one record\n"
         "per file, {\"path\":...,\"result\":{\"output\":...}} or an error.\n",
         batch_options(true), -1, run_batch_clear},
        {"compare", "FILE_A FILE_B", "[--pretty] FILE_A FILE_B", "field-by-field comparison of the Info",
         "Fields are grouped as added (only in FILE_B), removed (only in FILE_A),\n"
         "changed (both, different) and same.\n",
         {PRETTY}, 2, run_compare},
    };
    for (command& c : table) {
        if (c.name == std::string("set") || c.name == std::string("set-xmp")) c.options.push_back(INCREMENTAL);
        if (is_writer(c.name)) c.options.push_back(FORCE);
        c.options.push_back(EXACT);
    }
    return table;
}

}  // namespace

unsigned command_options(const command& cmd, const parsed_args& a) {
    unsigned bits = 0;
    if (!a.has("exact")) bits = is_writer(cmd.name) ? TOOL_WRITER_OPTIONS : TOOL_OPTIONS;
    // set and set-xmp keep Info and XMP in agreement.
    if (!a.has("exact") && (cmd.name == std::string("set") || cmd.name == std::string("set-xmp"))) bits |= VELLIX_SYNC;
    if (a.has("force")) bits &= ~VELLIX_KEEP_SIGNATURES;
    if (a.has("incremental")) bits |= VELLIX_INCREMENTAL;
    return bits;
}

const std::vector<command>& all_commands() {
    static const std::vector<command> table = make_commands();
    return table;
}

const command* find_command(const std::string& name) {
    for (const auto& c : all_commands())
        if (name == c.name) return &c;
    return nullptr;
}
