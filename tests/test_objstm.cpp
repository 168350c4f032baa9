// Object streams through the loader: rows taken from Flate and stored object
// streams, the header and /N and /First rules, decoding with larger
// capacities, release of failed attempts, peak memory on a stream that
// inflates to 1 GiB, and files rewritten with object streams by qpdf.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "load/doc.h"
#include "support/pdf_builder.h"
#include "vellix.h"

namespace {

using objlist = std::vector<std::pair<int, std::string>>;

// zlib's raw decoding of DEFLATE data (at most cap bytes).
std::string zlib_uncompress_raw(const std::string& deflate_data, size_t cap) {
    z_stream zs{};
    EXPECT_EQ(inflateInit2(&zs, -15), Z_OK);
    std::string out(cap, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflate_data.data()));
    zs.avail_in = static_cast<uInt>(deflate_data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    inflateEnd(&zs);
    return out;
}

// Header and body of an object stream; the header is padded with spaces to
// `first` bytes when that is larger than it needs.
std::string stm_data(const objlist& objs, int* first, int pad_to = 0) {
    std::string header, body;
    for (const auto& [num, text] : objs) {
        header += std::to_string(num) + " " + std::to_string(body.size()) + " ";
        body += text;
    }
    if (static_cast<int>(header.size()) < pad_to) header.append(pad_to - header.size(), ' ');
    *first = static_cast<int>(header.size());
    return header + body;
}

// Catalog 1, pages 2, page 3 as direct objects, then one object stream 5
// with the given dictionary entries (besides /Type /ObjStm and /Length) and
// data, compressed when `flate`.
std::string file_with_stream(const std::string& dict, const std::string& data, bool flate) {
    PdfBuilder b("1.5");
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    if (flate)
        b.stream(5, "/Type /ObjStm " + dict + " /Filter /FlateDecode", zlib_compress(data, 9, 0));
    else
        b.stream(5, "/Type /ObjStm " + dict, data);
    b.xref_trailer("/Size 30 /Root 1 0 R");
    return b.bytes();
}

struct loaded {
    pdf_doc doc;
    int rc = -1;
    loaded(const TempDir& dir, const std::string& bytes) {
        std::string path = dir.file("t.pdf");
        write_file(path, bytes);
        rc = doc_load(path.c_str(), &doc, 0);
    }
    std::string text(int num) const {
        const obj_entry* e = doc_find(doc, num);
        if (!e || !e->in_objstm || !e->objstm_text) return "<none>";
        return std::string(reinterpret_cast<const char*>(e->objstm_text), e->objstm_len);
    }
};

const objlist THREE = {{12, "<< /Kind /A >>"}, {10, "[1 2 3]"}, {11, "<< /Kind /C /V (x) >>"}};

TEST(ObjStm, RowsInHeaderOrderPointingAtEachText) {
    TempDir dir;
    int first = 0;
    std::string data = stm_data({{8, "<< /Kind /A >>"}, {6, "[1 2 3]"}, {7, "<< /Kind /C /V (x) >>"}}, &first, 15);
    ASSERT_EQ(first, 15);
    for (bool flate : {true, false}) {
        loaded l(dir, file_with_stream("/N 3 /First 15", data, flate));
        ASSERT_EQ(l.rc, 0);
        const obj_entry* r12 = doc_find(l.doc, 8);
        const obj_entry* r10 = doc_find(l.doc, 6);
        const obj_entry* r11 = doc_find(l.doc, 7);
        ASSERT_TRUE(r12 && r10 && r11) << "flate " << flate;
        // Table order is header order; the texts are consecutive in the decoded data.
        EXPECT_LT(r12, r10);
        EXPECT_LT(r10, r11);
        EXPECT_EQ(l.text(8), "<< /Kind /A >>");
        EXPECT_EQ(l.text(6), "[1 2 3]");
        EXPECT_EQ(l.text(7), "<< /Kind /C /V (x) >>");
        EXPECT_EQ(r10->objstm_text, r12->objstm_text + r12->objstm_len);
        for (const obj_entry* r : {r12, r10, r11}) {
            EXPECT_EQ(r->in_objstm, 1);
            EXPECT_EQ(r->gen, 0);
            EXPECT_EQ(r->has_stream, 0);
            EXPECT_EQ(r->obj_pos, -1);
            EXPECT_EQ(r->dict_pos, -1);
            EXPECT_EQ(r->stream_kw, -1);
            EXPECT_EQ(r->data_start, -1);
            EXPECT_EQ(r->endobj_pos, -1);
        }
        // The container itself is gone after selection.
        EXPECT_EQ(doc_find(l.doc, 5), nullptr);
        EXPECT_EQ(l.doc.max_obj, 8);
    }
}

TEST(ObjStm, HeaderAndKeyRules) {
    struct stm_case {
        const char* name;
        std::string dict;  // %F is replaced by the first-object offset
        objlist objs;
        std::string header;  // used instead of the generated header when set
        std::vector<std::pair<int, std::string>> want;
        std::vector<int> absent;
    };
    const std::string big(1048576 - 4, ' ');
    const std::string too_big(1048577 - 4, ' ');
    const stm_case CASES[] = {
        {"N 0", "/N 0 /First %F", THREE, "", {}, {10, 11, 12}},
        {"N 100001", "/N 100001 /First %F", THREE, "", {}, {10, 11, 12}},
        {"negative First", "/N 3 /First -1", THREE, "", {}, {10, 11, 12}},
        {"no N", "/First %F", THREE, "", {}, {10, 11, 12}},
        {"no First", "/N 3", THREE, "", {}, {10, 11, 12}},
        {"first usable N and First win", "/N 0 /N 3 /First -4 /First %F", THREE, "", {{10, "[1 2 3]"}}, {}},
        {"/Names is not /N", "/Names 5 /N 3 /First %F", THREE, "", {{11, "<< /Kind /C /V (x) >>"}}, {}},
        {"First beyond the data", "/N 3 /First 100000", THREE, "", {}, {10, 11, 12}},
        {"fewer pairs than N", "/N 4 /First %F", THREE, "", {}, {10, 11, 12}},
        {"negative offset", "/N 3 /First %F", THREE, "12 0 10 -14 11 21 ", {}, {10, 11, 12}},
        {"object number 0 skipped", "/N 3 /First %F", THREE, "12 0 0 14 11 21 ",
         {{12, "<< /Kind /A >>"}, {11, "<< /Kind /C /V (x) >>"}}, {0, 10}},
        // 10 gets the length 14 - 21: skipped; 12 and 11 overlap it.
        {"offsets out of order", "/N 3 /First %F", THREE, "12 0 10 21 11 14 ",
         {{12, "<< /Kind /A >>[1 2 3]"}, {11, "[1 2 3]<< /Kind /C /V (x) >>"}}, {10}},
        // 10 would run to offset 9999 and 11 would start there: both past the data.
        {"objects past the data", "/N 3 /First %F", THREE, "12 0 10 14 11 9999 ", {{12, "<< /Kind /A >>"}}, {10, 11}},
        {"object of 1 MiB kept", "/N 2 /First %F", {{20, "<<" + big + ">>"}, {21, "[7]"}}, "",
         {{21, "[7]"}, {20, "<<" + big + ">>"}}, {}},
        {"object over 1 MiB skipped", "/N 2 /First %F", {{20, "<<" + too_big + ">>"}, {21, "[7]"}}, "",
         {{21, "[7]"}}, {20}},
    };
    TempDir dir;
    for (const stm_case& c : CASES) {
        int first = 0;
        std::string data = stm_data(c.objs, &first);
        if (!c.header.empty()) {
            std::string body = data.substr(first);
            std::string h = c.header;
            h.resize(std::max<size_t>(h.size(), first), ' ');
            first = static_cast<int>(h.size());
            data = h + body;
        }
        std::string dict = c.dict;
        if (auto p = dict.find("%F"); p != std::string::npos) dict.replace(p, 2, std::to_string(first));
        for (bool flate : {true, false}) {
            loaded l(dir, file_with_stream(dict, data, flate));
            ASSERT_EQ(l.rc, 0) << c.name;
            for (const auto& [num, text] : c.want) EXPECT_EQ(l.text(num), text) << c.name << " object " << num;
            for (int num : c.absent) EXPECT_EQ(doc_find(l.doc, num), nullptr) << c.name << " object " << num;
            // Direct objects are untouched.
            EXPECT_NE(doc_find(l.doc, 3), nullptr) << c.name;
        }
    }
}

// A zlib stream of `prefix` (a stored block) followed by `matches` copies of
// 258 bytes at distance 1 (a dynamic block whose only codes are a one-bit
// length 258 and a one-bit distance 1: two bits per 258 bytes).
std::string zlib_prefix_and_runs(const std::string& prefix, uint64_t matches) {
    std::string out = "\x78\x01";
    uint32_t acc = 0;
    int n = 0;
    auto put = [&](uint32_t v, int bits) {
        for (int i = 0; i < bits; ++i) {
            acc |= ((v >> i) & 1u) << n;
            if (++n == 8) {
                out += static_cast<char>(acc);
                acc = 0;
                n = 0;
            }
        }
    };
    put(0, 3);  // stored, not final
    put(0, n ? 8 - n : 0);
    put(static_cast<uint32_t>(prefix.size()), 16);
    put(static_cast<uint32_t>(~prefix.size()) & 0xFFFF, 16);
    out += prefix;
    put(1, 1);  // final, dynamic
    put(2, 2);
    put(286 - 257, 5);
    put(0, 5);   // one distance code
    put(14, 4);  // 18 code-length code lengths, in the format's order: 18 and 1 get one bit
    const int ORDER_LEN[18] = {0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    for (int l : ORDER_LEN) put(l, 3);
    // Code-length codes: symbol 1 is "0", symbol 18 is "1".
    put(1, 1), put(127, 7);  // 138 zeros
    put(1, 1), put(107, 7);  // 118 zeros: literals 0-255 unused
    put(0, 1);               // end of block: length 1
    put(1, 1), put(17, 7);   // 28 zeros: lengths 257-284 unused
    put(0, 1);               // 285 (length 258): length 1
    put(0, 1);               // distance code 0: length 1
    for (uint64_t i = 0; i < matches; ++i) put(1, 2);  // "1" = 258, then "0" = distance 1
    put(0, 1);                                         // end of block
    put(0, n ? 8 - n : 0);
    return out;
}

TEST(ObjStm, HandMadeRunStreamIsValid) {
    std::string z = zlib_prefix_and_runs("abc", 1000);
    std::string want = "abc" + std::string(258 * 1000, 'c');
    EXPECT_EQ(zlib_uncompress_raw(z.substr(2), want.size() + 10), want);
}

// Where decoded texts are held: each block, and the text pool when it
// holds any bytes.
size_t text_holders(const pdf_doc& d) {
    return d.arena.items.size() + d.lazy.blocks.items.size() + (d.lazy.pool.used > 0 ? 1 : 0);
}

TEST(ObjStm, HighlyCompressibleStreamDecodedWithALargerCapacity) {
    // Decoded data beyond the first capacity of 8n + 64 bytes, so it is
    // decoded on a later attempt: within 32n + 256 (the second capacity) and
    // far beyond it (900 KB from a few kilobytes).
    std::string letters;
    uint32_t x = 12345;
    for (int i = 0; i < 3000; ++i) {
        x = x * 1103515245u + 12345u;
        letters += static_cast<char>('a' + (x >> 16) % 26);
    }
    const std::string texts[] = {"<< /Pad (" + letters + std::string(40000, ' ') + ") >>",
                                 "<< /Pad (" + std::string(900000, ' ') + ") >>"};
    for (const std::string& obj10 : texts) {
        SCOPED_TRACE(obj10.size());
        TempDir dir;
        int first = 0;
        std::string data = stm_data({{9, "<< /Small 1 >>"}, {10, obj10}}, &first);
        PdfBuilder b("1.5");
        b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
        b.obj(2, "<< /Type /Pages /Kids [] /Count 0 >>");
        std::string z = zlib_compress(data, 9, 0);
        ASSERT_GT(data.size(), 8 * z.size() + 64);
        if (&obj10 == &texts[0]) {
            ASSERT_LE(data.size(), 32 * z.size() + 256);
        }
        b.stream(5, "/Type /ObjStm /N 2 /First " + std::to_string(first) + " /Filter /FlateDecode", z);
        b.xref_trailer("/Size 11 /Root 1 0 R");
        loaded l(dir, b.bytes());
        ASSERT_EQ(l.rc, 0);
        EXPECT_EQ(l.text(9), "<< /Small 1 >>");
        EXPECT_TRUE(l.text(10) == obj10);
        // Only the successful attempt's text stays with the document (read
        // above, so decoded by now).
        EXPECT_EQ(text_holders(l.doc), 1u);
    }
}

TEST(ObjStm, UndecodableStreamsLeaveNothingInTheArena) {
    // Object streams that cannot be decoded (input cut short, a refused
    // header), one that decodes to nothing usable, and one good one: only the
    // good one's block stays with the document.
    TempDir dir;
    int first = 0;
    std::string data = stm_data(THREE, &first);
    std::string dict = "/Type /ObjStm /N 3 /First " + std::to_string(first) + " /Filter /FlateDecode";
    std::string z = zlib_compress(data, 6, 0);
    PdfBuilder b("1.5");
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    for (int i = 0; i < 20; ++i) b.stream(100 + i, dict, z.substr(0, z.size() - 6));
    for (int i = 0; i < 20; ++i) b.stream(200 + i, dict, std::string("\x78\x20", 2) + z.substr(2));
    b.stream(250, dict, "\x78\x9c garbage");  // a stored block whose length check fails: 0 bytes
    b.stream(300, dict, z);
    b.xref_trailer("/Size 301 /Root 1 0 R");
    loaded l(dir, b.bytes());
    ASSERT_EQ(l.rc, 0);
    EXPECT_EQ(l.text(11), "<< /Kind /C /V (x) >>");
    EXPECT_EQ(text_holders(l.doc), 1u);
    EXPECT_EQ(l.doc.lazy.pool.used, l.doc.lazy.kept);  // the pool holds the good text alone
}

// Resident set size and its peak in bytes, from /proc (0 when unavailable).
uint64_t proc_status_kb(const char* key) {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind(key, 0) == 0) return std::strtoull(line.c_str() + std::strlen(key), nullptr, 10);
    return 0;
}

TEST(ObjStm, StreamInflatingToOneGiBKeepsPeakMemorySmall) {
    // Reset the peak-RSS counter so the figure belongs to the load alone.
    {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5";
        if (!clear.good()) GTEST_SKIP() << "cannot reset the peak RSS counter";
    }
    TempDir dir;
    int first = 0;
    std::string data = stm_data({{10, "<< /Big true >>"}}, &first);
    // The one object's text runs to the end: about 1 GiB of bytes after its dictionary.
    std::string z = zlib_prefix_and_runs(data, ((1ull << 30) - data.size()) / 258);
    PdfBuilder b("1.5");
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    b.stream(5, "/Type /ObjStm /N 1 /First " + std::to_string(first) + " /Filter /FlateDecode", z);
    b.xref_trailer("/Size 11 /Root 1 0 R");
    std::string path = dir.file("bomb.pdf");
    write_file(path, b.bytes());
    const uint64_t file_size = b.bytes().size();
    z.clear();
    z.shrink_to_fit();
    b = PdfBuilder("1.5");

    const uint64_t rss_before = proc_status_kb("VmRSS:");
    {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5";
    }
    pdf_doc doc;
    ASSERT_EQ(doc_load(path.c_str(), &doc, 0), 0);
    const uint64_t peak = proc_status_kb("VmHWM:");
    // The capacities tried for this stream end near 512 MiB, below its 1 GiB:
    // it contributes no rows, and nothing of it stays in the arena.
    EXPECT_EQ(doc_find(doc, 10), nullptr);
    EXPECT_NE(doc_find(doc, 1), nullptr);
    EXPECT_TRUE(doc.arena.items.empty());
    EXPECT_TRUE(doc.lazy.blocks.items.empty());
    doc = pdf_doc{};
    const uint64_t growth_kb = peak > rss_before ? peak - rss_before : 0;
    std::printf("[ peak    ] file %llu bytes; RSS before %llu KiB, peak during load %llu KiB (+%llu KiB)\n",
                static_cast<unsigned long long>(file_size), static_cast<unsigned long long>(rss_before),
                static_cast<unsigned long long>(peak), static_cast<unsigned long long>(growth_kb));
    RecordProperty("peak_growth_kib", std::to_string(growth_kb));
    // The file, the first attempt (8n + 64 bytes) and the measuring window.
    EXPECT_LT(growth_kb * 1024, file_size * 10 + (16u << 20));
}

// ---- through the exports ----

TEST(ObjStm, InfoAndCatalogInsideAnObjectStreamReadByVellixRead) {
    TempDir dir;
    int first = 0;
    std::string data = stm_data({{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                                 {2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>"},
                                 {7, "<< /Title (Compressed title) /Author (A. Writer) /Producer (P) "
                                     "/CreationDate (D:20230405060708Z) >>"}},
                                &first);
    PdfBuilder b("1.5");
    b.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    b.obj(4, "<< /Type /Page /Parent 2 0 R >>");
    b.stream(5, "/Type /ObjStm /N 3 /First " + std::to_string(first) + " /Filter /FlateDecode",
             zlib_compress(data, 6, 0));
    b.xref_stream(8, "/Root 1 0 R /Info 7 0 R");
    std::string path = b.write(dir.path() / "c.pdf");
    const char* json = vellix_read(path.c_str());
    ASSERT_NE(json, nullptr) << vellix_last_error();
    EXPECT_EQ(std::string(json), "{\"title\":\"Compressed title\",\"author\":\"A. Writer\",\"subject\":\"\","
                                 "\"keywords\":\"\",\"creator\":\"\",\"producer\":\"P\",\"creation_date\":"
                                 "\"2023-04-05\",\"mod_date\":\"\",\"pages\":2,\"file_size\":" +
                                     std::to_string(b.size()) + ",\"pdf_version\":\"1.5\"}");
}

// ---- files rewritten by qpdf with object streams ----

bool have_qpdf() { return std::system("qpdf --version >/dev/null 2>&1") == 0; }

// Rows that are cross-reference streams (/Type /XRef in their dictionary).
int xref_stream_rows(const pdf_doc& doc) {
    int n = 0;
    for (const obj_entry& e : doc.objs) {
        dict_view r = doc_dict_span(doc, e);
        if (r.text && e.has_stream) {
            std::string d(reinterpret_cast<const char*>(r.text) + r.start, r.end - r.start);
            if (d.find("/XRef") != std::string::npos) ++n;
        }
    }
    return n;
}

std::string read_without_size(const std::string& path) {
    const char* j = vellix_read(path.c_str());
    if (!j) return std::string("error: ") + vellix_last_error();
    std::string s = j;
    return s.substr(0, s.find(",\"file_size\""));
}

TEST(ObjStm, FilesWithObjectStreamsFromQpdfLoadLikeTheirOriginals) {
    if (!have_qpdf()) GTEST_SKIP() << "qpdf not installed";
    TempDir dir;
    std::vector<std::string> fixtures;
    fixtures.push_back(minimal_pdf(1, "/Title (One page) /Author (Someone) /Producer (Builder)"));
    fixtures.push_back(minimal_pdf(12, "/Title (Twelve) /Keywords (a, b) /Creator (C) /ModDate (D:20200101)"));
    {
        // A two-level page tree, fonts and a content stream.
        PdfBuilder b("1.4");
        b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
        b.obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 5 >>");
        b.obj(3, "<< /Type /Pages /Parent 2 0 R /Kids [5 0 R 6 0 R] /Count 2 >>");
        b.obj(4, "<< /Type /Pages /Parent 2 0 R /Kids [7 0 R 8 0 R 9 0 R] /Count 3 >>");
        for (int p = 5; p <= 9; ++p)
            b.obj(p, "<< /Type /Page /Parent " + std::to_string(p < 7 ? 3 : 4) +
                         " 0 R /MediaBox [0 0 200 200] /Contents 10 0 R /Resources << /Font << /F1 11 0 R >> >> >>");
        b.stream(10, "", "BT /F1 12 Tf 10 10 Td (Hi) Tj ET");
        b.obj(11, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
        b.obj(12, "<< /Title (Tree) /Subject (Nested pages) /Producer (Builder) >>");
        b.xref_trailer("/Size 13 /Root 1 0 R /Info 12 0 R");
        fixtures.push_back(b.bytes());
    }
    for (size_t i = 0; i < fixtures.size(); ++i) {
        std::string orig = dir.file("orig" + std::to_string(i) + ".pdf");
        std::string gen = dir.file("gen" + std::to_string(i) + ".pdf");
        write_file(orig, fixtures[i]);
        std::string cmd = "qpdf --object-streams=generate '" + orig + "' '" + gen + "' >/dev/null 2>&1";
        int rc = std::system(cmd.c_str());
        ASSERT_TRUE(rc == 0 || WEXITSTATUS(rc) == 3) << cmd;  // 3: warnings only
        // The output really holds compressed objects.
        std::string bytes = read_file(gen);
        ASSERT_NE(bytes.find("/ObjStm"), std::string::npos) << "fixture " << i;

        pdf_doc a, b;
        ASSERT_EQ(doc_load(orig.c_str(), &a, 0), 0);
        ASSERT_EQ(doc_load(gen.c_str(), &b, 0), 0);
        int compressed = 0;
        for (const obj_entry& e : b.objs) compressed += e.in_objstm;
        EXPECT_GT(compressed, 0) << "fixture " << i;
        EXPECT_EQ(b.pages.size(), a.pages.size()) << "fixture " << i;
        EXPECT_EQ(b.pages_ok, 1) << "fixture " << i;
        EXPECT_EQ(b.objs.size() - xref_stream_rows(b), a.objs.size() - xref_stream_rows(a)) << "fixture " << i;
        a = pdf_doc{};
        b = pdf_doc{};
        // Same Info fields and page count (qpdf may raise the version).
        EXPECT_EQ(read_without_size(gen), read_without_size(orig)) << "fixture " << i;
    }
}

}  // namespace
