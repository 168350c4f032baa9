// VELLIX_KEEP_STREAMS: full rewrites copy the object streams they leave
// alone byte for byte and list their members in a cross-reference stream;
// streams holding a changed, superseded or shadowed object are expanded.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "load/doc.h"
#include "support/output_check.h"
#include "support/pdf_builder.h"
#include "syntax/deflate.h"
#include "syntax/inflate.h"
#include "vellix.h"

#ifdef VELLIX_HAVE_ZLIB
#include <zlib.h>
#endif

namespace fs = std::filesystem;

namespace {

struct options_scope {
    unsigned prev;
    explicit options_scope(unsigned bits) : prev(vellix_set_options(bits)) {}
    ~options_scope() { vellix_set_options(prev); }
};

std::string q(const std::string& s) { return "'" + s + "'"; }

// The value of a string member of a JSON text, or "<missing>".
std::string member(const char* json, const std::string& key) {
    if (!json) return std::string("<error: ") + vellix_last_error() + ">";
    std::string s = json;
    size_t a = s.find("\"" + key + "\":\"");
    if (a == std::string::npos) return "<missing>";
    a += key.size() + 4;
    return s.substr(a, s.find('"', a) - a);
}

std::string title_of(const std::string& path) {
    options_scope o(0);
    return member(vellix_read(path.c_str()), "title");
}

// A document of `pages` pages, each with its own content stream, an Info
// dictionary with an old title, and an /ID.
std::string plain_fixture(int pages) {
    PdfBuilder b("1.4");
    std::string kids;
    for (int i = 0; i < pages; ++i) kids += std::to_string(5 + i) + " 0 R ";
    b.obj(1, "<< /Type /Catalog /Pages 3 0 R >>");
    b.obj(2, "<< /Title (Old secret title) /Author (Someone) >>");
    b.obj(3, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    b.obj(4, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    for (int i = 0; i < pages; ++i)
        b.obj(5 + i, "<< /Type /Page /Parent 3 0 R /MediaBox [0 0 200 200] /Contents " + std::to_string(5 + pages + i) +
                         " 0 R /Resources << /Font << /F1 4 0 R >> >> >>");
    for (int i = 0; i < pages; ++i)
        b.stream(5 + pages + i, "", "BT /F1 24 Tf 20 100 Td (Page " + std::to_string(i + 1) + ") Tj ET");
    b.xref_trailer("/Size " + std::to_string(5 + 2 * pages) +
                   " /Root 1 0 R /Info 2 0 R /ID [<00112233445566778899AABBCCDDEEFF><00112233445566778899AABBCCDDEEFF>]");
    return b.bytes();
}

// The fixture with its objects in object streams (qpdf packs about a hundred
// objects into each), at dir/in.pdf; "" when qpdf is missing or fails.
std::string objstm_fixture(const TempDir& dir) {
    if (!have_tool("qpdf")) return "";
    std::string plain = dir.file("plain.pdf"), in = dir.file("in.pdf"), msg;
    write_file(plain, plain_fixture(250));
    if (run_command("qpdf --object-streams=generate " + q(plain) + " " + q(in), &msg) != 0) return "";
    return in;
}

// Everything the file holds in the clear: its bytes and the decoded text of
// every Flate stream in it (found by the "stream" keyword).
std::string bytes_and_inflated(const std::string& file) {
    std::string all = file;
    std::vector<uint8_t> buf(1 << 22);
    for (size_t p = file.find("stream"); p != std::string::npos; p = file.find("stream", p + 6)) {
        size_t s = p + 6;
        if (s < file.size() && file[s] == '\r') ++s;
        if (s >= file.size() || file[s] != '\n') continue;
        ++s;
        uint64_t n = 0;
        if (inflate_decompress(reinterpret_cast<const uint8_t*>(file.data() + s), file.size() - s, buf.data(), buf.size(),
                               &n) == 0)
            all.append(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(n));
    }
    return all;
}

// The object streams of a file as the loader finds them: number, raw data
// bytes, decoded length, member numbers.
struct container_info {
    int32_t num;
    std::string data;
    uint64_t decoded;
    std::vector<int32_t> members;
};
std::vector<container_info> containers_of(const std::string& path) {
    pdf_doc doc;
    std::vector<container_info> out;
    if (doc_load(path.c_str(), &doc, 0) != 0) return out;
    std::vector<uint8_t> buf(1 << 22);
    for (const objstm_container& c : doc.containers) {
        container_info ci;
        ci.num = c.row.num;
        ci.data.assign(reinterpret_cast<const char*>(doc.data + c.row.data_start),
                       static_cast<size_t>(c.row.data_end - c.row.data_start));
        uint64_t n = 0;
        inflate_decompress(doc.data + c.row.data_start, ci.data.size(), buf.data(), buf.size(), &n);
        ci.decoded = n;
        ci.members.assign(doc.container_members.begin() + static_cast<long>(c.first_member),
                          doc.container_members.begin() + static_cast<long>(c.first_member + c.count));
        out.push_back(ci);
    }
    return out;
}

// qpdf's view of the compressed rows of a file: object -> (stream, index).
std::map<int, std::pair<int, int>> compressed_rows(const std::string& path) {
    std::string text;
    run_command("qpdf --show-xref " + q(path), &text);
    std::map<int, std::pair<int, int>> rows;
    size_t at = 0;
    while (at < text.size()) {
        size_t eol = text.find('\n', at);
        std::string line = text.substr(at, eol == std::string::npos ? std::string::npos : eol - at);
        int num, gen, stream, index;
        if (std::sscanf(line.c_str(), "%d/%d: compressed; stream = %d, index = %d", &num, &gen, &stream, &index) == 4)
            rows[num] = {stream, index};
        if (eol == std::string::npos) break;
        at = eol + 1;
    }
    return rows;
}

// Digest of the first and last page rendered small, or "" without pdftoppm.
std::string render(const std::string& pdf, const std::string& dir) {
    if (!have_tool("pdftoppm")) return "";
    fs::create_directories(dir);
    std::string out;
    run_command("pdftoppm -r 12 -gray -f 1 -l 2 " + q(pdf) + " " + q(dir + "/a") + " && pdftoppm -r 12 -gray -f 250 " +
                    q(pdf) + " " + q(dir + "/b") + " && cat " + q(dir) + "/*.pgm | md5sum",
                &out);
    return out;
}

struct writer_case {
    const char* name;
    std::function<int(const std::string& in, const std::string& out)> run;
    const char* title;     // vellix_read's title of the copy
    bool old_title_gone;   // no byte of the old title may remain
    bool catalog_changes;  // the catalog is rewritten (XMP writers)
};

int batch_clear_one(const std::string& in, const std::string& out) {
    fs::path d = fs::path(out).parent_path() / "batch";
    fs::remove_all(d);
    fs::create_directories(d / "in");
    fs::copy_file(in, d / "in" / "a.pdf");
    int n = vellix_batch_clear((d / "in").c_str(), (d / "out").c_str());
    if (n == 1) fs::rename(d / "out" / "a.pdf", out);
    return n == 1 ? 1 : 0;
}

const writer_case WRITERS[] = {
    {"write", [](auto& i, auto& o) { return vellix_write(i.c_str(), o.c_str(), "New title", nullptr, nullptr, nullptr); },
     "New title", true, false},
    {"write_full", [](auto& i, auto& o) { return vellix_write_full(i.c_str(), o.c_str(), "{\"title\":\"New title\"}"); },
     "New title", true, false},
    {"write_xmp", [](auto& i, auto& o) { return vellix_write_xmp(i.c_str(), o.c_str(), "{\"dc:title\":\"Xmp title\"}"); },
     "Old secret title", false, true},
    {"clear", [](auto& i, auto& o) { return vellix_clear(i.c_str(), o.c_str()); }, "", true, false},
    {"clear_xmp", [](auto& i, auto& o) { return vellix_clear_xmp(i.c_str(), o.c_str()); }, "Old secret title", false,
     false},
    {"batch_clear", batch_clear_one, "", true, false},
};

bool holds(const container_info& c, int32_t num) {
    return std::find(c.members.begin(), c.members.end(), num) != c.members.end();
}

}  // namespace

// Every writer on a file whose objects live in object streams: the streams
// without the Info dictionary (or, for the XMP writers, the catalog) are in
// the output byte for byte, their members listed as compressed rows of those
// very streams; the stream holding Info is not copied and no byte of a
// removed or replaced title remains, even compressed; the copy passes qpdf's
// check, reads back with the new values, renders like the input, and is
// within 2% of the input plus the text of the streams written out plainly.
TEST(KeepStreams, EveryWriterCopiesTheStreamsItLeavesAlone) {
    TempDir dir;
    std::string in = objstm_fixture(dir);
    if (in.empty()) GTEST_SKIP() << "qpdf not installed";
    const std::string in_bytes = read_file(in);
    const std::vector<container_info> streams = containers_of(in);
    ASSERT_GE(streams.size(), 3u);
    const auto in_rows = compressed_rows(in);
    // The input's Info and catalog numbers, as qpdf renumbered them.
    std::string msg;
    run_command("qpdf --show-object=trailer " + q(in), &msg);
    int info = -1, root = -1;
    std::sscanf(msg.substr(msg.find("/Info")).c_str(), "/Info %d", &info);
    std::sscanf(msg.substr(msg.find("/Root")).c_str(), "/Root %d", &root);
    ASSERT_GT(info, 0) << msg;
    ASSERT_GT(root, 0) << msg;
    const std::string render_in = render(in, dir.file("r-in"));

    for (const writer_case& w : WRITERS) {
        SCOPED_TRACE(w.name);
        std::string out = dir.file(std::string(w.name) + ".pdf");
        {
            options_scope o(VELLIX_KEEP_STREAMS);
            ASSERT_EQ(w.run(in, out), 1) << vellix_last_error();
        }
        const std::string got = read_file(out);
        EXPECT_EQ(run_command("qpdf --check " + q(out), &msg), 0) << msg;
        EXPECT_EQ(msg.find("WARNING"), std::string::npos) << msg;
        EXPECT_EQ(title_of(out), w.title);
        if (have_tool("pdfinfo")) {
            run_command("pdfinfo " + q(out), &msg);
            EXPECT_NE(msg.find("Pages:           250\n"), std::string::npos) << msg;
            if (w.title[0]) {
                EXPECT_NE(msg.find(std::string("Title:           ") + w.title + "\n"), std::string::npos) << msg;
            } else {
                EXPECT_EQ(msg.find("Title:"), std::string::npos) << msg;
            }
        }
        if (w.name == std::string("write_xmp")) {
            options_scope o(0);
            EXPECT_EQ(member(vellix_read_xmp(out.c_str()), "dc:title"), "Xmp title");
        }
        if (!render_in.empty()) {
            EXPECT_EQ(render(out, dir.file(std::string("r-") + w.name)), render_in);
        }

        const auto out_rows = compressed_rows(out);
        uint64_t expanded = 0;
        for (const container_info& c : streams) {
            SCOPED_TRACE("object stream " + std::to_string(c.num));
            const bool touched = holds(c, info) || (w.catalog_changes && holds(c, root));
            const bool copied = got.find(c.data) != std::string::npos;
            EXPECT_EQ(copied, !touched);
            if (!copied) expanded += c.decoded;
            for (int32_t m : c.members) {
                auto it = out_rows.find(m);
                if (touched) {
                    EXPECT_TRUE(it == out_rows.end()) << "object " << m << " still compressed";
                } else {
                    ASSERT_TRUE(it != out_rows.end()) << "object " << m << " not compressed";
                    EXPECT_EQ(it->second, in_rows.at(m)) << "object " << m;
                }
            }
        }
        EXPECT_LE(got.size(), in_bytes.size() * 102 / 100 + expanded + 2048)
            << "input " << in_bytes.size() << ", written out plainly " << expanded;
        // One cross-reference stream: the input's is not carried along.
        size_t xrefs = 0;
        for (size_t p = got.find("/XRef"); p != std::string::npos; p = got.find("/XRef", p + 1)) ++xrefs;
        EXPECT_EQ(xrefs, 1u);
        if (w.old_title_gone) {
            EXPECT_EQ(bytes_and_inflated(got).find("Old secret title"), std::string::npos);
        }
    }
}

// Without the option nothing changes: the same file has every object written
// plainly with a cross-reference table; with it, a file without object
// streams is written exactly as without it.
TEST(KeepStreams, OptionsZeroExpandAndFilesWithoutStreamsAreUnchanged) {
    TempDir dir;
    std::string in = objstm_fixture(dir);
    if (!in.empty()) {
        std::string out = dir.file("zero.pdf");
        options_scope o(0);
        ASSERT_EQ(vellix_write(in.c_str(), out.c_str(), "New title", nullptr, nullptr, nullptr), 1);
        std::string got = read_file(out);
        EXPECT_EQ(got.find("/ObjStm"), std::string::npos);
        EXPECT_EQ(xref_fault(got), "");
    }
    std::string plain = dir.file("table.pdf");
    write_file(plain, plain_fixture(3));
    for (const writer_case& w : WRITERS) {
        SCOPED_TRACE(w.name);
        std::string a = dir.file("a.pdf"), b = dir.file("b.pdf");
        clock_window win;
        win.start();
        {
            options_scope o(0);
            ASSERT_EQ(w.run(plain, a), 1) << vellix_last_error();
        }
        {
            options_scope o(VELLIX_KEEP_STREAMS);
            ASSERT_EQ(w.run(plain, b), 1) << vellix_last_error();
        }
        win.stop();
        EXPECT_EQ(win.mask(read_file(a)), win.mask(read_file(b)));
    }
}

// Object streams built by hand (stored, so their texts show in the output
// when copied), each case with the streams expected copied and the texts
// that must and must not appear.
TEST(KeepStreams, StreamsWithEditedSupersededOrShadowedMembersAreExpanded) {
    if (!have_tool("qpdf")) GTEST_SKIP() << "qpdf not installed";
    auto base = [] {
        PdfBuilder b("1.5");
        b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
        b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
        b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Resources << /Font << /F1 4 0 R /F2 5 0 R >> >> >>");
        return b;
    };
    const std::string trailer = "/Root 1 0 R /ID [<0A0B><0C0D>]";
    struct hand_case {
        const char* name;
        std::function<std::string()> make;
        std::set<int> copied;                // object streams expected copied
        std::vector<const char*> absent;     // texts that must not be in the output
        std::vector<const char*> present;    // texts that must be
    } cases[] = {
        {"untouched",
         [&] {
             PdfBuilder b = base();
             b.object_stream(10, {{4, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Note (KEEP4) >>"},
                                  {5, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Note (KEEP5) >>"}});
             b.xref_stream(11, "/Size 12 " + trailer);
             return b.bytes();
         },
         {10}, {}, {"KEEP4", "KEEP5"}},
        {"member superseded by a direct object",
         [&] {
             PdfBuilder b = base();
             b.object_stream(10, {{4, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Note (KEEP4) >>"},
                                  {5, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Note (OLD5) >>"}});
             b.xref_stream(11, "/Size 12 " + trailer);
             b.obj(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Note (NEW5) >>");
             b.xref_stream(12, "/Size 13 " + trailer);
             return b.bytes();
         },
         {}, {"OLD5"}, {"KEEP4", "NEW5"}},
        {"every member superseded by a later stream",
         [&] {
             PdfBuilder b = base();
             b.object_stream(10, {{4, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Note (OLD4) >>"}});
             b.object_stream(11, {{4, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Note (NEW4) >>"},
                                  {5, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Note (KEEP5) >>"}});
             b.xref_stream(12, "/Size 13 " + trailer);
             return b.bytes();
         },
         {11}, {"OLD4"}, {"NEW4", "KEEP5"}},
        {"stream number taken by a direct object",
         [&] {
             PdfBuilder b = base();
             b.object_stream(10, {{4, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Note (KEEP4) >>"},
                                  {5, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Note (KEEP5) >>"}});
             b.obj(10, "<< /Note (DIRECT10) >>");
             b.xref_stream(11, "/Size 12 " + trailer);
             return b.bytes();
         },
         {}, {}, {"KEEP4", "KEEP5", "DIRECT10"}},
        {"Info inside a stream",
         [&] {
             PdfBuilder b = base();
             b.object_stream(10, {{4, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Note (KEEP4) >>"},
                                  {6, "<< /Title (OLDTITLE) /Author (KEEPAUTHOR) >>"}});
             b.object_stream(20, {{5, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Note (KEEP5) >>"}});
             b.xref_stream(21, "/Size 22 /Info 6 0 R " + trailer);
             return b.bytes();
         },
         {20}, {"OLDTITLE"}, {"KEEP4", "KEEP5", "KEEPAUTHOR", "New title"}},
    };
    TempDir dir;
    for (const hand_case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string in = dir.file("in.pdf"), out = dir.file("out.pdf"), msg;
        write_file(in, c.make());
        {
            options_scope o(VELLIX_KEEP_STREAMS);
            ASSERT_EQ(vellix_write(in.c_str(), out.c_str(), "New title", nullptr, nullptr, nullptr), 1) << vellix_last_error();
        }
        EXPECT_EQ(run_command("qpdf --check " + q(out), &msg), 0) << msg;
        EXPECT_EQ(msg.find("WARNING"), std::string::npos) << msg;
        EXPECT_EQ(title_of(out), "New title");
        std::set<int> copied;
        for (const auto& [num, row] : compressed_rows(out)) copied.insert(row.first);
        EXPECT_EQ(copied, c.copied);
        const std::string got = read_file(out);
        for (const char* t : c.absent) EXPECT_EQ(got.find(t), std::string::npos) << t;
        for (const char* t : c.present) EXPECT_NE(got.find(t), std::string::npos) << t;
        // Every font the page names resolves (qpdf's view of object 4 and 5).
        for (int n : {4, 5}) {
            run_command("qpdf --show-object=" + std::to_string(n) + " " + q(out), &msg);
            EXPECT_NE(msg.find("/Type /Font"), std::string::npos) << n << ": " << msg;
        }
    }
}

// The encoder's output decodes to its input, through the library's inflater
// and (when present) zlib, for texts of each kind it meets.
TEST(Deflate, OutputInflatesToTheInput) {
    std::string rows;
    for (int i = 0; i < 20000; ++i) {
        rows.push_back(2);
        rows.push_back(0);
        rows.push_back(0);
        rows.push_back(static_cast<char>(i % 100 == 0 ? 1 : 0));
        rows.push_back(static_cast<char>(i % 7));
    }
    std::string noise;
    uint32_t x = 12345;
    for (int i = 0; i < 200000; ++i) noise.push_back(static_cast<char>((x = x * 1103515245u + 12345u) >> 24));
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "<< /Type /Page /Parent 3 0 R /Contents " + std::to_string(i) + " 0 R >>\n";
    const std::pair<const char*, std::string> inputs[] = {
        {"empty", ""}, {"one byte", "A"}, {"run", std::string(100000, 'z')}, {"rows", rows},
        {"noise", noise}, {"text", text},  {"short repeat", "abcabcabcabcabcabcabcabc"},
    };
    for (const auto& [name, in] : inputs) {
        SCOPED_TRACE(name);
        std::string z = deflate_compress(reinterpret_cast<const uint8_t*>(in.data()), in.size());
        std::vector<uint8_t> back(in.size() + 16);
        uint64_t n = 0;
        ASSERT_EQ(inflate_decompress(reinterpret_cast<const uint8_t*>(z.data()), z.size(), back.data(), back.size(), &n), 0);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(back.data()), static_cast<size_t>(n)), in);
#ifdef VELLIX_HAVE_ZLIB
        uLongf len = static_cast<uLongf>(back.size());
        ASSERT_EQ(uncompress(back.data(), &len, reinterpret_cast<const Bytef*>(z.data()), z.size()), Z_OK);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(back.data()), len), in);
#endif
        if (in == rows) {
            EXPECT_LT(z.size(), in.size() / 20);
        }
    }
}
