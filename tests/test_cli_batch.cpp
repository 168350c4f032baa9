// The tool's batch commands: the walk over inputs, the ordered parallel run,
// and the tool run as a process over generated trees and file lists.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "batch_inputs.h"
#include "batch_run.h"
#include "commands.h"
#include "support/json_check.h"
#include "support/pdf_builder.h"
#include "support/process.h"
#include "vellix.h"

namespace fs = std::filesystem;

namespace {

// ---- the inputs ------------------------------------------------------------

// Every input of a walk as "path|rel", or "path|!error" for a failed one.
std::vector<std::string> walk(const batch_input_settings& s) {
    batch_inputs in(s);
    EXPECT_TRUE(in.open()) << in.message();
    std::vector<std::string> got;
    batch_input x;
    while (in.next(x)) got.push_back(x.path + "|" + (x.error.empty() ? x.rel : "!" + x.error));
    EXPECT_EQ(in.message(), "");
    return got;
}

TEST(BatchInputs, DirectoriesInNameOrderEachDirectoryOnceThroughLinks) {
    TempDir t;
    const std::string d = t.file("d");
    fs::create_directories(d + "/sub/deep");
    fs::create_directories(d + "/.git");
    for (const char* f : {"b.pdf", "a.PDF", ".hidden.pdf", "notes.txt", "sub/c.pdf", "sub/deep/e.pdf", ".git/z.pdf"})
        write_file(d + "/" + f, "x");
    fs::create_directory_symlink("..", d + "/sub/up");      // a loop back to d
    fs::create_directory_symlink("sub", d + "/alias");      // sub reached twice
    fs::create_symlink("sub/c.pdf", d + "/link.pdf");       // a link to a file counts as a file
    fs::create_symlink("nowhere.pdf", d + "/broken.pdf");   // passed on; reading it fails later

    batch_input_settings flat;
    flat.operands = {d + "/"};
    EXPECT_EQ(walk(flat), (std::vector<std::string>{d + "/a.PDF|a.PDF", d + "/b.pdf|b.pdf",
                                                      d + "/broken.pdf|broken.pdf", d + "/link.pdf|link.pdf"}));

    // "alias" sorts before "sub", so sub's files come through alias, once;
    // the loop through "up" ends at d, already entered.
    batch_input_settings deep = flat;
    deep.recursive = true;
    EXPECT_EQ(walk(deep), (std::vector<std::string>{
                              d + "/a.PDF|a.PDF", d + "/alias/c.pdf|alias/c.pdf", d + "/alias/deep/e.pdf|alias/deep/e.pdf",
                              d + "/b.pdf|b.pdf", d + "/broken.pdf|broken.pdf", d + "/link.pdf|link.pdf"}));

    // Files named directly are taken whatever their names; a directory to
    // skip is left out inside the walk (under both its names) but read when
    // named as a root.
    batch_input_settings named;
    named.operands = {d + "/notes.txt", d};
    named.recursive = true;
    named.skip_dirs = {d + "/sub"};
    EXPECT_EQ(walk(named), (std::vector<std::string>{d + "/notes.txt|" + (d + "/notes.txt").substr(1),
                                                       d + "/a.PDF|a.PDF", d + "/b.pdf|b.pdf",
                                                       d + "/broken.pdf|broken.pdf", d + "/link.pdf|link.pdf"}));
    named.operands = {d + "/sub/deep"};
    named.skip_dirs = {d + "/sub/deep"};
    EXPECT_EQ(walk(named), (std::vector<std::string>{d + "/sub/deep/e.pdf|e.pdf"}));
}

TEST(BatchInputs, ListsByLineAndByZeroByteAfterTheOperands) {
    TempDir t;
    fs::create_directory(t.file("subdir"));
    const std::string lines = t.file("lines"), zeros = t.file("zeros");
    write_file(lines, "a.pdf\n\nb c.pdf\n" + t.file("subdir") + "\nmissing.pdf");  // no final line feed
    write_file(zeros, std::string("x\ny.pdf\0/abs/z.pdf\0\0", 21));

    batch_input_settings s;
    s.operands = {"first.pdf"};
    s.files_from = lines;
    EXPECT_EQ(walk(s), (std::vector<std::string>{"first.pdf|first.pdf", "a.pdf|a.pdf", "b c.pdf|b c.pdf",
                                                   "missing.pdf|missing.pdf"}));
    s = {};
    s.files_from = zeros;
    s.nul = true;
    EXPECT_EQ(walk(s), (std::vector<std::string>{"x\ny.pdf|x\ny.pdf", "/abs/z.pdf|abs/z.pdf"}));

    s.files_from = t.file("no-such-list");
    batch_inputs in(s);
    EXPECT_FALSE(in.open());
    EXPECT_EQ(in.message(), "cannot open file list " + t.file("no-such-list"));
}

TEST(BatchInputs, MirrorPathsStayInsideTheOutputDirectory) {
    const std::pair<const char*, const char*> cases[] = {
        {"a.pdf", "a.pdf"},         {"./x/./y.pdf", "x/y.pdf"}, {"/abs/z.pdf", "abs/z.pdf"},
        {"x/../y.pdf", "y.pdf"},    {"x//y.pdf", "x/y.pdf"},    {"../up.pdf", ""},
        {"x/../../up.pdf", ""},     {"..", ""},                 {".", ""},
        {"/", ""},
    };
    for (const auto& [in, want] : cases) EXPECT_EQ(batch_mirror_path(in), want) << in;
}

// ---- the ordered run ---------------------------------------------------------

TEST(BatchRun, OutcomesInInputOrderAndReadingBoundedByTheWindow) {
    for (int jobs : {1, 4, 8}) {
        SCOPED_TRACE(jobs);
        const int n = 3000;
        const size_t window = 16;
        std::atomic<int> read{0};
        std::atomic<int> started_threads{0};
        int produced = 0;
        std::vector<std::string> emitted;
        long most_ahead = 0;
        batch_run_settings s;
        s.jobs = jobs;
        s.window = window;
        s.thread_start = [&] { ++started_threads; };
        batch_counts c = batch_run(
            [&](batch_input& x) {
                if (produced == n) return false;
                x = {std::to_string(produced++), "", ""};
                ++read;
                return true;
            },
            [&](const batch_input& x) {
                int k = std::stoi(x.path);
                // Uneven work, so that later inputs often finish first.
                std::this_thread::sleep_for(std::chrono::microseconds((k * 7919) % 13 == 0 ? 2000 : (k * 31) % 100));
                return batch_outcome{x.path, k % 7 == 3};
            },
            [&](const batch_outcome& o) {
                most_ahead = std::max<long>(most_ahead, read.load() - static_cast<long>(emitted.size()));
                emitted.push_back(o.record);
                return true;
            },
            s);
        ASSERT_EQ(emitted.size(), static_cast<size_t>(n));
        for (int k = 0; k < n; ++k) ASSERT_EQ(emitted[k], std::to_string(k));
        EXPECT_EQ(c.done, static_cast<uint64_t>(n));
        EXPECT_EQ(c.failed, static_cast<uint64_t>((n + 3) / 7));
        EXPECT_EQ(c.read, static_cast<uint64_t>(n));
        EXPECT_EQ(started_threads.load(), jobs);
        // Held at most: the window, the outcomes taken out of it and not yet
        // handed on, and the one input being read when the window is full.
        EXPECT_LE(most_ahead, 2 * static_cast<long>(window) + 1);
    }
}

TEST(BatchRun, AFailedEmitStopsTheReading) {
    std::atomic<long> read{0};
    long emitted = 0;
    batch_run_settings s;
    s.jobs = 3;
    s.window = 32;
    batch_counts c = batch_run(
        [&](batch_input& x) {
            x.path = "p";
            return ++read < 10'000'000;
        },
        [](const batch_input& x) { return batch_outcome{x.path, false}; },
        [&](const batch_outcome&) { return ++emitted < 100; }, s);
    EXPECT_EQ(c.done, 99u);
    EXPECT_EQ(emitted, 100);
    EXPECT_LE(read.load(), 100 + 32 + 2);
}

TEST(BatchRun, ProgressLine) {
    struct progress_case {
        uint64_t done, failed;
        double seconds;
        int64_t total;
        const char* want;
    };
    const progress_case cases[] = {
        {0, 0, 0.0, -1, "0 files, 0 files/s, 0 failed"},
        {120, 1, 2.0, -1, "120 files, 60 files/s, 1 failed"},
        {500, 2, 2.0, 1500, "500/1500 files, 250 files/s, 2 failed, 0:04 left"},
        {10, 0, 1.0, 100000, "10/100000 files, 10 files/s, 0 failed, 2:46:39 left"},
        {100, 0, 1.0, 100, "100/100 files, 100 files/s, 0 failed, 0:00 left"},
        {0, 0, 1.0, 100, "0/100 files, 0 files/s, 0 failed"},  // no rate yet, no estimate
    };
    for (const auto& pc : cases) {
        batch_counts c;
        c.done = pc.done;
        c.failed = pc.failed;
        EXPECT_EQ(batch_progress_line(c, pc.seconds, pc.total), pc.want);
    }
}

// ---- the tool as a process -----------------------------------------------------

process_result tool(std::vector<std::string> args, const process_setup& setup = {}) {
    args.insert(args.begin(), VELLIX_CLI_PATH);
    return run_process(args, setup);
}

std::vector<std::string> split_lines(const std::string& s) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t i; (i = s.find('\n', start)) != std::string::npos; start = i + 1) out.push_back(s.substr(start, i - start));
    if (start < s.size()) out.push_back(s.substr(start));
    return out;
}

std::string text_or_null(const char* t) { return t ? std::string(t) : std::string("<null>"); }

// The record the tool prints for path, made from the library's answer on
// this thread under `options` (paths here need no JSON escapes).
std::string expected_record(const char* (*fn)(const char*), const std::string& path, unsigned options) {
    unsigned before = vellix_set_options(options);
    const char* text = fn(path.c_str());
    std::string r = "{\"path\":\"" + path + "\"," +
                    (text ? "\"result\":" + std::string(text) : "\"error\":\"" + std::string(vellix_last_error()) + "\"") +
                    "}";
    vellix_set_options(before);
    return r;
}

struct report_op {
    const char* op;
    const char* (*fn)(const char*);
};
const report_op REPORT_OPS[] = {
    {"info", vellix_read},          {"xmp", vellix_read_xmp},        {"fonts", vellix_fonts},
    {"images", vellix_images},      {"bookmarks", vellix_bookmarks}, {"security", vellix_security},
    {"analyze", vellix_analyze},    {"labels", vellix_page_labels},
};

const std::string SAMPLE = VELLIX_SOURCE_DIR "/samples/sample.pdf";

TEST(CliBatch, EveryReportMatchesTheLibraryInInputOrderWithFailuresBetween) {
    TempDir t;
    // A large file first, so that with several jobs the small ones after it
    // finish earlier; junk and missing files in the middle.
    std::vector<std::string> paths = {t.file("big.pdf")};
    write_file(paths[0], minimal_pdf(4000, "<< /Title (Big) >>"));
    paths.push_back(SAMPLE);
    for (int i = 0; i < 60; ++i) {
        std::string p = t.file("f" + std::to_string((i * 37) % 60) + ".pdf");  // not in name order
        if (i % 10 == 4)
            write_file(p, "not a pdf " + std::to_string(i));
        else if (i % 10 != 7)
            write_file(p, minimal_pdf(1 + i % 3, "<< /Title (File " + std::to_string(i) + ") /Author (A) >>"));
        paths.push_back(p);  // i % 10 == 7: missing
    }
    std::string list;
    for (const auto& p : paths) list += p + "\n";
    write_file(t.file("list"), list);

    for (const auto& rc : REPORT_OPS) {
        for (unsigned options : {TOOL_OPTIONS, 0u}) {
            if (options == 0u && std::string(rc.op) != "info" && std::string(rc.op) != "bookmarks") continue;
            SCOPED_TRACE(std::string(rc.op) + (options ? "" : " --exact"));
            std::string want;
            int failed = 0;
            for (const auto& p : paths) {
                std::string r = expected_record(rc.fn, p, options);
                failed += r.find("\",\"error\":") != std::string::npos;
                want += r + "\n";
            }
            ASSERT_EQ(failed, 12);
            std::vector<std::string> args = {"batch", "--op", rc.op, "-j", "4", "--files-from", t.file("list")};
            if (!options) args.push_back("--exact");
            process_result r = tool(args);
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, want);
            EXPECT_EQ(r.err, "vellix: 12 of 62 files failed\n");
        }
    }
}

TEST(CliBatch, ArrayAndLinesHoldTheSameRecords) {
    TempDir t;
    fs::create_directories(t.file("d/sub"));
    write_file(t.file("d/a.pdf"), minimal_pdf(1, "<< /Title (A) >>"));
    write_file(t.file("d/b.pdf"), "junk");
    write_file(t.file("d/sub/c.pdf"), minimal_pdf(2, "<< /Title (C) >>"));
    process_result lines = tool({"batch", "-r", t.file("d")});
    process_result array = tool({"batch", "-r", "--array", t.file("d")});
    process_result pretty = tool({"batch", "-r", "--array", "--pretty", t.file("d")});
    std::vector<std::string> recs = split_lines(lines.out);
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(recs[0].rfind("{\"path\":\"" + t.file("d/a.pdf") + "\",\"result\":{\"title\":\"A\"", 0), 0u);
    EXPECT_EQ(recs[1].rfind("{\"path\":\"" + t.file("d/b.pdf") + "\",\"error\":", 0), 0u);
    EXPECT_EQ(recs[2].rfind("{\"path\":\"" + t.file("d/sub/c.pdf") + "\",\"result\":{\"title\":\"C\"", 0), 0u);
    EXPECT_EQ(array.out, "[" + recs[0] + "," + recs[1] + "," + recs[2] + "]\n");
    EXPECT_EQ(json_fault(pretty.out), "");
    std::string squeezed;
    bool in_string = false;
    for (size_t i = 0; i < pretty.out.size(); ++i) {
        char c = pretty.out[i];
        if (c == '"' && (i == 0 || pretty.out[i - 1] != '\\')) in_string = !in_string;
        if (in_string || (c != ' ' && c != '\n')) squeezed.push_back(c);
    }
    EXPECT_EQ(squeezed, "[" + recs[0] + "," + recs[1] + "," + recs[2] + "]");
    for (const auto* r : {&lines, &array, &pretty}) {
        EXPECT_EQ(r->status, 1);
        EXPECT_EQ(r->err, "vellix: 1 of 3 files failed\n");
    }

    // No inputs found: nothing, or an empty array, and success.
    fs::create_directory(t.file("empty"));
    process_result none = tool({"batch", t.file("empty")});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out + none.err, "");
    none = tool({"batch", "--array", t.file("empty")});
    EXPECT_EQ(none.out, "[]\n");
}

TEST(CliBatch, ListsOnStandardInputByLineAndByZeroByte) {
    TempDir t;
    const std::vector<std::string> names = {"plain.pdf", "with space.pdf", "new\nline.pdf", "caf\xc3\xa9.pdf"};
    std::string by_zero, by_line;
    for (const auto& n : names) {
        write_file(t.file(n), minimal_pdf(1, "<< /Title (" + std::to_string(n.size()) + ") >>"));
        by_zero += t.file(n) + '\0';
        if (n.find('\n') == std::string::npos) by_line += t.file(n) + "\n";
    }
    by_zero += t.path().string() + '\0';  // a directory, as find lists it: passed over
    process_setup in;
    in.input = by_zero;
    process_result r = tool({"batch", "-0", "--files-from", "-", "-j", "2"}, in);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> recs = split_lines(r.out);
    ASSERT_EQ(recs.size(), names.size()) << r.out;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string json_path = t.file(names[i]);
        if (size_t nl = json_path.find('\n'); nl != std::string::npos) json_path.replace(nl, 1, "\\u000a");
        EXPECT_EQ(recs[i].rfind("{\"path\":\"" + json_path + "\",\"result\":{\"title\":\"" +
                                    std::to_string(names[i].size()) + "\"",
                                0),
                  0u)
            << recs[i];
    }
    in.input = by_line;
    r = tool({"batch", "--files-from", "-"}, in);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(split_lines(r.out), (std::vector<std::string>{recs[0], recs[1], recs[3]}));
}

TEST(CliBatch, HundredThousandMostlyMissingPathsStreamInBoundedMemory) {
    TempDir t;
    write_file(t.file("real.pdf"), minimal_pdf(1, "<< /Title (Real) >>"));
    auto list_of = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += (i % 1000 == 500 ? t.file("real.pdf") : t.file("missing/dir/file-" + std::to_string(i) + ".pdf")) + "\n";
        return s;
    };
    process_setup small, large;
    small.input = list_of(2000);
    large.input = list_of(100000);
    process_result a = tool({"batch", "--files-from", "-", "-j", "2", "--quiet"}, small);
    process_result b = tool({"batch", "--files-from", "-", "-j", "2", "--quiet"}, large);
    EXPECT_EQ(a.status, 1);
    EXPECT_EQ(b.status, 1);
    EXPECT_EQ(b.err, "vellix: 99900 of 100000 files failed\n");
    std::vector<std::string> recs = split_lines(b.out);
    ASSERT_EQ(recs.size(), 100000u);
    size_t good = 0;
    for (int i = 0; i < 100000; ++i) {
        bool real = i % 1000 == 500;
        std::string path = real ? t.file("real.pdf") : t.file("missing/dir/file-" + std::to_string(i) + ".pdf");
        ASSERT_EQ(recs[i].rfind("{\"path\":\"" + path + "\",\"" + (real ? "result" : "error") + "\":", 0), 0u) << i;
        good += real;
    }
    EXPECT_EQ(good, 100u);
    // Fifty times the paths (5 MB of list, 12 MB of output) must not show in
    // the peak memory: the records are not held. (Under AddressSanitizer
    // freed memory is held back on purpose, so the peak means nothing there.)
#ifndef __SANITIZE_ADDRESS__
    EXPECT_LT(b.max_rss_kb - a.max_rss_kb, 4 * 1024) << a.max_rss_kb << " KB, then " << b.max_rss_kb << " KB";
#endif
}

TEST(CliBatch, ProgressOnlyOnATerminalUnlessAskedOrSilenced) {
    TempDir t;
    fs::create_directory(t.file("d"));
    for (int i = 0; i < 20; ++i) write_file(t.file("d/f" + std::to_string(i) + ".pdf"), minimal_pdf(1, "<< /Title (T) >>"));
    struct progress_case {
        std::vector<std::string> flags;
        bool terminal;
        bool shown;
    };
    const progress_case cases[] = {
        {{}, true, true},
        {{}, false, false},
        {{"--progress"}, false, true},
        {{"--quiet"}, true, false},
        {{"--progress", "--quiet"}, false, false},
    };
    for (const auto& pc : cases) {
        SCOPED_TRACE(std::to_string(pc.flags.size()) + (pc.terminal ? " on a terminal" : " on a pipe"));
        std::vector<std::string> args = {"batch", "-j", "2", t.file("d")};
        args.insert(args.end(), pc.flags.begin(), pc.flags.end());
        process_setup s;
        s.stderr_on_terminal = pc.terminal;
        process_result r = tool(args, s);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(split_lines(r.out).size(), 20u);
        if (!pc.shown) {
            EXPECT_EQ(r.err, "");
            continue;
        }
        // The last line has the whole count, a rate and the failures.
        EXPECT_NE(r.err.find("20/20 files, "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(" files/s, 0 failed, 0:00 left"), std::string::npos) << r.err;
        // Rewritten in place on a terminal, plain lines elsewhere.
        EXPECT_EQ(r.err.find("\r\033[K") != std::string::npos, pc.terminal) << r.err;
    }
}

TEST(CliBatch, WritersMirrorTheInputTree) {
    TempDir t;
    const std::string in = t.file("in");
    fs::create_directories(in + "/sub/deep");
    for (const char* f : {"a.pdf", "sub/b.pdf", "sub/deep/c.pdf"}) fs::copy_file(SAMPLE, in + "/" + f);
    const std::vector<std::string> rels = {"a.pdf", "sub/b.pdf", "sub/deep/c.pdf"};
    vellix_set_options(TOOL_OPTIONS);
    auto title = [](const std::string& p) { return text_or_null(vellix_read(p.c_str())); };
    auto xmp = [](const std::string& p) { return text_or_null(vellix_read_xmp(p.c_str())); };
    const std::string sample_info = title(SAMPLE), sample_xmp = xmp(SAMPLE);
    ASSERT_NE(sample_xmp.find("\"dc:creator\":\"Ada Marsh\""), std::string::npos);
    ASSERT_NE(sample_info.find("\"author\":\"Ada Marsh\""), std::string::npos);

    // The output directory inside the input tree is not walked, in this run
    // or a second one.
    const std::string out = in + "/cleaned";
    for (int run = 0; run < 2; ++run) {
        process_result r = tool({"batch-clear", "-r", "-j", "2", in, out});
        EXPECT_EQ(r.status, 0) << r.err;
        std::string want;
        for (const auto& rel : rels)
            want += "{\"path\":\"" + in + "/" + rel + "\",\"result\":{\"output\":\"" + out + "/" + rel + "\"}}\n";
        EXPECT_EQ(r.out, want);
    }
    for (const auto& rel : rels) {
        EXPECT_NE(title(out + "/" + rel).find("\"author\":\"\""), std::string::npos) << rel;
        EXPECT_NE(xmp(out + "/" + rel).find("\"dc:creator\":\"\""), std::string::npos) << rel;
    }

    // Each writer of batch, by what it changes and what it keeps.
    struct writer_case {
        std::vector<std::string> op;
        const char* info_has;
        const char* xmp_has;
    };
    const writer_case cases[] = {
        {{"--op", "clear"}, "\"author\":\"\"", "\"dc:creator\":\"Ada Marsh\""},
        {{"--op", "clear-xmp"}, "\"author\":\"Ada Marsh\"", "\"dc:creator\":\"\""},
        {{"--op", "clear-all"}, "\"author\":\"\"", "\"dc:creator\":\"\""},
        {{"--op", "scrub"}, "\"author\":\"\"", "\"dc:creator\":\"\""},
        {{"--op", "set", "--json", "{\"author\":\"Bo\"}"}, "\"author\":\"Bo\"", "\"dc:creator\":\"Ada Marsh\""},
        {{"--op", "set-xmp", "--json", "{\"dc:creator\":\"Cy\"}"}, "\"author\":\"Ada Marsh\"", "\"dc:creator\":\"Cy\""},
    };
    int k = 0;
    for (const auto& wc : cases) {
        SCOPED_TRACE(wc.op[1]);
        const std::string o = t.file("out" + std::to_string(k++));
        std::vector<std::string> args = {"batch", "-r", in, "-o", o};
        args.insert(args.end(), wc.op.begin(), wc.op.end());
        process_result r = tool(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(split_lines(r.out).size(), 3u + 3u);  // the copies under in/cleaned are inputs here
        for (const auto& rel : rels) {
            EXPECT_NE(title(o + "/" + rel).find(wc.info_has), std::string::npos) << rel << title(o + "/" + rel);
            EXPECT_NE(xmp(o + "/" + rel).find(wc.xmp_has), std::string::npos) << rel << xmp(o + "/" + rel);
        }
    }

    // A file named by its path goes to that path under the output directory;
    // a failed input leaves no copy.
    const std::string o = t.file("by-path");
    write_file(t.file("junk.pdf"), "junk");
    process_result r = tool({"batch-clear", "-o", o, in + "/a.pdf", t.file("junk.pdf")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vellix: 1 of 2 files failed\n");
    EXPECT_TRUE(fs::exists(o + in + "/a.pdf"));
    EXPECT_FALSE(fs::exists(o + t.file("junk.pdf")));

    // The output directory's parent must exist.
    r = tool({"batch-clear", in, t.file("no/such/out")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vellix: cannot create directory " + t.file("no/such/out") + "\n");
    EXPECT_EQ(r.out, "");
}

TEST(CliBatch, UsageErrorsExitTwo) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"batch"}, "vellix: batch: give files, directories or --files-from LIST"},
        {{"batch", "--pretty", "d"}, "vellix: batch: --pretty needs --array (JSON Lines keep one record per line)"},
        {{"batch", "-j", "0", "d"}, "vellix: batch: --jobs needs a number from 1 to 1024, got '0'"},
        {{"batch", "--jobs=2x", "d"}, "vellix: batch: --jobs needs a number from 1 to 1024, got '2x'"},
        {{"batch", "--op", "frob", "d"}, "vellix: batch: unknown --op 'frob'"},
        {{"batch", "--op", "clear", "d"}, "vellix: batch: --op clear needs -o OUT_DIR"},
        {{"batch", "--op", "set", "-o", "x", "d"}, "vellix: batch: --op set needs --json JSON"},
        {{"batch", "--op", "clear", "-o", "x", "--json", "{}", "d"}, "vellix: batch: --json is for --op set and --op set-xmp"},
        {{"batch", "-o", "x", "d"}, "vellix: batch: -o is for the writers (--op info writes nothing)"},
        {{"batch-clear", "d"}, "vellix: batch-clear: give -o OUT_DIR, or inputs followed by OUT_DIR"},
        {{"batch-clear", "--op", "info", "d", "o"}, "vellix: batch-clear: unknown option '--op'"},
    };
    for (const auto& [args, first_line] : cases) {
        SCOPED_TRACE(first_line);
        process_result r = tool(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), first_line);
    }
}

}  // namespace
