// vellix_traces: metadata planted in many places of one document, then
// updated incrementally, each planted value looked up in the report with
// its kind, owner, revision and reachability; the revisions list; object
// streams, cross-reference streams and files without a section; encrypted
// files; errors; the tool's command; a sweep over the corpus.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "commands.h"
#include "json_value.h"
#include "support/json_check.h"
#include "support/output_check.h"
#include "support/pdf_builder.h"
#include "support/planted_doc.h"
#include "support/process.h"
#include "syntax/text_string.h"
#include "vellix.h"

namespace {

// The report of path with the given options, checked to be valid JSON.
jvalue traces_of(const std::string& path, unsigned options) {
    unsigned before = vellix_set_options(options);
    const char* t = vellix_traces(path.c_str());
    std::string text = t ? t : "";
    std::string err = vellix_last_error();
    vellix_set_options(before);
    jvalue v;
    EXPECT_NE(t, nullptr) << err;
    if (!t) return v;
    EXPECT_EQ(json_fault(text), "") << text;
    EXPECT_TRUE(json_value_parse(text, &v)) << text;
    return v;
}

const jvalue& revisions(const jvalue& r) {
    static const jvalue none;
    const jvalue* v = r.get("revisions");
    return v ? *v : none;
}
const jvalue& items(const jvalue& r) {
    static const jvalue none;
    const jvalue* v = r.get("items");
    return v ? *v : none;
}

// Items of a kind whose values hold key == value.
std::vector<const jvalue*> find_items(const jvalue& r, const std::string& kind, const std::string& key,
                                      const std::string& value) {
    std::vector<const jvalue*> out;
    for (const jvalue& it : items(r).items) {
        const jvalue* values = it.get("values");
        if (it.str("kind") == kind && values && values->str(key) == value) out.push_back(&it);
    }
    return out;
}

bool reachable(const jvalue& it) {
    const jvalue* v = it.get("reachable");
    return v && v->kind == jvalue::bool_v && v->b;
}

// Offsets of every "xref" keyword that starts a line.
std::vector<long> table_offsets(const std::string& bytes) {
    std::vector<long> out;
    for (size_t p = bytes.find("\nxref"); p != std::string::npos; p = bytes.find("\nxref", p + 1))
        out.push_back(static_cast<long>(p + 1));
    return out;
}

struct TracesFixture : ::testing::Test {
    TempDir dir;
    PdfBuilder base = planted();
    std::string original = dir.file("original.pdf");
    std::string updated = dir.file("updated.pdf");

    void SetUp() override {
        write_file(original, base.bytes());
        // Revision 2: a new title; revision 3: a new catalog XMP packet.
        vellix_set_options(VELLIX_INCREMENTAL);
        const std::string mid = dir.file("mid.pdf");
        ASSERT_EQ(vellix_write(original.c_str(), mid.c_str(), "New title", nullptr, nullptr, nullptr), 1)
            << vellix_last_error();
        ASSERT_EQ(vellix_write_xmp(mid.c_str(), updated.c_str(), "{\"dc:title\":\"Updated XMP\"}"), 1)
            << vellix_last_error();
        vellix_set_options(0);
    }
};

TEST_F(TracesFixture, EveryPlantedValueIsNamedWithItsPlace) {
    struct want {
        const char* kind;
        const char* key;
        const char* value;
        const char* owner;
        int revision;
        bool reachable;
    };
    const want cases[] = {
        {"info", "title", "Old title", "trailer", 1, false},  // replaced by the first update
        // The XMP update writes the Info dictionary again, unchanged.
        {"info", "title", "New title", "trailer", 2, false},
        {"info", "title", "New title", "trailer", 3, true},
        {"info", "title", "Orphan", "none", 1, false},  // inside object stream 20
        // The XMP update replaces stream 10 under its own number.
        {"xmp", "dc:title", "Catalog XMP", "catalog", 1, false},
        {"xmp", "dc:title", "Updated XMP", "catalog", 3, true},
        {"xmp", "dc:title", "Page XMP", "page 1", 1, true},
        {"xmp", "dc:title", "Image XMP", "object 13", 1, true},
        {"xmp", "dc:title", "Font XMP", "object 14", 1, true},
        {"xmp", "dc:title", "Stray XMP", "none", 1, false},
        {"piece_info", "PageApp", "D:20230304", "page 1", 1, true},
        // The XMP update adds a copy of the catalog.
        {"piece_info", "CatApp", "D:20240102", "catalog", 1, false},
        {"piece_info", "CatApp", "D:20240102", "catalog", 3, true},
    };
    for (unsigned options : {0u, VELLIX_UNICODE | VELLIX_RESOLVE}) {
        jvalue r = traces_of(updated, options);
        for (const want& w : cases) {
            SCOPED_TRACE(std::string(w.kind) + " " + w.value + " options " + std::to_string(options));
            std::vector<const jvalue*> found;
            for (const jvalue* it : find_items(r, w.kind, w.key, w.value))
                if (it->str("revision") == std::to_string(w.revision)) found.push_back(it);
            ASSERT_EQ(found.size(), 1u);
            EXPECT_EQ(found[0]->str("owner"), w.owner);
            EXPECT_EQ(reachable(*found[0]), w.reachable);
        }
        // Every private data name is listed, with or without a date.
        auto page = find_items(r, "piece_info", "PageApp", "D:20230304");
        ASSERT_EQ(page.size(), 1u);
        EXPECT_NE(page[0]->get("values")->get("Other"), nullptr);
    }
}

TEST_F(TracesFixture, OffsetsAreTheObjectHeadersOrTheirObjectStream) {
    jvalue r = traces_of(original, 0);
    const struct {
        const char* kind;
        const char* key;
        const char* value;
        int object;
        int header_of;
    } cases[] = {
        {"info", "title", "Old title", 4, 4},
        {"info", "title", "Orphan", 5, 20},
        {"xmp", "dc:title", "Page XMP", 12, 12},
        {"piece_info", "PageApp", "D:20230304", 3, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        auto found = find_items(r, c.kind, c.key, c.value);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0]->str("object"), std::to_string(c.object));
        EXPECT_EQ(found[0]->str("offset"), std::to_string(base.offset_of(c.header_of)));
    }
}

TEST_F(TracesFixture, RevisionsKeepTheInfoEachTrailerNamed) {
    const std::string bytes = read_file(updated);
    const std::vector<long> xrefs = table_offsets(bytes);
    ASSERT_EQ(xrefs.size(), 3u);
    for (unsigned options : {0u, VELLIX_UNICODE, VELLIX_UNICODE | VELLIX_RESOLVE}) {
        SCOPED_TRACE(options);
        jvalue r = traces_of(updated, options);
        const jvalue& revs = revisions(r);
        ASSERT_EQ(revs.items.size(), 3u);
        const char* titles[] = {"Old title", "New title", "New title"};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(revs.items[i].str("offset"), std::to_string(xrefs[i])) << i;
            EXPECT_EQ(revs.items[i].str("xref"), "table");
            const jvalue* info = revs.items[i].get("info");
            ASSERT_TRUE(info && info->kind == jvalue::object_v);
            EXPECT_EQ(info->str("title"), titles[i]);
            EXPECT_EQ(info->str("producer"), "Planter 1.0");
        }
        // The newest revision's fields are vellix_read's, read the same way.
        unsigned before = vellix_set_options(options);
        const char* read = vellix_read(updated.c_str());
        ASSERT_NE(read, nullptr);
        const std::string read_text = read;
        vellix_set_options(before);
        const jvalue* last = revs.items[2].get("info");
        for (const char* key : {"title", "author", "subject", "keywords", "creator", "producer", "creation_date",
                                "mod_date"})
            EXPECT_EQ(last->str(key), json_string_member(read_text, key)) << key;
        if (options & VELLIX_UNICODE) {
            EXPECT_EQ(last->str("author"), "\xC3\x84" "da");
        }
    }
}

TEST_F(TracesFixture, EachChangedIdentifierIsListed) {
    jvalue r = traces_of(updated, 0);
    std::vector<const jvalue*> ids;
    for (const jvalue& it : items(r).items)
        if (it.str("kind") == "id") ids.push_back(&it);
    // Each update keeps the first element and writes a new second one.
    ASSERT_EQ(ids.size(), 3u);
    for (size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(ids[i]->str("revision"), std::to_string(i + 1));
        EXPECT_EQ(ids[i]->str("owner"), "trailer");
        EXPECT_EQ(ids[i]->get("values")->str("first"), ID_A);
    }
    EXPECT_EQ(ids[0]->get("values")->str("second"), ID_A);
    EXPECT_NE(ids[1]->get("values")->str("second"), ID_A);
    EXPECT_NE(ids[2]->get("values")->str("second"), ids[1]->get("values")->str("second"));
}

TEST(Traces, SectionKindsAndFilesWithoutOne) {
    TempDir dir;
    // A cross-reference stream, then a table appended after it.
    PdfBuilder s("1.5");
    s.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    s.obj(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    s.obj(3, "<< /Title (In stream) >>");
    s.xref_stream(4, "/Type /XRef /Size 5 /Root 1 0 R /Info 3 0 R");
    const long stream_at = s.offset_of(4);
    s.obj(5, "<< /Title (In table) >>");
    const long table_at = s.size();
    s.xref_trailer("/Size 6 /Root 1 0 R /Info 5 0 R");
    const std::string mixed = s.write(dir.path() / "mixed.pdf");

    // No usable startxref: the trailer alone.
    PdfBuilder n("1.4");
    n.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    n.obj(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    n.obj(3, "<< /Title (Bare) >>");
    const long trailer_at = n.size();
    n.raw("trailer\n<< /Root 1 0 R /Info 3 0 R >>\n%%EOF\n");
    const std::string bare = n.write(dir.path() / "bare.pdf");

    const struct {
        std::string path;
        std::vector<std::pair<long, std::string>> revs;
        std::vector<std::string> titles;
    } cases[] = {
        {mixed, {{stream_at, "stream"}, {table_at, "table"}}, {"In stream", "In table"}},
        {bare, {{trailer_at, "none"}}, {"Bare"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        jvalue r = traces_of(c.path, 0);
        const jvalue& revs = revisions(r);
        ASSERT_EQ(revs.items.size(), c.revs.size());
        for (size_t i = 0; i < c.revs.size(); ++i) {
            EXPECT_EQ(revs.items[i].str("offset"), std::to_string(c.revs[i].first));
            EXPECT_EQ(revs.items[i].str("xref"), c.revs[i].second);
            const jvalue* info = revs.items[i].get("info");
            ASSERT_TRUE(info && info->kind == jvalue::object_v);
            EXPECT_EQ(info->str("title"), c.titles[i]);
            // The revision's own Info object is an item of that revision.
            auto found = find_items(r, "info", "title", c.titles[i]);
            ASSERT_EQ(found.size(), 1u);
            EXPECT_EQ(found[0]->str("revision"), std::to_string(i + 1));
            EXPECT_EQ(found[0]->str("owner"), "trailer");
        }
    }
}

TEST(Traces, OutlineItemsAndTypedDictionariesAreNoInfo) {
    TempDir dir;
    PdfBuilder b("1.4");
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 3 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    b.obj(3, "<< /Type /Outlines /First 4 0 R /Last 4 0 R /Count 1 >>");
    b.obj(4, "<< /Title (Chapter) /Parent 3 0 R >>");
    b.obj(5, "<< /Type /Annot /Subtype /Text /Author (Someone) >>");
    b.obj(6, "<< /Author (Loose) >>");
    b.xref_trailer("/Size 7 /Root 1 0 R");
    const std::string path = b.write(dir.path() / "a.pdf");
    jvalue r = traces_of(path, 0);
    std::vector<std::string> infos;
    for (const jvalue& it : items(r).items)
        if (it.str("kind") == "info") infos.push_back(it.str("object"));
    EXPECT_EQ(infos, std::vector<std::string>{"6"});
    const jvalue* info = revisions(r).items.at(0).get("info");
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->kind, jvalue::null_v);
}

std::string corpus(const char* name) { return std::string(VELLIX_CORPUS_DIR) + "/" + name; }

// An Info dictionary held in an object stream, then replaced by an update:
// the old copy still lies in the stream and is listed, and revision 1 shows
// the title it had.
TEST(Traces, CopiesLeftInReplacedObjectStreamsAreListed) {
    if (!have_tool("qpdf")) GTEST_SKIP() << "qpdf not installed";
    TempDir dir;
    const std::string plain = dir.file("plain.pdf"), packed = dir.file("packed.pdf"), updated = dir.file("updated.pdf");
    write_file(plain, minimal_pdf(3, "<< /Title (Packed title) /Author (Packed author) >>"));
    std::string msg;
    ASSERT_EQ(run_command("qpdf --object-streams=generate '" + plain + "' '" + packed + "'", &msg), 0) << msg;
    ASSERT_NE(read_file(packed).find("/ObjStm"), std::string::npos);
    vellix_set_options(VELLIX_INCREMENTAL);
    ASSERT_EQ(vellix_write(packed.c_str(), updated.c_str(), "New title", nullptr, nullptr, nullptr), 1)
        << vellix_last_error();
    vellix_set_options(0);
    jvalue r = traces_of(updated, 0);
    ASSERT_EQ(revisions(r).items.size(), 2u);
    EXPECT_EQ(revisions(r).items[0].get("info")->str("title"), "Packed title");
    EXPECT_EQ(revisions(r).items[1].get("info")->str("title"), "New title");
    auto old = find_items(r, "info", "title", "Packed title");
    ASSERT_EQ(old.size(), 1u);
    EXPECT_EQ(old[0]->str("revision"), "1");
    EXPECT_FALSE(reachable(*old[0]));
    // Its offset is the header of the object stream that holds it.
    const std::string bytes = read_file(updated);
    const size_t at = static_cast<size_t>(std::stol(old[0]->str("offset")));
    EXPECT_NE(bytes.substr(at, bytes.find("endobj", at) - at).find("/ObjStm"), std::string::npos);
    auto cur = find_items(r, "info", "title", "New title");
    ASSERT_EQ(cur.size(), 1u);
    EXPECT_TRUE(reachable(*cur[0]));
}

TEST(Traces, EncryptedFilesGiveRevisionsAndIdentifiersOnly) {
    int seen = 0;
    for (const char* name : {"V4.pdf", "V4-aes.pdf", "c-r6-in.pdf"}) {
        const std::string path = corpus(name);
        if (!std::filesystem::exists(path)) continue;
        ++seen;
        SCOPED_TRACE(name);
        EXPECT_EQ(vellix_read(path.c_str()), nullptr);  // encrypted: the other reports refuse it
        jvalue r = traces_of(path, VELLIX_UNICODE);
        ASSERT_FALSE(revisions(r).items.empty());
        for (const jvalue& rev : revisions(r).items) EXPECT_EQ(rev.get("info")->kind, jvalue::null_v);
        ASSERT_FALSE(items(r).items.empty());
        for (const jvalue& it : items(r).items) {
            EXPECT_EQ(it.str("kind"), "id");
            EXPECT_EQ(it.get("values")->str("first").size(), 32u);
        }
    }
    if (!seen) GTEST_SKIP() << "no encrypted corpus files in " << VELLIX_CORPUS_DIR;
}

TEST(Traces, FailuresGiveNullAndTheLoadersMessage) {
    TempDir dir;
    const std::string junk = dir.file("junk.pdf");
    write_file(junk, "no objects here");
    for (const std::string& path : {dir.file("missing.pdf"), junk}) {
        ASSERT_EQ(vellix_read(path.c_str()), nullptr);
        const std::string want = vellix_last_error();
        EXPECT_EQ(vellix_traces(path.c_str()), nullptr);
        EXPECT_EQ(vellix_last_error(), want);
        EXPECT_NE(want, "");
    }
    EXPECT_EQ(vellix_traces(nullptr), nullptr);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");
}

struct run_result {
    int status;
    std::string out;
    std::string err;
};

run_result run_tool(const std::vector<std::string>& args) {
    std::vector<std::string> full = {VELLIX_CLI_PATH};
    full.insert(full.end(), args.begin(), args.end());
    process_result p = run_process(full, process_setup{});
    return {p.status, p.out, p.err};
}

TEST_F(TracesFixture, ToolPrintsTheTextOrATimeline) {
    unsigned before = vellix_set_options(TOOL_OPTIONS);
    const std::string want = vellix_traces(updated.c_str());
    vellix_set_options(before);
    run_result plain = run_tool({"traces", updated});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out, want + "\n");

    run_result pretty = run_tool({"traces", "--pretty", updated});
    EXPECT_EQ(pretty.status, 0) << pretty.err;
    const std::vector<long> xrefs = table_offsets(read_file(updated));
    ASSERT_EQ(xrefs.size(), 3u);
    const std::string lines[] = {
        "revision 1 (offset " + std::to_string(xrefs[0]) + ", table): title \"Old title\", author \"\xC3\x84" "da\", producer \"Planter 1.0\"\n",
        "revision 2 (offset " + std::to_string(xrefs[1]) + ", table): title \"Old title\" -> \"New title\"",
        "revision 3 (offset " + std::to_string(xrefs[2]) + ", table): Info unchanged\n",
        "  xmp object 12, revision 1, owner page 1, offset " + std::to_string(base.offset_of(12)) +
            ", reachable: dc:title \"Page XMP\"\n",
        ", unreachable: dc:title \"Catalog XMP\"",
    };
    for (const std::string& l : lines) EXPECT_NE(pretty.out.find(l), std::string::npos) << l << "\n" << pretty.out;

    run_result missing = run_tool({"traces", dir.file("missing.pdf")});
    EXPECT_NE(missing.status, 0);
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(missing.err.find("missing.pdf"), std::string::npos) << missing.err;
}

// Every corpus file: NULL with a message, or valid JSON (valid UTF-8 under
// VELLIX_UNICODE) whose revisions and items have their members.
TEST(Traces, CorpusSweepGivesValidReports) {
    if (!std::filesystem::is_directory(VELLIX_CORPUS_DIR)) GTEST_SKIP() << "no corpus at " << VELLIX_CORPUS_DIR;
    int files = 0, loaded = 0;
    for (const auto& entry : std::filesystem::directory_iterator(VELLIX_CORPUS_DIR)) {
        if (entry.path().extension() != ".pdf") continue;
        ++files;
        const std::string path = entry.path().string();
        for (unsigned options : {0u, VELLIX_UNICODE | VELLIX_RESOLVE}) {
            vellix_set_options(options);
            const char* t = vellix_traces(path.c_str());
            const std::string err = vellix_last_error();
            vellix_set_options(0);
            if (!t) {
                EXPECT_NE(err, "") << path;
                continue;
            }
            loaded += options == 0;
            const std::string text = t;
            ASSERT_EQ(json_fault(text), "") << path << " options " << options;
            if (options & VELLIX_UNICODE) {
                ASSERT_TRUE(utf8_valid(text)) << path;
            }
            jvalue r;
            ASSERT_TRUE(json_value_parse(text, &r)) << path;
            for (const jvalue& it : items(r).items) {
                EXPECT_NE(it.get("values"), nullptr) << path;
                EXPECT_LE(std::stoul(it.str("revision")), revisions(r).items.size()) << path;
            }
        }
    }
    EXPECT_GT(loaded, files / 2);
}

}  // namespace
