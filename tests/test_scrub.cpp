// vellix_scrub: a document with metadata planted everywhere and updated
// twice, scrubbed with and without kept object streams, then searched for
// every planted value (streams inflated by qpdf) and read with vellix_traces;
// the entry stripper on its own; what is kept (pages, resources, content,
// clean object streams, strings that only look like keys); refusals (signed
// documents, a trace the scrub cannot take out) leaving no file; the tool.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "json_value.h"
#include "support/output_check.h"
#include "support/pdf_builder.h"
#include "support/planted_doc.h"
#include "support/process.h"
#include "vellix.h"
#include "write/dict_strip.h"

namespace fs = std::filesystem;

namespace {

// The planted values, as they would appear in a file's bytes or in its
// streams once inflated.
const char* const PLANTED[] = {
    "Old title",  "New title", "Orphan",     "Ghost writer", "Planter",   "Catalog XMP", "Updated XMP",
    "Page XMP",   "Image XMP", "Font XMP",   "Stray XMP",    "CatApp",    "PageApp",     "D:20240102",
    "D:20230304", "(private)", "FEFF00C4",   "feff00c4",     ID_A,
};

// The planted values found in path: its bytes with every stream inflated and
// object streams expanded (qpdf's QDF form), and its raw bytes.
std::vector<std::string> planted_in(const std::string& path) {
    std::string qdf;
    EXPECT_EQ(run_command("qpdf --qdf --object-streams=disable '" + path + "' -", &qdf), 0) << qdf;
    const std::string text = qdf + read_file(path);
    std::vector<std::string> found;
    for (const char* v : PLANTED)
        if (text.find(v) != std::string::npos) found.push_back(v);
    return found;
}

jvalue traces_of(const std::string& path) {
    const char* t = vellix_traces(path.c_str());
    jvalue v;
    EXPECT_NE(t, nullptr) << vellix_last_error();
    if (t) EXPECT_TRUE(json_value_parse(t, &v)) << t;
    return v;
}

std::string pages_of(const std::string& path) {
    std::string n;
    run_command("qpdf --show-npages '" + path + "'", &n);
    return n;
}

struct ScrubFixture : ::testing::Test {
    TempDir dir;
    std::string updated = dir.file("updated.pdf");

    void SetUp() override {
        const std::string original = dir.file("original.pdf");
        write_file(original, planted().bytes());
        // Revision 2: a new title; revision 3: a new catalog XMP packet.
        vellix_set_options(VELLIX_INCREMENTAL);
        const std::string mid = dir.file("mid.pdf");
        ASSERT_EQ(vellix_write(original.c_str(), mid.c_str(), "New title", nullptr, nullptr, nullptr), 1)
            << vellix_last_error();
        ASSERT_EQ(vellix_write_xmp(mid.c_str(), updated.c_str(), "{\"dc:title\":\"Updated XMP\"}"), 1)
            << vellix_last_error();
        vellix_set_options(0);
        if (!have_tool("qpdf")) GTEST_SKIP() << "qpdf not installed";
    }
};

TEST_F(ScrubFixture, NoPlantedValueSurvivesAndOnlyANewIdentifierIsTraced) {
    ASSERT_FALSE(planted_in(updated).empty());  // the search finds them before
    for (unsigned options : {0u, VELLIX_KEEP_STREAMS | VELLIX_KEEP_SIGNATURES}) {
        SCOPED_TRACE("options " + std::to_string(options));
        vellix_set_options(options);
        const std::string out = dir.file("scrubbed-" + std::to_string(options) + ".pdf");
        ASSERT_EQ(vellix_scrub(updated.c_str(), out.c_str()), 1) << vellix_last_error();
        EXPECT_STREQ(vellix_last_error(), "");
        EXPECT_EQ(planted_in(out), std::vector<std::string>{});
        jvalue t = traces_of(out);
        const jvalue* revs = t.get("revisions");
        const jvalue* items = t.get("items");
        ASSERT_TRUE(revs && items);
        ASSERT_EQ(revs->items.size(), 1u);
        EXPECT_EQ(revs->items[0].get("info")->kind, jvalue::null_v);
        ASSERT_EQ(items->items.size(), 1u);
        EXPECT_EQ(items->items[0].str("kind"), "id");
        const std::string first = items->items[0].get("values")->str("first");
        EXPECT_EQ(first.size(), 32u);
        EXPECT_NE(first, items->items[0].get("values")->str("second"));
        std::string check;
        EXPECT_EQ(run_command("qpdf --check '" + out + "'", &check), 0) << check;
        EXPECT_EQ(pages_of(out), pages_of(updated));
        // The page keeps its resources, the image its data, the font its name.
        const std::string body = read_file(out);
        for (const char* kept : {"/Im1 13 0 R", "/F1 14 0 R", "/Subtype /Image", "/BaseFont /Helvetica"})
            EXPECT_NE(body.find(kept), std::string::npos) << kept;
        vellix_set_options(0);
    }
}

TEST_F(ScrubFixture, EachScrubGetsItsOwnIdentifierAndInPlaceWorks) {
    const std::string a = dir.file("a.pdf"), b = dir.file("b.pdf");
    ASSERT_EQ(vellix_scrub(updated.c_str(), a.c_str()), 1);
    ASSERT_EQ(vellix_scrub(updated.c_str(), b.c_str()), 1);
    jvalue ta = traces_of(a), tb = traces_of(b);
    EXPECT_NE(ta.get("items")->items[0].get("values")->str("first"),
              tb.get("items")->items[0].get("values")->str("first"));
    ASSERT_EQ(vellix_scrub(updated.c_str(), updated.c_str()), 1) << vellix_last_error();
    EXPECT_EQ(planted_in(updated), std::vector<std::string>{});
    // Scrubbing a scrubbed file changes nothing but the identifier.
    ASSERT_EQ(vellix_scrub(updated.c_str(), a.c_str()), 1) << vellix_last_error();
    EXPECT_EQ(traces_of(a).get("items")->items.size(), 1u);
}

TEST(ScrubStrip, EntriesGoFromEveryDictionaryAndNothingElseChanges) {
    const strip_keys meta{{"Metadata", "PieceInfo"}, {}};
    const strip_keys info{{"Metadata"}, {"Title", "Author"}};
    struct row {
        const char* in;
        const strip_keys* keys;
        bool changed;
        const char* out;
    } cases[] = {
        {"<< /Type /Page /Metadata 5 0 R /Contents 6 0 R >>", &meta, true, "<< /Type /Page  /Contents 6 0 R >>"},
        {"<</A 1/Metadata 5 0 R/B 2>>", &meta, true, "<</A 1/B 2>>"},
        // Nested dictionaries and arrays, a direct value, an escaped key.
        {"<< /R << /X [ << /Metadata << /N 1 >> /K 2 >> ] >> /Meta#64ata 3 0 R >>", &meta, true,
         "<< /R << /X [ <<  /K 2 >> ] >>  >>"},
        {"<< /PieceInfo << /App << /Private 9 0 R >> >> /Rotate 90 >>", &meta, true, "<<  /Rotate 90 >>"},
        // A longer name, a key inside a string, comments: left as they are.
        {"<< /Metadatas 1 /T (/Metadata 5 0 R) % /Metadata\n>>", &meta, false, ""},
        // Outer keys only at the outer level.
        {"<< /Title (t) /Author (a) /K << /Title (kept) >> >>", &info, true, "<<   /K << /Title (kept) >> >>"},
        // Values that cannot be measured: the text is kept.
        {"<< /Metadata 5 0 R /Bad ) >>", &meta, false, ""},
        {"<< /Metadata 5 0 R", &meta, false, ""},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.in);
        const auto* t = reinterpret_cast<const uint8_t*>(c.in);
        std::string out;
        ASSERT_EQ(strip_entries(t, 0, static_cast<pos>(std::strlen(c.in)), *c.keys, &out), c.changed) << out;
        if (c.changed) EXPECT_EQ(out, c.out);
    }
}

// Catalog 1, pages 2, page 3 with content 4; object stream 10 holds the page
// tree's font (5) and nothing else; object stream 11 holds the Info
// dictionary (6) and a thread's Info-like dictionary (7) the catalog reaches.
PdfBuilder with_object_streams() {
    PdfBuilder b("1.5");
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /Threads [8 0 R] >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R "
             "/Resources << /Font << /F1 5 0 R >> >> >>");
    b.stream(4, "", "BT /F1 12 Tf 20 100 Td (Kept text) Tj ET");
    b.obj(8, "<< /Type /Thread /I 7 0 R >>");
    b.object_stream(10, {{5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"}});
    b.object_stream(11, {{6, "<< /Title (Old title) /Producer (Planter) >>"},
                         {7, "<< /Title (Thread title) /Author (Thread author) /Extra 1 >>"}});
    b.xref_stream(12, "/Size 13 /Root 1 0 R /Info 6 0 R");
    return b;
}

TEST(Scrub, CleanObjectStreamsAreKeptAndReachedInfoDictionariesEmptied) {
    if (!have_tool("qpdf")) GTEST_SKIP() << "qpdf not installed";
    TempDir dir;
    const PdfBuilder b = with_object_streams();
    const std::string in = b.write(dir.file("in.pdf")), out = dir.file("out.pdf");
    vellix_set_options(VELLIX_KEEP_STREAMS);
    ASSERT_EQ(vellix_scrub(in.c_str(), out.c_str()), 1) << vellix_last_error();
    vellix_set_options(0);
    const std::string got = read_file(out);
    // Object stream 10 copied as it is: its data, not a plain object 5.
    EXPECT_NE(got.find("5 0 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>\n"), std::string::npos);
    EXPECT_EQ(got.find("5 0 obj"), std::string::npos);
    for (const char* gone : {"Old title", "Planter", "Thread title", "Thread author"})
        EXPECT_EQ(got.find(gone), std::string::npos) << gone;
    // The thread keeps its dictionary, without the Info keys.
    EXPECT_NE(got.find("/Extra 1"), std::string::npos);
    EXPECT_NE(got.find("(Kept text)"), std::string::npos);
    std::string check;
    EXPECT_EQ(run_command("qpdf --check '" + out + "'", &check), 0) << check;
    EXPECT_EQ(traces_of(out).get("items")->items.size(), 1u);
}

TEST(Scrub, RefusalsWriteNothing) {
    TempDir dir;
    // A signed document under KEEP_SIGNATURES, with the writers' message.
    const std::string signed_pdf = std::string(VELLIX_SOURCE_DIR) + "/tests/signed/self-signed.pdf";
    const std::string out = dir.file("out.pdf");
    vellix_set_options(VELLIX_KEEP_SIGNATURES);
    EXPECT_EQ(vellix_scrub(signed_pdf.c_str(), out.c_str()), 0);
    EXPECT_EQ(std::string(vellix_last_error()),
              "the document is signed; rewriting it would invalidate its signatures: " + signed_pdf);
    vellix_set_options(0);
    EXPECT_FALSE(fs::exists(out));

    // An Info dictionary the scrub cannot rewrite (a value it cannot measure
    // follows the keys) is found in the copy: the copy is not kept and an
    // existing file at the output path stays as it was.
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /Threads [4 0 R] >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>");
    b.obj(4, "<< /Type /Thread /I 5 0 R >>");
    b.obj(5, "<< /Author (Stuck) /Broken ) >>");
    b.xref_trailer("/Size 6 /Root 1 0 R");
    const std::string in = b.write(dir.file("stuck.pdf"));
    write_file(out, "old");
    EXPECT_EQ(vellix_scrub(in.c_str(), out.c_str()), 0);
    EXPECT_EQ(std::string(vellix_last_error()),
              "cannot scrub into " + out + ": the copy would still hold metadata (an Info dictionary in object 5); "
              "nothing was written");
    EXPECT_EQ(read_file(out), "old");
    size_t entries = 0;
    for (const auto& e : fs::directory_iterator(dir.path())) entries += e.path().filename().string()[0] == '.';
    EXPECT_EQ(entries, 0u) << "a temporary file was left";

    // Null arguments and files that do not load.
    EXPECT_EQ(vellix_scrub(nullptr, out.c_str()), 0);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");
    EXPECT_EQ(vellix_scrub(dir.file("missing.pdf").c_str(), out.c_str()), 0);
    EXPECT_STRNE(vellix_last_error(), "");
}

TEST(Scrub, ToolWritesACopyOrReplacesTheFile) {
    if (!have_tool("qpdf")) GTEST_SKIP() << "qpdf not installed";
    TempDir dir;
    const std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    write_file(in, planted().bytes());
    process_result r = run_process({VELLIX_CLI_PATH, "scrub", in, "-o", out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(planted_in(out), std::vector<std::string>{});
    r = run_process({VELLIX_CLI_PATH, "scrub", in, "--in-place"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(planted_in(in), std::vector<std::string>{});
    r = run_process({VELLIX_CLI_PATH, "scrub", in});
    EXPECT_EQ(r.status, 2);
    // Signed documents need --force.
    const std::string signed_pdf = std::string(VELLIX_SOURCE_DIR) + "/tests/signed/self-signed.pdf";
    r = run_process({VELLIX_CLI_PATH, "scrub", signed_pdf, "-o", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
    r = run_process({VELLIX_CLI_PATH, "scrub", signed_pdf, "-o", out, "--force"});
    EXPECT_EQ(r.status, 0) << r.err;
}

}  // namespace
