// Object streams decoded on demand against the full expansion while loading
// (objstm_full_expansion, a test aid): the same object table, and the same
// output from every export, over the public corpus, the fuzz corpora and
// generated files that reach the rules where the rows depend on the decoded
// text (decode failures, capacities, the object size limit, /First).
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "../fuzz/properties.h"
#include "load/doc.h"
#include "support/pdf_builder.h"
#include "vellix.h"

// The writers stamp dates from the clock: held fixed, so that the two passes
// over a file write the same bytes.
extern "C" time_t time(time_t* t) {
    const time_t v = 1748779200;
    if (t) *t = v;
    return v;
}

namespace fs = std::filesystem;

namespace {

using namespace fuzzprop;

std::string table_in(const std::string& in, const fs::path&) { return table_of(in); }

std::vector<fs::path> files_under(const fs::path& dir) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir, ec))
        if (e.is_regular_file() && e.path().filename().string().rfind("LICENSE", 0) != 0) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Checks the table and every export for each file; returns how many differ.
int check_files(const std::vector<fs::path>& files) {
    TempDir work;
    int differ = 0;
    for (const fs::path& f : files) {
        both t = in_both_ways(f.string(), work.path(), table_in);
        if (!t.same()) ++differ;
        EXPECT_EQ(t.full, t.lazy) << "table of " << f;
        EXPECT_EQ(t.full, t.kept) << "table of " << f;
        EXPECT_EQ(t.full, t.two) << "table of " << f;
        // The exports with the byte rules and with the standard reading,
        // which follows references into object streams the byte rules never reach.
        for (unsigned options : {0u, VELLIX_UNICODE | VELLIX_RESOLVE}) {
            vellix_set_options(options);
            both o = in_both_ways(f.string(), work.path(), all_outputs);
            vellix_set_options(0);
            if (!o.same()) ++differ;
            EXPECT_EQ(o.full, o.lazy) << "outputs of " << f << " with options " << options;
            EXPECT_EQ(o.full, o.kept) << "outputs of " << f << " with options " << options;
            EXPECT_EQ(o.full, o.two) << "outputs of " << f << " with options " << options;
        }
    }
    return differ;
}

TEST(LazyObjStm, PublicCorpusSameAsFullExpansion) {
    std::vector<fs::path> files;
    for (const fs::path& f : files_under(VELLIX_CORPUS_DIR))
        if (f.extension() == ".pdf") files.push_back(f);
    if (files.empty()) GTEST_SKIP() << "no corpus at " << VELLIX_CORPUS_DIR;
    EXPECT_EQ(check_files(files), 0);
    // The batch read over the whole directory as well.
    const char* full_json = nullptr;
    const char* lazy_json = nullptr;
    objstm_full_expansion(true);
    int rf = vellix_batch_read(VELLIX_CORPUS_DIR, &full_json);
    std::string full = rf ? full_json : "";
    objstm_full_expansion(false);
    objstm_keep_budget(0);
    int rl = vellix_batch_read(VELLIX_CORPUS_DIR, &lazy_json);
    objstm_keep_budget(OBJSTM_KEEP_DEFAULT);
    EXPECT_EQ(rf, rl);
    EXPECT_EQ(full, rl ? std::string(lazy_json) : "");
}

TEST(LazyObjStm, FuzzCorporaSameAsFullExpansion) {
    std::vector<fs::path> files;
    for (const char* d : {"fuzz/seeds/text_exports", "fuzz/seeds/writers", "tests/fuzz_regressions"})
        for (const fs::path& f : files_under(fs::path(VELLIX_SOURCE_DIR) / d)) files.push_back(f);
    ASSERT_GT(files.size(), 50u);
    EXPECT_EQ(check_files(files), 0);
}

// ---- generated files ----

using objlist = std::vector<std::pair<int, std::string>>;

// Header and body of an object stream, and its /First.
std::string stm_data(const objlist& objs, int* first) {
    std::string header, body;
    for (const auto& [num, text] : objs) {
        header += std::to_string(num) + " " + std::to_string(body.size()) + " ";
        body += text;
    }
    *first = static_cast<int>(header.size());
    return header + body;
}

std::string stm_dict(int n, int first, bool flate = true) {
    return "/Type /ObjStm /N " + std::to_string(n) + " /First " + std::to_string(first) +
           (flate ? " /Filter /FlateDecode" : "");
}

// Catalog 1 (with outline 20 and labels 21 when present), pages 2 and page 3
// held in object streams along with the given objects; Info 4.
struct gen_file {
    PdfBuilder b{"1.5"};
    void flate_stream(int num, const objlist& objs, const std::string& z_override = "", int n_override = -1) {
        int first = 0;
        std::string data = stm_data(objs, &first);
        std::string z = z_override.empty() ? zlib_compress(data, 9, 0) : z_override;
        b.stream(num, stm_dict(n_override >= 0 ? n_override : static_cast<int>(objs.size()), first), z);
    }
};

const std::string CATALOG = "<< /Type /Catalog /Pages 2 0 R /Outlines 20 0 R /PageLabels 21 0 R >>";
const std::string PAGES = "<< /Type /Pages /Kids [3 0 R] /Count 1 >>";
const std::string PAGE = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 6 0 R >> >> >>";
const std::string INFO = "<< /Title (In a stream) /Producer (gen) >>";
const std::string FONT = "<< /Type /Font /Subtype /Type1 /BaseFont /ABCDEF+Helv >>";
const std::string OUTLINES = "<< /Type /Outlines /First 22 0 R /Last 22 0 R /Count 1 >>";
const std::string ITEM = "<< /Title (One) /Parent 20 0 R /Dest [3 0 R /Fit] >>";
const std::string LABELS = "<< /Nums [0 << /S /r /P (p-) >>] >>";

const objlist BASIC = {{1, CATALOG}, {2, PAGES}, {3, PAGE}, {4, INFO}, {6, FONT}, {20, OUTLINES}, {21, LABELS}, {22, ITEM}};

std::string zlib_of(const objlist& objs) {
    int first = 0;
    return zlib_compress(stm_data(objs, &first), 9, 0);
}

// A list of generated documents, each reaching a rule of the expansion.
std::vector<std::pair<std::string, std::string>> generated() {
    std::vector<std::pair<std::string, std::string>> out;
    auto add = [&](const std::string& name, gen_file& g, const std::string& trailer = "/Size 40 /Root 1 0 R /Info 4 0 R") {
        g.b.xref_trailer(trailer);
        out.emplace_back(name, g.b.bytes());
    };
    {
        gen_file g;
        g.flate_stream(10, BASIC);
        add("basic", g);
    }
    {
        // Each object in a stream of its own, the Info twice: the later stream wins.
        gen_file g;
        int k = 0;
        for (const auto& o : BASIC) g.flate_stream(30 + k++, {o});
        g.flate_stream(39, {{4, "<< /Title (Later) >>"}});
        add("one per stream, a number twice", g);
    }
    {
        // A later stream holding the Info is cut short: it yields no rows, so
        // the earlier Info stays.
        gen_file g;
        g.flate_stream(10, BASIC);
        std::string z = zlib_of({{4, "<< /Title (Cut) >>"}, {7, "<< /X 1 >>"}});
        g.flate_stream(11, {{4, "<< /Title (Cut) >>"}, {7, "<< /X 1 >>"}}, z.substr(0, z.size() - 6));
        add("stream cut short", g);
    }
    {
        // Decoding stops at invalid data (a stored block, then a block of
        // the reserved type): the decoded text ends 10 bytes into object 7,
        // which keeps those bytes; the Info row is whole.
        gen_file g;
        g.flate_stream(10, BASIC);
        objlist late = {{4, "<< /Title (Late) >>"}, {7, "<< /Y " + std::string(200, '7') + " >>"}};
        int first = 0;
        std::string data = stm_data(late, &first).substr(0, first + 19 + 10);
        std::string z = "\x78\x01";
        z += '\0';  // stored, not final
        z += static_cast<char>(data.size() & 0xFF), z += static_cast<char>(data.size() >> 8);
        z += static_cast<char>(~data.size() & 0xFF), z += static_cast<char>((~data.size() >> 8) & 0xFF);
        z += data;
        z += '\x07';  // final, type 3
        g.b.stream(11, stm_dict(2, first), z);
        add("decoding stops early", g);
    }
    {
        // An object beyond the 1 MiB size limit, beside small ones.
        gen_file g;
        objlist objs = BASIC;
        objs.insert(objs.begin() + 4, {8, "<< /Big (" + std::string(1100000, 'a') + ") >>"});
        g.flate_stream(10, objs);
        add("object over the size limit", g);
    }
    {
        // Highly compressible: decoded only with a larger capacity, and one
        // beyond the small-stream scratch.
        for (size_t pad : {size_t{40000}, size_t{900000}}) {
            gen_file g;
            objlist objs = BASIC;
            objs.push_back({9, "<< /Pad (" + std::string(pad, ' ') + ") >>"});
            g.flate_stream(10, objs);
            add("compressible " + std::to_string(pad), g);
        }
    }
    {
        // Incompressible filler: more than 4 MiB at the second capacity, so
        // decoded through the measuring path.
        std::string noise;
        uint32_t x = 99;
        for (int i = 0; i < 700000; ++i) {
            x = x * 1103515245u + 12345u;
            char c = static_cast<char>('!' + (x >> 16) % 90);
            noise += c == '(' || c == ')' || c == '\\' ? 'q' : c;
        }
        gen_file g;
        objlist objs = BASIC;
        objs.push_back({9, "<< /Noise (" + noise + ") >>"});
        g.flate_stream(10, objs);
        add("large incompressible stream", g);
    }
    {
        // /First beyond the decoded data; a header with a negative offset;
        // /N larger than the header: no rows from those streams.
        gen_file g;
        g.flate_stream(10, BASIC);
        int first = 0;
        std::string data = stm_data({{4, "<< /Title (No) >>"}}, &first);
        g.b.stream(11, stm_dict(1, 5000), zlib_compress(data, 6, 0));
        g.b.stream(12, stm_dict(1, first), zlib_compress("4 -3 " + data.substr(first), 6, 0));
        g.b.stream(13, stm_dict(5, first), zlib_compress(data, 6, 0));
        add("first, offsets and counts refused", g);
    }
    {
        // A stored object stream beside a Flate one, and a direct object that
        // overrides a compressed row.
        gen_file g;
        g.flate_stream(10, BASIC);
        int first = 0;
        std::string data = stm_data({{7, "<< /Stored true >>"}, {6, "<< /Type /Font /Subtype /TrueType /BaseFont /Arial >>"}}, &first);
        g.b.stream(11, stm_dict(2, first, false), data);
        g.b.obj(4, "<< /Title (Direct) >>");
        add("stored stream and direct override", g);
    }
    {
        // No /Root in the trailer: the catalog is found by its /Catalog key,
        // inside a stream after one without it.
        gen_file g;
        g.flate_stream(10, {{6, FONT}, {4, INFO}});
        g.flate_stream(11, {{2, PAGES}, {3, PAGE}, {1, CATALOG}, {20, OUTLINES}, {21, LABELS}, {22, ITEM}});
        add("catalog by key", g, "/Size 40");
    }
    {
        // Every kind of stream in one file, so that decoding on two threads
        // meets them between small ones: one decoded only with a larger
        // capacity, a stored one, one beyond the small-stream scratch, one
        // cut short and one refused; a later stream overrides the Info.
        std::string noise;
        uint32_t x = 7;
        for (int i = 0; i < 700000; ++i) {
            x = x * 1103515245u + 12345u;
            char c = static_cast<char>('!' + (x >> 16) % 90);
            noise += c == '(' || c == ')' || c == '\\' ? 'q' : c;
        }
        gen_file g;
        g.flate_stream(10, BASIC);
        g.flate_stream(11, {{9, "<< /Pad (" + std::string(40000, ' ') + ") >>"}});
        int first = 0;
        std::string data = stm_data({{7, "<< /Stored true >>"}}, &first);
        g.b.stream(12, stm_dict(1, first, false), data);
        g.flate_stream(13, {{23, "<< /Noise (" + noise + ") >>"}});
        std::string z = zlib_of({{4, "<< /Title (Cut) >>"}, {24, "<< /X 1 >>"}});
        g.flate_stream(14, {{4, "<< /Title (Cut) >>"}, {24, "<< /X 1 >>"}}, z.substr(0, z.size() - 6));
        g.flate_stream(15, {{25, "<< /R 1 >>"}}, "\x78\x9c garbage");
        for (int k = 0; k < 6; ++k) g.flate_stream(16 + k, {{26 + k, "<< /K " + std::to_string(k) + " >>"}});
        g.flate_stream(22, {{4, "<< /Title (Last) >>"}});
        add("every kind of stream", g);
    }
    {
        // Streams that cannot be decoded at all (refused header, garbage).
        gen_file g;
        g.flate_stream(10, BASIC);
        std::string z = zlib_of({{4, "<< /Title (Refused) >>"}});
        g.flate_stream(11, {{4, "<< /Title (Refused) >>"}}, std::string("\x78\x20", 2) + z.substr(2));
        g.flate_stream(12, {{4, "<< /Title (Garbage) >>"}}, "\x78\x9c garbage");
        add("undecodable streams", g);
    }
    return out;
}

TEST(LazyObjStm, GeneratedFilesSameAsFullExpansion) {
    TempDir dir;
    std::vector<fs::path> files;
    for (const auto& [name, bytes] : generated()) {
        fs::path p = dir.path() / (name + ".pdf");
        write_file(p, bytes);
        files.push_back(p);
    }
    EXPECT_EQ(check_files(files), 0);
}

TEST(LazyObjStm, GeneratedFilesReachTheRules) {
    // The generated files do reach the rules they are named for: rows kept
    // and dropped as the decoded text decides.
    TempDir dir;
    auto info_title = [&](const std::string& bytes) {
        std::string p = dir.file("g.pdf");
        write_file(p, bytes);
        const char* r = vellix_read(p.c_str());
        std::string s = r ? r : "";
        size_t k = s.find("\"title\":\"");
        return k == std::string::npos ? std::string("<none>") : s.substr(k + 9, s.find('"', k + 9) - k - 9);
    };
    auto g = generated();
    std::map<std::string, std::string> by_name(g.begin(), g.end());
    EXPECT_EQ(info_title(by_name["basic"]), "In a stream");
    EXPECT_EQ(info_title(by_name["one per stream, a number twice"]), "Later");
    EXPECT_EQ(info_title(by_name["stream cut short"]), "In a stream");
    EXPECT_EQ(info_title(by_name["first, offsets and counts refused"]), "In a stream");
    EXPECT_EQ(info_title(by_name["stored stream and direct override"]), "Direct");
    EXPECT_EQ(info_title(by_name["undecodable streams"]), "In a stream");
    EXPECT_EQ(info_title(by_name["compressible 900000"]), "In a stream");
    EXPECT_EQ(info_title(by_name["large incompressible stream"]), "In a stream");
    EXPECT_EQ(info_title(by_name["catalog by key"]), "In a stream");

    std::string p = dir.file("big.pdf");
    write_file(p, by_name["object over the size limit"]);
    pdf_doc doc;
    ASSERT_EQ(doc_load(p.c_str(), &doc, 0), 0);
    EXPECT_EQ(doc_find(doc, 8), nullptr);
    ASSERT_NE(doc_find(doc, 4), nullptr);

    write_file(p, by_name["decoding stops early"]);
    ASSERT_EQ(doc_load(p.c_str(), &doc, 0), 0);
    const obj_entry* late = doc_find(doc, 4);
    ASSERT_NE(late, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(late->objstm_text), late->objstm_len), "<< /Title (Late) >>");
    const obj_entry* cut = doc_find(doc, 7);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(cut->objstm_text), cut->objstm_len), "<< /Y 7777");

    // The file of every kind, decoded on two threads: each stream yields its
    // rows or none, and the last Info wins.
    objstm_parallel_min(0);
    EXPECT_EQ(info_title(by_name["every kind of stream"]), "Last");
    write_file(p, by_name["every kind of stream"]);
    pdf_doc mixed;
    EXPECT_EQ(doc_load(p.c_str(), &mixed, 0), 0);
    objstm_parallel_min(OBJSTM_PARALLEL_MIN);
    for (int num : {7, 9, 23, 26, 31}) EXPECT_NE(doc_find(mixed, num), nullptr) << num;
    for (int num : {24, 25}) EXPECT_EQ(doc_find(mixed, num), nullptr) << num;
}

TEST(LazyObjStm, TextsDecodedOnlyWhenRead) {
    // A report that reads Info decodes the stream holding it and the ones the
    // page walk reaches, not a stream holding only an unrelated object.
    TempDir dir;
    gen_file g;
    g.flate_stream(10, BASIC);
    g.flate_stream(11, {{7, "<< /Unrelated true >>"}});
    g.b.xref_trailer("/Size 40 /Root 1 0 R /Info 4 0 R");
    std::string p = dir.file("t.pdf");
    write_file(p, g.b.bytes());
    pdf_doc doc;
    objstm_keep_budget(0);
    ASSERT_EQ(doc_load(p.c_str(), &doc, 0), 0);
    objstm_keep_budget(OBJSTM_KEEP_DEFAULT);
    ASSERT_EQ(doc.lazy.streams.size(), 2u);
    EXPECT_NE(doc.lazy.streams[0].text, nullptr);  // catalog and pages were read while loading
    EXPECT_EQ(doc.lazy.streams[1].text, nullptr);
    EXPECT_EQ(doc.lazy.blocks.items.size(), 1u);
    const obj_entry* e = doc_find(doc, 7);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e->objstm_text), e->objstm_len), "<< /Unrelated true >>");
    EXPECT_EQ(doc.lazy.blocks.items.size(), 2u);
    // The full expansion keeps every text from the start.
    objstm_full_expansion(true);
    pdf_doc full;
    ASSERT_EQ(doc_load(p.c_str(), &full, 0), 0);
    objstm_full_expansion(false);
    EXPECT_TRUE(full.lazy.streams.empty());
    EXPECT_EQ(full.arena.items.size(), 2u);
    // Within the default budget both texts are kept while loading.
    pdf_doc kept;
    ASSERT_EQ(doc_load(p.c_str(), &kept, 0), 0);
    ASSERT_EQ(kept.lazy.streams.size(), 2u);
    EXPECT_NE(kept.lazy.streams[1].text, nullptr);
    EXPECT_EQ(kept.lazy.kept, kept.lazy.streams[0].out_len + kept.lazy.streams[1].out_len);
}

TEST(LazyObjStm, KeepBudgetBoundsTheTextKeptWhileLoading) {
    // Streams of 300 KB each under a 1 MB budget: the first three are kept,
    // the rest decoded when read, with the same texts.
    TempDir dir;
    gen_file g;
    g.flate_stream(10, BASIC);
    for (int k = 0; k < 6; ++k) g.flate_stream(11 + k, {{30 + k, "<< /Pad (" + std::string(300000, 'a' + k) + ") >>"}});
    g.b.xref_trailer("/Size 40 /Root 1 0 R /Info 4 0 R");
    std::string p = dir.file("t.pdf");
    write_file(p, g.b.bytes());
    // On one thread and on two.
    for (uint64_t parallel_min : {OBJSTM_PARALLEL_MIN, uint64_t{0}}) {
        pdf_doc doc;
        objstm_keep_budget(1000000);
        objstm_parallel_min(parallel_min);
        const int r = doc_load(p.c_str(), &doc, 0);
        objstm_keep_budget(OBJSTM_KEEP_DEFAULT);
        objstm_parallel_min(OBJSTM_PARALLEL_MIN);
        ASSERT_EQ(r, 0);
        ASSERT_EQ(doc.lazy.streams.size(), 7u);
        int kept = 0;
        for (const lazy_stream& s : doc.lazy.streams) kept += s.text != nullptr;
        EXPECT_EQ(kept, 4) << parallel_min;  // the small first stream and three of 300 KB
        EXPECT_LE(doc.lazy.kept, 1000000u);
        for (int k = 0; k < 6; ++k) {
            const obj_entry* e = doc_find(doc, 30 + k);
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(e->objstm_text), e->objstm_len),
                      "<< /Pad (" + std::string(300000, 'a' + k) + ") >>");
        }
    }
}

TEST(LazyObjStm, BudgetSplitsTheStreamsDecodedOnTwoThreads) {
    // Forty streams of 20 KB of text from four letters (second capacity about
    // 160 KB each) under a budget of 700 KB: batches end where the budget
    // could be exceeded, later streams are decoded one by one, the last ones
    // are not kept, and the table and texts are those of the full expansion.
    TempDir dir;
    gen_file g;
    g.flate_stream(10, BASIC);
    uint32_t x = 5;
    for (int k = 0; k < 40; ++k) {
        std::string pad;
        for (int i = 0; i < 20000; ++i) {
            x = x * 1103515245u + 12345u;
            pad += static_cast<char>('a' + (x >> 16) % 4);
        }
        g.flate_stream(11 + k, {{60 + k, "<< /Pad (" + pad + ") >>"}});
    }
    g.b.xref_trailer("/Size 120 /Root 1 0 R /Info 4 0 R");
    std::string p = dir.file("t.pdf");
    write_file(p, g.b.bytes());
    auto table = [&](uint64_t parallel_min, bool full) {
        objstm_full_expansion(full);
        objstm_keep_budget(700000);
        objstm_parallel_min(parallel_min);
        std::string t = table_of(p);
        objstm_full_expansion(false);
        objstm_keep_budget(OBJSTM_KEEP_DEFAULT);
        objstm_parallel_min(OBJSTM_PARALLEL_MIN);
        return t;
    };
    const std::string full = table(OBJSTM_PARALLEL_MIN, true);
    EXPECT_NE(full.find("\n60 0 "), std::string::npos);
    EXPECT_EQ(table(0, false), full);
    EXPECT_EQ(table(OBJSTM_PARALLEL_MIN, false), full);
    pdf_doc doc;
    objstm_keep_budget(700000);
    objstm_parallel_min(0);
    const int r = doc_load(p.c_str(), &doc, 0);
    objstm_keep_budget(OBJSTM_KEEP_DEFAULT);
    objstm_parallel_min(OBJSTM_PARALLEL_MIN);
    ASSERT_EQ(r, 0);
    EXPECT_LE(doc.lazy.kept, 700000u);
    int kept = 0;
    for (const lazy_stream& s : doc.lazy.streams) kept += s.text != nullptr;
    EXPECT_GT(kept, 10);
    EXPECT_LT(kept, 41);
}

}  // namespace
