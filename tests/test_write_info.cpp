// Info rewrite (vellix_write, vellix_clear): the written file byte for byte,
// the Info dictionary built from caller and old values, generations, messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/frame.h"
#include "load/doc.h"
#include "info/info_build.h"
#include "write/writer.h"
#include "support/output_check.h"
#include "support/pdf_builder.h"
#include "vellix.h"

namespace {

// Catalog, pages, page, Info 4 (unless info is empty), a stream, a number
// object and object 8 after a gap at 7.
std::string fixture(const std::string& info) {
    PdfBuilder b("1.7");
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 5 0 R >>");
    if (!info.empty()) b.obj(4, info);
    b.stream(5, "/Foo 1", "abc");
    b.obj(6, "42");
    b.obj(8, "(gap)");
    b.xref_trailer(info.empty() ? "/Size 9 /Root 1 0 R" : "/Size 9 /Root 1 0 R /Info 4 0 R");
    return b.bytes();
}

const char* const OLD_INFO =
    "<</Title (Old) /Producer (P 1.0) /CreationDate (D:20200101120000Z) /Trapped /False>>";

// Objects 1 to 3 as they are written back.
#define FIRST_THREE                                                                 \
    "%PDF-1.4\n"                                                                    \
    "%\xE2\xE3\xCF\xD3\n"                                                           \
    "1 0 obj\n"                                                                     \
    "<< /Type /Catalog /Pages 2 0 R >>\n"                                           \
    "endobj\n"                                                                      \
    "2 0 obj\n"                                                                     \
    "<< /Type /Pages /Kids [3 0 R] /Count 1 >>\n"                                   \
    "endobj\n"                                                                      \
    "3 0 obj\n"                                                                     \
    "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 5 0 R >>\n"     \
    "endobj\n"

#define STREAM_NUMBER_GAP  \
    "5 0 obj\n"            \
    "<< /Foo 1 /Length 3 >>\n" \
    "stream\n"             \
    "abc\n"                \
    "endstream\n"          \
    "endobj\n"             \
    "6 0 obj\n"            \
    "42\n"                 \
    "endobj\n"             \
    "8 0 obj\n"            \
    "(gap)\n"              \
    "endobj\n"

const std::string WRITE_IN_PLACE = FIRST_THREE
    "4 0 obj\n"
    "<< /Title (New) /Producer (P 1.0) /CreationDate (D:20200101120000Z) /ModDate (D:NNNNNNNNNNNNNNZ)>>\n"
    "endobj\n" STREAM_NUMBER_GAP
    "xref\n"
    "0 9\n"
    "0000000000 65535 f \n"
    "0000000015 00000 n \n"
    "0000000064 00000 n \n"
    "0000000121 00000 n \n"
    "0000000208 00000 n \n"
    "0000000322 00000 n \n"
    "0000000381 00000 n \n"
    "0000000000 65535 f \n"
    "0000000399 00000 n \n"
    "trailer\n"
    "<</Size 9/Root 1 0 R/Info 4 0 R>>\n"
    "startxref 420\n"
    "%%EOF\n";

const std::string CLEARED = FIRST_THREE STREAM_NUMBER_GAP
    "xref\n"
    "0 9\n"
    "0000000000 65535 f \n"
    "0000000015 00000 n \n"
    "0000000064 00000 n \n"
    "0000000121 00000 n \n"
    "0000000000 65535 f \n"
    "0000000208 00000 n \n"
    "0000000267 00000 n \n"
    "0000000000 65535 f \n"
    "0000000285 00000 n \n"
    "trailer\n"
    "<</Size 9/Root 1 0 R>>\n"
    "startxref 306\n"
    "%%EOF\n";

const std::string WRITE_NEW_INFO = FIRST_THREE STREAM_NUMBER_GAP
    "9 0 obj\n"
    "<< /Title (A\\(B\\)) /CreationDate (D:NNNNNNNNNNNNNNZ) /ModDate (D:NNNNNNNNNNNNNNZ)>>\n"
    "endobj\n"
    "xref\n"
    "0 10\n"
    "0000000000 65535 f \n"
    "0000000015 00000 n \n"
    "0000000064 00000 n \n"
    "0000000121 00000 n \n"
    "0000000000 65535 f \n"
    "0000000208 00000 n \n"
    "0000000267 00000 n \n"
    "0000000000 65535 f \n"
    "0000000285 00000 n \n"
    "0000000306 00000 n \n"
    "trailer\n"
    "<</Size 10/Root 1 0 R/Info 9 0 R>>\n"
    "startxref 405\n"
    "%%EOF\n";

struct written {
    int result;
    std::string file;  // dates of now masked
    std::string raw;
};

template <class F>
written run_write(const std::string& out, F&& call) {
    clock_window w;
    w.start();
    int r = call();
    w.stop();
    std::string raw = read_file(out);
    return {r, w.mask(raw), raw};
}

TEST(WriteInfo, WholeFilesByteForByte) {
    TempDir dir;
    std::string with_info = dir.file("with.pdf"), without = dir.file("without.pdf"), out = dir.file("out.pdf");
    write_file(with_info, fixture(OLD_INFO));
    write_file(without, fixture(""));

    written w = run_write(out, [&] { return vellix_write(with_info.c_str(), out.c_str(), "New", nullptr, nullptr, nullptr); });
    ASSERT_EQ(w.result, 1) << vellix_last_error();
    EXPECT_STREQ(vellix_last_error(), "");
    EXPECT_EQ(w.file, WRITE_IN_PLACE);
    EXPECT_EQ(xref_fault(w.raw), "");

    w = run_write(out, [&] { return vellix_clear(with_info.c_str(), out.c_str()); });
    ASSERT_EQ(w.result, 1) << vellix_last_error();
    EXPECT_EQ(w.file, CLEARED);

    w = run_write(out, [&] { return vellix_write(without.c_str(), out.c_str(), "A(B)", nullptr, nullptr, nullptr); });
    ASSERT_EQ(w.result, 1) << vellix_last_error();
    EXPECT_EQ(w.file, WRITE_NEW_INFO);
    EXPECT_EQ(xref_fault(w.raw), "");

    // Clearing a file without Info changes nothing but the format.
    w = run_write(out, [&] { return vellix_clear(without.c_str(), out.c_str()); });
    ASSERT_EQ(w.result, 1);
    EXPECT_EQ(w.file, CLEARED);
}

TEST(WriteInfo, OwnGenerationsInRowsHeadersAndTrailer) {
    TempDir dir;
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>", 1);
    b.obj(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    b.obj(3, "<</Title (T)>>", 2);
    b.xref_trailer("/Size 4 /Root 1 1 R /Info 3 2 R");
    std::string in = b.write(dir.path() / "in.pdf"), out = dir.file("out.pdf");
    written w = run_write(out, [&] { return vellix_write(in.c_str(), out.c_str(), nullptr, "Ann", nullptr, nullptr); });
    ASSERT_EQ(w.result, 1) << vellix_last_error();
    EXPECT_NE(w.file.find("1 1 obj\n<< /Type /Catalog"), std::string::npos);
    EXPECT_NE(w.file.find("3 2 obj\n<< /Title (T) /Author (Ann) /CreationDate (D:NNNNNNNNNNNNNNZ) "
                          "/ModDate (D:NNNNNNNNNNNNNNZ)>>\nendobj\n"),
              std::string::npos);
    EXPECT_NE(w.file.find("0000000015 00001 n \n"), std::string::npos);
    EXPECT_NE(w.file.find(" 00002 n \ntrailer\n<</Size 4/Root 1 1 R/Info 3 2 R>>\n"), std::string::npos);
    EXPECT_EQ(xref_fault(w.raw), "");
}

TEST(WriteInfo, ObjectStreamRowsBecomeOrdinaryObjects) {
    TempDir dir;
    // Objects 4 (ends in a delimiter), 5 (ends in a digit, follows a
    // comment) and 6 (the Info dictionary) live in the unfiltered object stream 7.
    std::string o4 = "<</A 1>>", o5 = " %c\n17", o6 = "<</Title (In stream)/Producer (Q)>>";
    std::string hdr = "4 0 5 " + std::to_string(o4.size()) + " 6 " + std::to_string(o4.size() + o5.size()) + " ";
    std::string body = hdr + o4 + o5 + o6;
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    b.stream(7, "/Type /ObjStm /N 3 /First " + std::to_string(hdr.size()), body);
    b.xref_trailer("/Size 8 /Root 1 0 R /Info 6 0 R");
    std::string in = b.write(dir.path() / "in.pdf"), out = dir.file("out.pdf");

    written w = run_write(out, [&] { return vellix_write(in.c_str(), out.c_str(), nullptr, nullptr, "S", nullptr); });
    ASSERT_EQ(w.result, 1) << vellix_last_error();
    EXPECT_NE(w.file.find("4 0 obj\n<</A 1>>endobj\n5 0 obj\n17\nendobj\n6 0 obj\n"
                          "<< /Title (In stream) /Subject (S) /Producer (Q) /CreationDate (D:NNNNNNNNNNNNNNZ) "
                          "/ModDate (D:NNNNNNNNNNNNNNZ)>>\nendobj\nxref\n0 7\n"),
              std::string::npos)
        << w.file;
    EXPECT_EQ(w.file.find("ObjStm"), std::string::npos);  // the container is not written
    // S counts the written objects only: the container 7 is gone, row 3 is free.
    EXPECT_NE(w.file.find("0 7\n0000000000 65535 f \n0000000015 00000 n \n0000000064 00000 n \n0000000000 65535 f \n"),
              std::string::npos);
    EXPECT_NE(w.file.find(" 00000 n \ntrailer\n<</Size 7/Root 1 0 R/Info 6 0 R>>"), std::string::npos);
    EXPECT_EQ(xref_fault(w.raw), "");

    w = run_write(out, [&] { return vellix_clear(in.c_str(), out.c_str()); });
    ASSERT_EQ(w.result, 1);
    EXPECT_EQ(w.file.find("6 0 obj"), std::string::npos);
    EXPECT_NE(w.file.find("<</Size 6/Root 1 0 R>>"), std::string::npos);
}

TEST(WriteInfo, PlainObjectValuesAreFoundAfterTheObjKeyword) {
    TempDir dir;
    std::string file = "%PDF-1.4\n"
                       "1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
                       "2 0 obj\r\n<< /Type /Pages /Kids [] /Count 0 >>\r\nendobj\n"
                       "3 0 obj\n  [1 2 3]\nendobj\n"
                       "4 0 obj\nnull endobj\n"
                       "5 0 obj\n<< /Length 2 >>\r\nstream\r\nxy\r\nendstream\r\nendobj\n"
                       "6 0 obj\nendobj\n"
                       "trailer\n<< /Root 1 0 R >>\n";
    write_file(dir.file("in.pdf"), file);
    std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    ASSERT_EQ(vellix_clear(in.c_str(), out.c_str()), 1) << vellix_last_error();
    std::string got = read_file(out);
    const std::string objects = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n"
                                "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >> endobj\n"
                                "2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\r\nendobj\n"
                                "3 0 obj\n[1 2 3]\nendobj\n"
                                "4 0 obj\nnull endobj\n"
                                "5 0 obj\n<< /Length 2 >>\r\nstream\nxy\nendstream\nendobj\n"
                                "6 0 obj\nendobj\n"
                                "xref\n0 7\n";
    EXPECT_EQ(got.substr(0, objects.size()), objects);
    EXPECT_EQ(xref_fault(got), "");
}

TEST(WriteInfo, MessagesAndResults) {
    TempDir dir;
    std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    write_file(in, fixture(OLD_INFO));
    std::string missing = dir.file("missing.pdf"), bad_dir = dir.file("no/such/dir/out.pdf");
    const char* o = out.c_str();
    struct fail_case {
        std::function<int()> call;
        std::string message;
    };
    const fail_case cases[] = {
        {[&] { return vellix_write(nullptr, o, "t", nullptr, nullptr, nullptr); }, "NULL path argument"},
        {[&] { return vellix_write(in.c_str(), nullptr, "t", nullptr, nullptr, nullptr); }, "NULL path argument"},
        {[&] { return vellix_clear(nullptr, o); }, "NULL path argument"},
        {[&] { return vellix_clear(in.c_str(), nullptr); }, "NULL path argument"},
        {[&] { return vellix_write(in.c_str(), o, nullptr, nullptr, nullptr, nullptr); },
         "no fields to set (all fields are NULL)"},
        {[&] { return vellix_write(missing.c_str(), o, "t", nullptr, nullptr, nullptr); }, "cannot open " + missing},
        {[&] { return vellix_clear(missing.c_str(), o); }, "cannot open " + missing},
        {[&] { return vellix_write(in.c_str(), bad_dir.c_str(), "t", nullptr, nullptr, nullptr); },
         "cannot write " + bad_dir},
        {[&] { return vellix_clear(in.c_str(), bad_dir.c_str()); }, "cannot write " + bad_dir},
    };
    for (const fail_case& c : cases) {
        clear_error();
        EXPECT_EQ(c.call(), 0) << c.message;
        EXPECT_EQ(std::string(vellix_last_error()), c.message);
    }
    EXPECT_FALSE(std::filesystem::exists(out));  // no failed call wrote anything

    pdf_doc doc;
    ASSERT_EQ(doc_load(in.c_str(), &doc, 0), 0);
    EXPECT_EQ(doc_write(doc, nullptr, write_request{}), 0);
    EXPECT_STREQ(vellix_last_error(), "NULL output path");

    // Success empties an earlier message.
    EXPECT_EQ(vellix_write(in.c_str(), out.c_str(), "", nullptr, nullptr, nullptr), 1);
    EXPECT_STREQ(vellix_last_error(), "");
    EXPECT_NE(read_file(out).find("<< /Title () /Producer (P 1.0)"), std::string::npos);
}

// info_collect over one dictionary: what each key carries.
TEST(InfoCollect, CarriedBytesPerValueKind) {
    struct row {
        const char* dict;
        int field;
        const char* carried;  // null: not carried
    };
    const row rows[] = {
        {"<</Title (a\\) (b) c)>>", FIELD_TITLE, "/Title (a\\) (b) c)"},
        {"<</Creator <48656C6C6F>>>", FIELD_CREATOR, "/Creator <48656C6C6F>"},
        {"<</Keywords [(x) (y]) <7A>] /Title (t)>>", FIELD_KEYWORDS, "/Keywords [(x) (y]) <7A>]"},
        {"<</Author /A#20B>>", FIELD_AUTHOR, "/Author /A#20B"},
        {"<</Title 12 0 R /Author (a)>>", FIELD_TITLE, "/Title 12 0 R"},
        {"<</Title 12 /Author (a)>>", FIELD_TITLE, "/Title 12"},
        {"<</Subject -1.5>>", FIELD_SUBJECT, "/Subject -1.5"},
        {"<</Subject true>>", FIELD_SUBJECT, "/Subject true"},
        {"<</Title << /A (>>) /B <3E3E> >> /Author (a)>>", FIELD_TITLE, "/Title << /A (>>) /B <3E3E> >>"},
        {"<</Title\r\n  (spaced)>>", FIELD_TITLE, "/Title\r\n  (spaced)"},
        {"<</Title (unterminated>>", FIELD_TITLE, nullptr},
        {"<</Keywords [(a) (b)>>", FIELD_KEYWORDS, nullptr},
        {"<</Title <414243>>", FIELD_TITLE, "/Title <414243>"},
        {"<</Title <4142", FIELD_TITLE, nullptr},
        {"<</Title +>>", FIELD_TITLE, nullptr},
        {"<</Title %c\n(x)>>", FIELD_TITLE, nullptr},
        {"<</Title \x80x>>", FIELD_TITLE, nullptr},
        {"<</Title />>", FIELD_TITLE, nullptr},
        {"<</Info << /Title (nested) >> >>", FIELD_TITLE, nullptr},
        {"<</Titles (x)>>", FIELD_TITLE, nullptr},
    };
    for (const row& r : rows) {
        const uint8_t* t = reinterpret_cast<const uint8_t*>(r.dict);
        info_pairs pairs;
        info_collect(t, 0, static_cast<pos>(std::strlen(r.dict)), &pairs);
        const info_pair& p = pairs[r.field];
        if (!r.carried) {
            EXPECT_EQ(p.present, 0) << r.dict;
            EXPECT_EQ(p.bytes, nullptr) << r.dict;
            continue;
        }
        ASSERT_EQ(p.present, 1) << r.dict;
        EXPECT_EQ(std::string(p.bytes.get(), p.size), r.carried) << r.dict;
    }
}

TEST(InfoBuild, CallerValuesCarriedValuesAndDates) {
    TempDir dir;
    constexpr mod_date_rule NOW = mod_date_rule::now, CARRY = mod_date_rule::carry;
    struct row {
        const char* info;  // "" for no Info dictionary
        const char* title;
        const char* keywords;
        const char* mod_date;
        mod_date_rule rule;
        const char* expect;  // null: refused with `message`
        const char* message = nullptr;
    };
    const row rows[] = {
        {"", nullptr, nullptr, nullptr, NOW, "<< /CreationDate (D:NNNNNNNNNNNNNNZ) /ModDate (D:NNNNNNNNNNNNNNZ)>>"},
        {"<</ModDate (D:19990101000000Z) /Author (Me) /Foo (bar) /Creator <4142>>>", nullptr, nullptr, nullptr, NOW,
         "<< /Author (Me) /Creator <4142> /CreationDate (D:NNNNNNNNNNNNNNZ) /ModDate (D:NNNNNNNNNNNNNNZ)>>"},
        {"<</Title <FEFF0041> /Keywords [(a) (b)] /CreationDate (D:2001)>>", nullptr, "k\\1\x01\xC3\xA9", nullptr, NOW,
         "<< /Title <FEFF0041> /Keywords (k\\\\1\\001\xC3\xA9) /CreationDate (D:2001) /ModDate (D:NNNNNNNNNNNNNNZ)>>"},
        {"<</Title (Old)>>", "", nullptr, nullptr, NOW,
         "<< /Title () /CreationDate (D:NNNNNNNNNNNNNNZ) /ModDate (D:NNNNNNNNNNNNNNZ)>>"},
        // The carry rule keeps an old ModDate and stamps one only where there is none.
        {"<</ModDate (D:19990101000000Z) /Author (Me)>>", nullptr, nullptr, nullptr, CARRY,
         "<< /Author (Me) /CreationDate (D:NNNNNNNNNNNNNNZ) /ModDate (D:19990101000000Z)>>"},
        {"<</Author (Me)>>", nullptr, nullptr, nullptr, CARRY,
         "<< /Author (Me) /CreationDate (D:NNNNNNNNNNNNNNZ) /ModDate (D:NNNNNNNNNNNNNNZ)>>"},
        // A given date is normalised, under either rule, or refused.
        {"<</ModDate (D:19990101000000Z)>>", nullptr, nullptr, "2024-01-15", NOW,
         "<< /CreationDate (D:NNNNNNNNNNNNNNZ) /ModDate (D:20240115000000Z)>>"},
        {"<</ModDate (D:19990101000000Z)>>", "t", nullptr, "15/01/2024", CARRY, nullptr,
         "bad date for ModDate: 15/01/2024"},
    };
    for (const row& r : rows) {
        PdfBuilder b;
        b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
        b.obj(2, "<< /Type /Pages /Kids [] /Count 0 >>");
        if (*r.info) b.obj(3, r.info);
        b.xref_trailer(*r.info ? "/Root 1 0 R /Info 3 0 R" : "/Root 1 0 R");
        std::string in = b.write(dir.path() / "in.pdf");
        pdf_doc doc;
        ASSERT_EQ(doc_load(in.c_str(), &doc, 0), 0);
        info_values v;
        v.given[FIELD_TITLE] = r.title;
        v.given[FIELD_KEYWORDS] = r.keywords;
        v.given[FIELD_MOD_DATE] = r.mod_date;
        v.mod_date = r.rule;
        clear_error();
        clock_window w;
        w.start();
        cstr d = info_dict_build(doc, v);
        w.stop();
        if (!r.expect) {
            EXPECT_FALSE(d) << r.info;
            EXPECT_STREQ(vellix_last_error(), r.message) << r.info;
            continue;
        }
        ASSERT_TRUE(d) << vellix_last_error();
        EXPECT_EQ(w.mask(d.get()), r.expect) << r.info;
    }
}

// Copies of the sample files that qpdf accepts, written by every writer,
// must be accepted too and keep their page count; pdfinfo reads the new title.
TEST(Writers, SampleCopiesPassExternalChecks) {
    if (!have_tool("qpdf")) GTEST_SKIP() << "qpdf is not installed: external check of written files NOT run";
    std::filesystem::path corpus = VELLIX_CORPUS_DIR;
    if (!std::filesystem::exists(corpus)) GTEST_SKIP() << "no sample corpus at " << corpus;
    bool pdfinfo = have_tool("pdfinfo");
    if (!pdfinfo) std::printf("[ info ] pdfinfo is not installed: read-back of values NOT checked\n");
    TempDir dir;
    std::string out = dir.file("copy.pdf"), log;
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(corpus))
        if (e.path().extension() == ".pdf") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    struct writer {
        const char* name;
        std::function<int(const char*, const char*)> call;
        const char* title;  // title pdfinfo must show, or null
    };
    const writer writers[] = {
        {"vellix_write", [](const char* i, const char* o) { return vellix_write(i, o, "Checked title", nullptr, nullptr, nullptr); }, "Checked title"},
        {"vellix_clear", [](const char* i, const char* o) { return vellix_clear(i, o); }, nullptr},
        {"vellix_write_full", [](const char* i, const char* o) { return vellix_write_full(i, o, "{\"title\":\"Full title\",\"creation_date\":\"2024-01-15\"}"); }, "Full title"},
        {"vellix_write_xmp", [](const char* i, const char* o) { return vellix_write_xmp(i, o, "{\"dc:title\":\"x\",\"dc:subject\":\"a, b\"}"); }, nullptr},
        {"vellix_clear_xmp", [](const char* i, const char* o) { return vellix_clear_xmp(i, o); }, nullptr},
    };
    int checked = 0;
    for (const auto& f : files) {
        std::string in = f.string();
        // Only inputs that qpdf itself accepts and vellix loads.
        if (run_command("timeout 60 qpdf --check '" + in + "' >/dev/null", &log) != 0) continue;
        pdf_doc src;
        int loaded = doc_load(in.c_str(), &src, 0);
        size_t pages = src.pages.size();
        int pages_ok = src.pages_ok;
        bool has_catalog = loaded == 0 && doc_find(src, src.root) != nullptr;
        if (!has_catalog) continue;  // e.g. objects in streams with filters the library does not decode
        bool pdfinfo_reads = pdfinfo && run_command("timeout 30 pdfinfo '" + in + "' >/dev/null", &log) == 0;
        std::string npages;
        run_command("timeout 60 qpdf --show-npages '" + in + "'", &npages);
        for (const writer& w : writers) {
            SCOPED_TRACE(std::string(w.name) + " on " + in);
            ASSERT_EQ(w.call(in.c_str(), out.c_str()), 1) << vellix_last_error();
            EXPECT_EQ(xref_fault(read_file(out)), "");
            EXPECT_EQ(run_command("timeout 60 qpdf --check '" + out + "'", &log), 0) << log;
            run_command("timeout 60 qpdf --show-npages '" + out + "'", &log);
            EXPECT_EQ(log, npages);
            pdf_doc copy;
            ASSERT_EQ(doc_load(out.c_str(), &copy, 0), 0);
            EXPECT_EQ(copy.pages_ok, pages_ok);
            EXPECT_EQ(copy.pages.size(), pages);
            if (pdfinfo_reads && w.title) {
                run_command("timeout 30 pdfinfo '" + out + "'", &log);
                size_t t = log.find("Title:");
                ASSERT_NE(t, std::string::npos) << log;
                size_t v = log.find_first_not_of(' ', t + 6);
                EXPECT_EQ(log.substr(v, log.find('\n', v) - v), w.title) << log;
            }
        }
        ++checked;
    }
    EXPECT_GT(checked, 50) << "too few sample files were usable";
    std::printf("[ info ] %d sample files written by %zu writers and checked with qpdf\n", checked,
                std::size(writers));
}

}  // namespace
