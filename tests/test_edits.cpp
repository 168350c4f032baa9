// Edits that keep the document: the refusal of full rewrites of signed files
// (VELLIX_KEEP_SIGNATURES) and incremental updates (VELLIX_INCREMENTAL), in
// place and into a new file, read back by the library and by the peers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/output_check.h"
#include "support/pdf_builder.h"
#include "vellix.h"

namespace fs = std::filesystem;

namespace {

const std::string CORPUS = VELLIX_CORPUS_DIR;
const std::string SIGNED_FIXTURE = std::string(VELLIX_SOURCE_DIR) + "/tests/signed/self-signed.pdf";
const std::string SIGNED_CORPUS = CORPUS + "/digitally-signed.pdf";
const char* const SIGNED_MSG = "the document is signed; rewriting it would invalidate its signatures: ";

// Sets this thread's options for one scope.
struct options_scope {
    unsigned prev;
    explicit options_scope(unsigned bits) : prev(vellix_set_options(bits)) {}
    ~options_scope() { vellix_set_options(prev); }
};

// The "title" value of vellix_read (options 0), or "<error: message>".
std::string title_of(const std::string& path) {
    options_scope o(0);
    const char* j = vellix_read(path.c_str());
    if (!j) return std::string("<error: ") + vellix_last_error() + ">";
    std::string s = j;
    size_t a = s.find("\"title\":\"");
    if (a == std::string::npos) return "<no title>";
    a += 9;
    return s.substr(a, s.find('"', a) - a);
}

std::string shell_quote(const std::string& s) { return "'" + s + "'"; }

// Catalog 12, pages 11, page 10, Info 13: numbers of two digits, so that a cut
// inside a trailer's /Root or /Info value leaves a number naming another object.
PdfBuilder numbered_body() {
    PdfBuilder b("1.6");
    b.obj(10, "<< /Type /Page /Parent 11 0 R /MediaBox [0 0 200 200] >>");
    b.obj(11, "<< /Type /Pages /Kids [10 0 R] /Count 1 >>");
    b.obj(12, "<< /Type /Catalog /Pages 11 0 R >>");
    b.obj(13, "<< /Title (Old title) /Author (A) >>");
    return b;
}

std::string table_fixture() {
    PdfBuilder b = numbered_body();
    b.xref_trailer("/Size 14 /Root 12 0 R /Info 13 0 R /ID [<00112233445566778899AABBCCDDEEFF><00112233445566778899AABBCCDDEEFF>]");
    return b.bytes();
}

std::string stream_fixture() {
    PdfBuilder b = numbered_body();
    b.xref_stream(14, "/Size 15 /Root 12 0 R /Info 13 0 R /ID [<00112233445566778899AABBCCDDEEFF><00112233445566778899AABBCCDDEEFF>]");
    return b.bytes();
}

// A writable copy of a file.
std::string copy_in(const TempDir& dir, const std::string& from, const std::string& name) {
    std::string to = dir.file(name);
    write_file(to, read_file(from));
    return to;
}

int pdfsig_valid_count(const std::string& path, std::string* out) {
    run_command("pdfsig " + shell_quote(path), out);
    int n = 0;
    for (size_t p = out->find("Signature is Valid"); p != std::string::npos; p = out->find("Signature is Valid", p + 1)) ++n;
    return n;
}

int signature_count(const std::string& path) {
    std::string out;
    run_command("pdfsig " + shell_quote(path), &out);
    int n = 0;
    for (size_t p = out.find("Signature #"); p != std::string::npos; p = out.find("Signature #", p + 1)) ++n;
    return n;
}

// The writers of the library, each given the same kind of change.
struct writer_case {
    const char* name;
    bool additive;  // vellix_write, vellix_write_full, vellix_write_xmp
    int (*run)(const char* in, const char* out);
};
const writer_case WRITERS[] = {
    {"write", true, [](const char* i, const char* o) { return vellix_write(i, o, "New title", nullptr, nullptr, nullptr); }},
    {"write_full", true, [](const char* i, const char* o) { return vellix_write_full(i, o, "{\"title\":\"New title\"}"); }},
    {"write_xmp", true, [](const char* i, const char* o) { return vellix_write_xmp(i, o, "{\"dc:title\":\"New title\"}"); }},
    {"clear", false, [](const char* i, const char* o) { return vellix_clear(i, o); }},
    {"clear_xmp", false, [](const char* i, const char* o) { return vellix_clear_xmp(i, o); }},
};

}  // namespace

TEST(EditOptions, NewBitsAreKnownAndOthersStayUnknown) {
    options_scope o(0);
    unsigned all = VELLIX_UNICODE | VELLIX_RESOLVE | VELLIX_KEEP_STREAMS | VELLIX_INCREMENTAL | VELLIX_SYNC |
                   VELLIX_KEEP_SIGNATURES;
    EXPECT_EQ(all, 0x3Fu);
    EXPECT_EQ(vellix_set_options(all), 0u);
    EXPECT_EQ(vellix_get_options(), all);
    EXPECT_EQ(vellix_set_options(0x40u | VELLIX_INCREMENTAL), static_cast<unsigned>(-1));
    EXPECT_STREQ(vellix_last_error(), "unknown option bits 0x40");
    EXPECT_EQ(vellix_set_options(0x154u), static_cast<unsigned>(-1));
    EXPECT_STREQ(vellix_last_error(), "unknown option bits 0x140");
    EXPECT_EQ(vellix_get_options(), all);
}

// A full rewrite of a signed file is refused under KEEP_SIGNATURES, by every
// writer, and writes nothing; without the bit it goes ahead as before; an
// unsigned file is written either way.
TEST(KeepSignatures, FullRewritesOfSignedFilesAreRefused) {
    TempDir dir;
    std::string plain = dir.file("plain.pdf");
    write_file(plain, table_fixture());
    for (const std::string& in : {SIGNED_FIXTURE, SIGNED_CORPUS}) {
        if (!fs::exists(in)) continue;
        for (const writer_case& w : WRITERS) {
            SCOPED_TRACE(in + " " + w.name);
            std::string out = dir.file(std::string("out-") + w.name + ".pdf");
            {
                options_scope o(VELLIX_KEEP_SIGNATURES);
                EXPECT_EQ(w.run(in.c_str(), out.c_str()), 0);
                EXPECT_EQ(std::string(vellix_last_error()), SIGNED_MSG + in);
                EXPECT_FALSE(fs::exists(out));
                EXPECT_EQ(w.run(plain.c_str(), out.c_str()), 1) << vellix_last_error();
                fs::remove(out);
            }
            options_scope o(0);
            EXPECT_EQ(w.run(in.c_str(), out.c_str()), 1) << vellix_last_error();
            fs::remove(out);
        }
    }
}

TEST(KeepSignatures, BatchClearSkipsSignedFiles) {
    TempDir in, out;
    write_file(in.file("plain.pdf"), table_fixture());
    write_file(in.file("signed.pdf"), read_file(SIGNED_FIXTURE));
    options_scope o(VELLIX_KEEP_SIGNATURES);
    EXPECT_EQ(vellix_batch_clear(in.path().c_str(), out.path().c_str()), 1);
    EXPECT_TRUE(fs::exists(out.file("plain.pdf")));
    EXPECT_FALSE(fs::exists(out.file("signed.pdf")));
}

// An incremental write keeps every byte of the input and every signature:
// pdfsig still finds each signature valid, with or without KEEP_SIGNATURES,
// and the new title reads back in the library, pdfinfo and pikepdf.
TEST(Incremental, SignedFilesStayValid) {
    if (!have_tool("pdfsig")) GTEST_SKIP() << "pdfsig missing";
    TempDir dir;
    for (const std::string& src : {SIGNED_FIXTURE, SIGNED_CORPUS}) {
        if (!fs::exists(src)) continue;
        SCOPED_TRACE(src);
        int sigs = signature_count(src);
        ASSERT_GE(sigs, 1);
        std::string orig = read_file(src);
        for (unsigned bits : {VELLIX_INCREMENTAL, VELLIX_INCREMENTAL | VELLIX_KEEP_SIGNATURES}) {
            std::string f = copy_in(dir, src, "s.pdf");
            options_scope o(bits);
            ASSERT_EQ(vellix_write(f.c_str(), f.c_str(), "Changed", nullptr, nullptr, nullptr), 1) << vellix_last_error();
            std::string now = read_file(f);
            ASSERT_GT(now.size(), orig.size());
            EXPECT_EQ(now.compare(0, orig.size(), orig), 0);
            EXPECT_LT(now.size() - orig.size(), 4096u);
            std::string out;
            EXPECT_EQ(pdfsig_valid_count(f, &out), sigs) << out;
            EXPECT_EQ(title_of(f), "Changed");
            run_command("pdfinfo " + shell_quote(f), &out);
            EXPECT_NE(out.find("Changed"), std::string::npos) << out;
            std::string x = dir.file("x.pdf");
            ASSERT_EQ(vellix_write_xmp(f.c_str(), x.c_str(), "{\"dc:title\":\"X\"}"), 1) << vellix_last_error();
            EXPECT_EQ(pdfsig_valid_count(x, &out), sigs) << out;
        }
    }
}

// The three additive writers, on a table input and a stream input, in place
// and into a new file: the output is the input followed by an update whose
// section is of the input's kind; qpdf, pdfinfo and pikepdf read the new
// values; the removal writers ignore the bit and rewrite the file.
TEST(Incremental, EveryWriterAppendsAnUpdateOfTheInputsKind) {
    bool peers = have_tool("qpdf") && have_tool("pdfinfo");
    TempDir dir;
    struct input {
        const char* name;
        std::string bytes;
        bool stream;
    } inputs[] = {{"table", table_fixture(), false}, {"stream", stream_fixture(), true}};
    for (const input& in : inputs) {
        for (const writer_case& w : WRITERS) {
            for (bool in_place : {true, false}) {
                SCOPED_TRACE(std::string(in.name) + " " + w.name + (in_place ? " in place" : " copy"));
                std::string src = dir.file("in.pdf");
                write_file(src, in.bytes);
                std::string out = in_place ? src : dir.file("out.pdf");
                options_scope o(VELLIX_INCREMENTAL);
                ASSERT_EQ(w.run(src.c_str(), out.c_str()), 1) << vellix_last_error();
                std::string got = read_file(out);
                bool kept = got.size() > in.bytes.size() && got.compare(0, in.bytes.size(), in.bytes) == 0;
                EXPECT_EQ(kept, w.additive);
                if (!w.additive) {
                    EXPECT_EQ(title_of(out), w.name == std::string("clear") ? "" : "Old title");
                    continue;
                }
                std::string update = got.substr(in.bytes.size());
                std::string prev = in.bytes.substr(in.bytes.rfind("startxref\n") + 10);
                prev = prev.substr(0, prev.find('\n'));
                EXPECT_NE(update.find("/Prev " + prev + "/"), std::string::npos) << update;
                EXPECT_EQ(update.find("\nxref\n") != std::string::npos, !in.stream) << update;
                EXPECT_EQ(update.find("/Type /XRef") != std::string::npos, in.stream) << update;
                EXPECT_NE(update.find("/Root 12 0 R"), std::string::npos);
                EXPECT_NE(update.find("/ID[<00112233445566778899AABBCCDDEEFF><"), std::string::npos);
                EXPECT_EQ(update.find("/ID[<00112233445566778899AABBCCDDEEFF><00112233445566778899AABBCCDDEEFF>"),
                          std::string::npos);
                if (w.name == std::string("write_xmp")) {
                    options_scope o0(0);
                    const char* x = vellix_read_xmp(out.c_str());
                    ASSERT_TRUE(x) << vellix_last_error();
                    EXPECT_NE(std::string(x).find("\"dc:title\":\"New title\""), std::string::npos) << x;
                    EXPECT_EQ(title_of(out), "Old title");
                    EXPECT_NE(update.find("12 0 obj"), std::string::npos);  // the catalog copy
                } else {
                    EXPECT_EQ(title_of(out), "New title");
                    EXPECT_EQ(update.find("12 0 obj"), std::string::npos);
                }
                if (!peers) continue;
                std::string msg;
                EXPECT_EQ(run_command("qpdf --check " + shell_quote(out), &msg), 0) << msg;
                if (w.name != std::string("write_xmp")) {
                    EXPECT_EQ(run_command("pdfinfo " + shell_quote(out), &msg), 0) << msg;
                    EXPECT_NE(msg.find("Title:           New title"), std::string::npos) << msg;
                    EXPECT_EQ(run_command("/usr/bin/python3 -c \"import pikepdf,sys; "
                                          "print(pikepdf.open(sys.argv[1]).docinfo['/Title'])\" " + shell_quote(out), &msg),
                              0);
                    EXPECT_EQ(msg, "New title\n");
                }
            }
        }
    }
}

// Every cut of the appended bytes (a crash while appending) leaves a file
// read with the old or the new title: by the library, never an error, and
// by qpdf --check and pdfinfo. Cuts from the end of the final "startxref"
// keyword to the end of its number are exempt: that offset cannot be
// repaired by any reader.
TEST(Incremental, EveryCutOfTheUpdateReadsOldOrNew) {
    bool peers = have_tool("qpdf") && have_tool("pdfinfo");
    TempDir dir;
    for (const std::string& bytes : {table_fixture(), stream_fixture()}) {
        std::string f = dir.file("f.pdf");
        write_file(f, bytes);
        {
            options_scope o(VELLIX_INCREMENTAL);
            ASSERT_EQ(vellix_write(f.c_str(), f.c_str(), "New title", nullptr, nullptr, nullptr), 1) << vellix_last_error();
        }
        std::string full = read_file(f);
        size_t sx = full.rfind("startxref");
        size_t num_end = full.find_first_not_of("0123456789", sx + 10);
        ASSERT_GT(sx, bytes.size());
        std::vector<size_t> cuts;
        for (size_t len = bytes.size(); len <= full.size(); ++len)
            if (len < sx + 9 || len >= num_end) cuts.push_back(len);
        std::string script;
        for (size_t len : cuts) {
            std::string c = dir.file("cut-" + std::to_string(len) + ".pdf");
            write_file(c, full.substr(0, len));
            std::string title = title_of(c);
            EXPECT_TRUE(title == "Old title" || title == "New title") << "cut at " << len << ": " << title;
            if (len == full.size()) {
                EXPECT_EQ(title, "New title");
            }
            script += "qpdf --check " + c + " >/dev/null 2>&1 || echo qpdf " + std::to_string(len) + ";" +
                      "pdfinfo " + c + " 2>/dev/null | grep -Eq '^Title: +(Old|New) title$' || echo pdfinfo " +
                      std::to_string(len) + ";";
        }
        if (!peers) continue;
        std::string failures;
        run_command(script, &failures);
        EXPECT_EQ(failures, "");
    }
}

// A file whose startxref does not lead to a cross-reference section gets no
// update: the message names the file and suggests a full rewrite, and the
// file (in place) or the output (copy) is left as it was.
TEST(Incremental, NoSectionWhereStartxrefPointsIsRefused) {
    TempDir dir;
    std::string bytes = table_fixture();
    size_t sx = bytes.rfind("startxref\n");
    std::string damaged = bytes.substr(0, sx) + "startxref\n17\n%%EOF\n";
    std::string f = dir.file("damaged.pdf");
    write_file(f, damaged);
    options_scope o(VELLIX_INCREMENTAL);
    EXPECT_EQ(vellix_write(f.c_str(), f.c_str(), "T", nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(std::string(vellix_last_error()),
              "cannot update " + f +
                  " incrementally: its startxref does not point at a cross-reference section; rewrite it without the "
                  "incremental option");
    EXPECT_EQ(read_file(f), damaged);
    std::string out = dir.file("out.pdf");
    EXPECT_EQ(vellix_write(f.c_str(), out.c_str(), "T", nullptr, nullptr, nullptr), 0);
    EXPECT_FALSE(fs::exists(out));
}

// A file that ends inside a stream without "endstream" would swallow an
// appended update (a reader takes everything after "stream" as its data), so
// the update is refused rather than written unseen: in place the file keeps
// its bytes, a copy is not made.
TEST(Incremental, InputEndingInsideAnUnterminatedStreamIsRefused) {
    TempDir dir;
    const std::string open_end = table_fixture() + "15 0 obj\n<< /Length 5000 >>\nstream\nno end";
    for (const writer_case& w : WRITERS) {
        if (!w.additive) continue;
        SCOPED_TRACE(w.name);
        std::string f = dir.file("open.pdf"), out = dir.file("out.pdf");
        write_file(f, open_end);
        fs::remove(out);
        ASSERT_EQ(title_of(f), "Old title");
        options_scope o(VELLIX_INCREMENTAL);
        const std::string msg = "cannot update " + f +
                                " incrementally: a reader would not see the update (the file ends inside an "
                                "unterminated stream or object); rewrite it without the incremental option";
        EXPECT_EQ(w.run(f.c_str(), f.c_str()), 0);
        EXPECT_EQ(std::string(vellix_last_error()), msg);
        EXPECT_EQ(read_file(f), open_end);
        EXPECT_EQ(w.run(f.c_str(), out.c_str()), 0);
        EXPECT_EQ(std::string(vellix_last_error()), msg);
        EXPECT_FALSE(fs::exists(out));
        // A full rewrite serves it.
        options_scope full(0);
        EXPECT_EQ(w.run(f.c_str(), out.c_str()), 1) << vellix_last_error();
    }
    // No temporary file is left behind.
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().rfind(".vellix-", 0), std::string::npos) << e.path();
}

// A hybrid file (a table whose trailer names /XRefStm) gets a table section
// that carries /XRefStm forward; qpdf reads it without a warning.
TEST(Incremental, HybridFilesCarryXRefStmForward) {
    std::string src = CORPUS + "/hybrid-xref.pdf";
    if (!fs::exists(src)) GTEST_SKIP() << "corpus missing";
    TempDir dir;
    std::string f = copy_in(dir, src, "h.pdf");
    options_scope o(VELLIX_INCREMENTAL);
    ASSERT_EQ(vellix_write(f.c_str(), f.c_str(), "Hybrid", nullptr, nullptr, nullptr), 1) << vellix_last_error();
    std::string orig = read_file(src);
    std::string update = read_file(f).substr(orig.size());
    size_t k = orig.rfind("/XRefStm");
    ASSERT_NE(k, std::string::npos);
    std::string value = orig.substr(k + 9, orig.find_first_not_of("0123456789", k + 9) - k - 9);
    EXPECT_NE(update.find("/XRefStm " + value), std::string::npos) << update;
    EXPECT_EQ(title_of(f), "Hybrid");
    std::string msg;
    if (have_tool("qpdf")) {
        EXPECT_EQ(run_command("qpdf --check " + shell_quote(f), &msg), 0) << msg;
    }
}
