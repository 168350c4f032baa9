// The batch commands: one operation over many files on several threads,
// results as JSON Lines (or one array) in input order, progress on standard
// error. Each worker thread sets its own library options; the library keeps
// results and messages per thread, so the per-file exports run side by side.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "batch_inputs.h"
#include "batch_json.h"
#include "batch_run.h"
#include "commands.h"
#include "pretty.h"
#include "vellix.h"

namespace {

using report_fn = const char* (*)(const char*);

struct report_op {
    const char* name;
    report_fn fn;
};
constexpr report_op REPORT_OPS[] = {
    {"info", vellix_read},       {"xmp", vellix_read_xmp},        {"fonts", vellix_fonts},
    {"images", vellix_images},   {"bookmarks", vellix_bookmarks}, {"security", vellix_security},
    {"analyze", vellix_analyze}, {"labels", vellix_page_labels},
};

// Writers: "clear-all" is what batch-clear does (Info and XMP both removed).
enum class writer_op { none, clear, clear_xmp, clear_all, scrub, set, set_xmp };
struct writer_name {
    const char* name;
    writer_op op;
};
constexpr writer_name WRITER_OPS[] = {
    {"clear", writer_op::clear}, {"clear-xmp", writer_op::clear_xmp}, {"clear-all", writer_op::clear_all},
    {"scrub", writer_op::scrub}, {"set", writer_op::set},     {"set-xmp", writer_op::set_xmp},
};

struct batch_plan {
    report_fn report = vellix_read;
    writer_op writer = writer_op::none;
    std::string json;        // the values of set and set-xmp
    std::string output_dir;  // writers only
    bool exact = false;
};

std::string library_message() {
    const char* m = vellix_last_error();
    return m && *m ? m : "operation failed";
}

std::string record_start(const batch_plan& p, const std::string& path) {
    std::string r = "{\"path\":";
    json_string_append(r, path, !p.exact);
    return r;
}

batch_outcome failure(const batch_plan& p, const std::string& path, const std::string& message) {
    std::string r = record_start(p, path) + ",\"error\":";
    json_string_append(r, message, !p.exact);
    r += '}';
    return {std::move(r), true};
}

bool write_one(const batch_plan& p, const char* in, const char* out) {
    switch (p.writer) {
        case writer_op::clear: return vellix_clear(in, out);
        case writer_op::clear_xmp: return vellix_clear_xmp(in, out);
        case writer_op::clear_all:
            if (!vellix_clear(in, out)) return false;
            if (vellix_clear_xmp(out, out)) return true;
            std::remove(out);  // no half-cleaned copy is left behind
            return false;
        case writer_op::scrub: return vellix_scrub(in, out);
        case writer_op::set: return vellix_write_full(in, out, p.json.c_str());
        case writer_op::set_xmp: return vellix_write_xmp(in, out, p.json.c_str());
        case writer_op::none: break;
    }
    return false;
}

batch_outcome run_one(const batch_plan& p, const batch_input& in) {
    if (!in.error.empty()) return failure(p, in.path, in.error);
    if (p.writer == writer_op::none) {
        const char* text = p.report(in.path.c_str());
        if (!text) return failure(p, in.path, library_message());
        std::string r = record_start(p, in.path) + ",\"result\":" + text + "}";
        return {std::move(r), false};
    }
    if (in.rel.empty()) return failure(p, in.path, "cannot place " + in.path + " inside the output directory");
    std::string out = p.output_dir + "/" + in.rel;
    std::error_code ec;
    std::filesystem::path parent = std::filesystem::path(out).parent_path();
    std::filesystem::create_directories(parent, ec);
    if (ec) return failure(p, in.path, "cannot create directory " + parent.string());
    if (!write_one(p, in.path.c_str(), out.c_str())) return failure(p, in.path, library_message());
    std::string r = record_start(p, in.path) + ",\"result\":{\"output\":";
    json_string_append(r, out, !p.exact);
    r += "}}";
    return {std::move(r), false};
}

int default_jobs() {
    unsigned n = std::thread::hardware_concurrency();
    return n ? static_cast<int>(n) : 1;
}

// Standard output, written in large blocks and flushed whenever the workers
// have nothing further ready, so that a reader sees each record soon.
struct output {
    bool array, pretty;
    bool first = true;
    bool failed = false;

    bool put(const std::string& s) {
        if (!failed && std::fwrite(s.data(), 1, s.size(), stdout) != s.size()) failed = true;
        return !failed;
    }
    bool record(const std::string& r) {
        if (!array) return put(r) && put("\n");
        std::string text = pretty ? json_pretty(r) : r;
        if (pretty) {
            // Compact records hold no raw line feeds, so every one is layout.
            std::string indented;
            for (char c : text) {
                indented.push_back(c);
                if (c == '\n') indented += "  ";
            }
            text = "  " + indented;
        }
        bool ok = put(first ? (pretty ? "[\n" : "[") : (pretty ? ",\n" : ",")) && put(text);
        first = false;
        return ok;
    }
    bool finish() {
        if (array) put(first ? "[]\n" : (pretty ? "\n]\n" : "]\n"));
        return flush();
    }
    bool flush() {
        if (!failed && std::fflush(stdout) != 0) failed = true;
        return !failed;
    }
};

// The progress line on standard error: rewritten in place on a terminal, one
// line per update elsewhere (when forced with --progress).
struct progress {
    bool on_terminal;
    bool shown = false;  // a line is on the terminal, not yet ended
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    void show(const batch_counts& c, int64_t total, bool final) {
        double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::string line = batch_progress_line(c, secs, total);
        if (on_terminal)
            std::fprintf(stderr, "\r\033[K%s%s", line.c_str(), final ? "\n" : "");
        else
            std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
        shown = on_terminal && !final;
    }
    // Clears an unfinished line before records go to the same terminal.
    void make_room() {
        if (!shown) return;
        std::fputs("\r\033[K", stderr);
        shown = false;
    }
};

int run_plan(const command* cmd, const parsed_args& a, batch_plan plan, std::vector<std::string> operands) {
    int jobs = default_jobs();
    if (const std::string* j = a.last("jobs")) {
        char* end = nullptr;
        long v = std::strtol(j->c_str(), &end, 10);
        if (j->empty() || *end || v < 1 || v > 1024) return usage_error(cmd, "--jobs needs a number from 1 to 1024, got '" + *j + "'");
        jobs = static_cast<int>(v);
    }
    bool array = a.has("array"), pretty = a.has("pretty");
    if (pretty && !array) return usage_error(cmd, "--pretty needs --array (JSON Lines keep one record per line)");
    batch_input_settings in;
    in.operands = std::move(operands);
    if (const std::string* f = a.last("files-from")) in.files_from = *f;
    in.nul = a.has("null");
    in.recursive = a.has("recursive");
    if (in.operands.empty() && in.files_from.empty())
        return usage_error(cmd, "give files, directories or --files-from LIST");
    if (plan.writer != writer_op::none) {
        if (mkdir(plan.output_dir.c_str(), 0777) != 0 && errno != EEXIST) {
            print_error("cannot create directory " + plan.output_dir);
            return EXIT_FAILED;
        }
        in.skip_dirs.push_back(plan.output_dir);
    }

    batch_inputs inputs(in);
    if (!inputs.open()) {
        print_error(inputs.message());
        return EXIT_FAILED;
    }

    const bool show = !a.has("quiet") && (a.has("progress") || isatty(STDERR_FILENO));
    progress prog{isatty(STDERR_FILENO) != 0};
    const bool share_terminal = prog.on_terminal && isatty(STDOUT_FILENO);
    // The total, counted by a second pass over the same inputs when they can
    // be read twice (not a list on standard input).
    std::atomic<int64_t> counted{-1};
    std::atomic<bool> counting_stop{false};
    std::thread counter;
    if (show && (in.files_from.empty() || inputs.list_rereadable())) {
        counter = std::thread([&counted, &counting_stop, in] {
            batch_inputs again(in);
            if (!again.open()) return;
            batch_input x;
            int64_t n = 0;
            while (!counting_stop.load(std::memory_order_relaxed) && again.next(x)) ++n;
            if (!counting_stop.load()) counted.store(n);
        });
    }

    static char out_buf[1 << 16];
    std::setvbuf(stdout, out_buf, _IOFBF, sizeof out_buf);
    output out{array, pretty};
    // The workers run with the options the command set on this thread.
    const unsigned options = vellix_get_options();
    batch_run_settings rs;
    rs.jobs = jobs;
    rs.thread_start = [options] { vellix_set_options(options); };
    // Flushing costs a write per call: while outcomes keep coming, at most
    // one flush per FLUSH_GAP (a reader still sees each record within it, or
    // within the next tick when the run stalls).
    constexpr auto FLUSH_GAP = std::chrono::milliseconds(20);
    auto last_flush = std::chrono::steady_clock::now() - FLUSH_GAP;
    rs.idle = [&] {
        auto now = std::chrono::steady_clock::now();
        if (now - last_flush < FLUSH_GAP) return;
        out.flush();
        last_flush = now;
    };
    if (show) {
        rs.tick = [&](const batch_counts& c, bool final) {
            int64_t total = c.all_read ? static_cast<int64_t>(c.read) : counted.load();
            prog.show(c, total, final);
        };
    }
    batch_counts c = batch_run(
        [&](batch_input& x) { return inputs.next(x); }, [&](const batch_input& x) { return run_one(plan, x); },
        [&](const batch_outcome& o) {
            if (share_terminal) prog.make_room();
            return out.record(o.record);
        },
        rs);
    counting_stop = true;
    if (counter.joinable()) counter.join();

    bool wrote = out.finish();
    int rc = EXIT_OK;
    if (!wrote) {
        print_error("cannot write to standard output");
        rc = EXIT_FAILED;
    }
    if (!inputs.message().empty()) {
        print_error(inputs.message());
        rc = EXIT_FAILED;
    }
    if (c.failed > 0) {
        print_error(std::to_string(c.failed) + " of " + std::to_string(c.done) + " files failed");
        rc = EXIT_FAILED;
    }
    return rc;
}

}  // namespace

int run_batch(const parsed_args& a) {
    const command* cmd = find_command("batch");
    batch_plan plan;
    plan.exact = a.has("exact");
    const std::string op = a.last("op") ? *a.last("op") : "info";
    bool known = false;
    for (const auto& r : REPORT_OPS)
        if (op == r.name) {
            plan.report = r.fn;
            known = true;
        }
    for (const auto& w : WRITER_OPS)
        if (op == w.name) {
            plan.writer = w.op;
            known = true;
        }
    if (!known) return usage_error(cmd, "unknown --op '" + op + "'");
    const std::string* dir = a.last("output");
    const std::string* json = a.last("json");
    if (plan.writer == writer_op::none) {
        if (dir) return usage_error(cmd, "-o is for the writers (--op " + op + " writes nothing)");
        if (json) return usage_error(cmd, "--json is for --op set and --op set-xmp");
    } else {
        if (!dir) return usage_error(cmd, "--op " + op + " needs -o OUT_DIR");
        plan.output_dir = *dir;
        bool takes_json = plan.writer == writer_op::set || plan.writer == writer_op::set_xmp;
        if (takes_json && !json) return usage_error(cmd, "--op " + op + " needs --json JSON");
        if (!takes_json && json) return usage_error(cmd, "--json is for --op set and --op set-xmp");
        if (json) plan.json = *json;
    }
    return run_plan(cmd, a, std::move(plan), a.positionals);
}

int run_batch_clear(const parsed_args& a) {
    const command* cmd = find_command("batch-clear");
    batch_plan plan;
    plan.exact = a.has("exact");
    plan.writer = writer_op::clear_all;
    std::vector<std::string> operands = a.positionals;
    if (const std::string* dir = a.last("output")) {
        plan.output_dir = *dir;
    } else {
        // As with cp: the last operand is the output directory.
        if (operands.size() < 2 && !(operands.size() == 1 && a.has("files-from")))
            return usage_error(cmd, "give -o OUT_DIR, or inputs followed by OUT_DIR");
        plan.output_dir = operands.back();
        operands.pop_back();
    }
    return run_plan(cmd, a, std::move(plan), std::move(operands));
}

const std::vector<option_spec>& batch_options(bool clear_command) {
    static const std::vector<option_spec> common = {
        {"recursive", 'r', nullptr, "descend into subdirectories (each directory once)"},
        {"files-from", 0, "LIST", "also the paths listed in LIST, one per line (- for standard input)"},
        {"null", '0', nullptr, "entries of LIST end with a zero byte (find -print0)"},
        {"jobs", 'j', "N", "worker threads (default: the number of cores)"},
        {"array", 0, nullptr, "one JSON array instead of JSON Lines"},
        {"pretty", 0, nullptr, "indent the array (with --array)"},
        {"progress", 0, nullptr, "progress on standard error even when it is not a terminal"},
        {"quiet", 'q', nullptr, "no progress"},
    };
    static const std::vector<option_spec> batch = [] {
        std::vector<option_spec> v = {
            {"op", 0, "OP", "info (default), xmp, fonts, images, bookmarks, security, analyze, labels;"
                            " writers: clear, clear-xmp, clear-all, scrub, set, set-xmp"},
            {"output", 'o', "OUT_DIR", "where the writers put their copies (mirrors the inputs)"},
            {"json", 0, "JSON", "the values for --op set and --op set-xmp"},
        };
        v.insert(v.end(), common.begin(), common.end());
        return v;
    }();
    static const std::vector<option_spec> clear = [] {
        std::vector<option_spec> v = {{"output", 'o', "OUT_DIR", "where the copies go (mirrors the inputs)"}};
        v.insert(v.end(), common.begin(), common.end());
        return v;
    }();
    return clear_command ? clear : batch;
}
