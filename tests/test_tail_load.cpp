// Incremental writes from the cross-reference sections alone (tail_loader)
// against the same writes from the full load: for every fixture the fast
// load takes, the written file is the same byte for byte, in place and into
// a copy; for every fixture it refuses, the write gives what the full load
// gives (bytes or message). A sweep over the public corpus compares the
// appended updates wherever the fast load applies.
#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/date.h"
#include "core/frame.h"
#include "load/doc.h"
#include "load/tail_load.h"
#include "support/pdf_builder.h"
#include "vellix.h"
#include "write/edits.h"
#include "write/incremental.h"
#include "xmp/xmp.h"

namespace fs = std::filesystem;

namespace {

const char* const ID = "/ID [<00112233445566778899AABBCCDDEEFF><00112233445566778899AABBCCDDEEFF>]";
const std::string PAGE = "<< /Type /Page /Parent 11 0 R /MediaBox [0 0 200 200] >>";
const std::string PAGES = "<< /Type /Pages /Kids [10 0 R] /Count 1 >>";
const std::string CATALOG = "<< /Type /Catalog /Pages 11 0 R >>";
const std::string CATALOG_XMP = "<< /Type /Catalog /Pages 11 0 R /Metadata 14 0 R >>";
const std::string INFO = "<< /Title (Old title) /Author (A) /Producer (P) >>";
const std::string PACKET = "<?xpacket begin=\"\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\"></x:xmpmeta><?xpacket end=\"w\"?>";

struct options_scope {
    unsigned prev;
    explicit options_scope(unsigned bits) : prev(vellix_set_options(bits)) {}
    ~options_scope() { vellix_set_options(prev); }
};

// The clock held still while both writes of one comparison run.
struct fixed_clock {
    fixed_clock() {
        struct timespec t{1748779200, 123456789};
        clock_fix(&t);
    }
    ~fixed_clock() { clock_fix(nullptr); }
};

// One row of a cross-reference stream the tests write themselves: free (0),
// at an offset (1), or member f3 of object stream f2 (2).
struct xrow {
    int num;
    int type;
    long f2;
    int f3;
};

void put_be(std::string* s, unsigned long v, int w) {
    for (int i = w - 1; i >= 0; --i) *s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Appends cross-reference stream `num` listing rows and itself, then
// startxref. packed: Flate with the PNG Up predictor, as most producers
// write them; otherwise stored.
void xref_stream_rows(PdfBuilder& b, int num, std::vector<xrow> rows, const std::string& dict, bool packed) {
    long at = b.size();
    rows.push_back({num, 1, at, 0});
    std::sort(rows.begin(), rows.end(), [](const xrow& a, const xrow& c) { return a.num < c.num; });
    std::string data, index, prior(7, '\0');
    for (size_t i = 0; i < rows.size();) {
        size_t j = i + 1;
        while (j < rows.size() && rows[j].num == rows[j - 1].num + 1) ++j;
        index += std::to_string(rows[i].num) + " " + std::to_string(j - i) + " ";
        for (; i < j; ++i) {
            std::string row;
            put_be(&row, static_cast<unsigned long>(rows[i].type), 1);
            put_be(&row, static_cast<unsigned long>(rows[i].f2), 4);
            put_be(&row, static_cast<unsigned long>(rows[i].f3), 2);
            if (packed) {
                data += '\x02';
                for (int k = 0; k < 7; ++k) data += static_cast<char>(row[k] - prior[k]);
                prior = row;
            } else {
                data += row;
            }
        }
    }
    index.pop_back();
    std::string d = "/Type /XRef /W [1 4 2] /Index [" + index + "] " + dict;
#ifdef VELLIX_HAVE_ZLIB
    if (packed) {
        d += " /Filter /FlateDecode /DecodeParms << /Columns 7 /Predictor 12 >>";
        data = zlib_compress(data);
    }
#endif
    b.stream(num, d, data);
    b.startxref(at);
}

PdfBuilder body(const std::string& catalog) {
    PdfBuilder b("1.6");
    b.obj(10, PAGE);
    b.obj(11, PAGES);
    b.obj(12, catalog);
    b.obj(13, INFO);
    return b;
}

std::string table_file() {
    PdfBuilder b = body(CATALOG);
    b.xref_trailer(std::string("/Size 14 /Root 12 0 R /Info 13 0 R ") + ID);
    return b.bytes();
}

std::string stream_file() {
    PdfBuilder b = body(CATALOG);
    b.xref_stream(14, std::string("/Size 15 /Root 12 0 R /Info 13 0 R ") + ID);
    return b.bytes();
}

std::string table_xmp_file() {
    PdfBuilder b = body(CATALOG_XMP);
    b.stream(14, "/Type /Metadata /Subtype /XML", PACKET);
    b.xref_trailer(std::string("/Size 15 /Root 12 0 R /Info 13 0 R ") + ID);
    return b.bytes();
}

// Catalog and Info in object stream 20, listed by a packed stream section.
std::string objstm_file(bool packed, bool xmp) {
    PdfBuilder b("1.7");
    b.obj(10, PAGE);
    b.obj(11, PAGES);
    if (xmp) b.stream(14, "/Type /Metadata /Subtype /XML", PACKET);
    b.object_stream(20, {{12, xmp ? CATALOG_XMP : CATALOG}, {13, INFO}});
    std::vector<xrow> rows = {{0, 0, 0, 65535}, {10, 1, b.offset_of(10), 0}, {11, 1, b.offset_of(11), 0},
                              {12, 2, 20, 0},   {13, 2, 20, 1},             {20, 1, b.offset_of(20), 0}};
    if (xmp) rows.push_back({14, 1, b.offset_of(14), 0});
    xref_stream_rows(b, 21, rows, std::string("/Size 22 /Root 12 0 R /Info 13 0 R ") + ID, packed);
    return b.bytes();
}

// A table whose trailer names a stream section (/XRefStm) holding the
// catalog and Info, which lie in an object stream.
std::string hybrid_file() {
    PdfBuilder b("1.5");
    b.obj(10, PAGE);
    b.obj(11, PAGES);
    b.object_stream(20, {{12, CATALOG}, {13, INFO}});
    long xs = b.size();
    std::string data;
    for (int idx = 0; idx < 2; ++idx) {
        put_be(&data, 2, 1);
        put_be(&data, 20, 4);
        put_be(&data, static_cast<unsigned long>(idx), 2);
    }
    b.stream(21, "/Type /XRef /Size 22 /W [1 4 2] /Index [12 2]", data);
    b.xref_trailer(std::string("/Size 22 /Root 12 0 R /Info 13 0 R /XRefStm ") + std::to_string(xs) + " " + ID);
    return b.bytes();
}

// An earlier update replaced the Info dictionary: the newest copy counts.
std::string table_updated_file() {
    PdfBuilder b = body(CATALOG);
    b.xref_trailer(std::string("/Size 14 /Root 12 0 R /Info 13 0 R ") + ID);
    b.obj(13, "<< /Title (Second) /Author (B) /Keywords [(k1) (k2)] >>");
    b.xref_trailer(std::string("/Size 14 /Root 12 0 R /Info 13 0 R ") + ID);
    return b.bytes();
}

std::string stream_updated_file() {
    PdfBuilder b = body(CATALOG);
    b.xref_stream(14, std::string("/Size 15 /Root 12 0 R /Info 13 0 R ") + ID);
    b.obj(13, "<< /Title (Second) /CreationDate (D:20200101000000Z) >>");
    b.xref_stream(15, std::string("/Size 16 /Root 12 0 R /Info 13 0 R ") + ID);
    return b.bytes();
}

// An object stream file updated with a new, direct Info dictionary.
std::string objstm_updated_file() {
    std::string base = objstm_file(true, false);
    PdfBuilder b("");
    b.raw(base);
    b.obj(13, "<< /Title (Direct again) >>");
    std::string prev = base.substr(base.rfind("startxref\n") + 10);
    prev = prev.substr(0, prev.find('\n'));
    xref_stream_rows(b, 22, {{13, 1, b.offset_of(13), 0}},
                     std::string("/Size 23 /Root 12 0 R /Info 13 0 R /Prev ") + prev + " " + ID, true);
    return b.bytes();
}

// A trailer without /Info (the update adds one) and one naming the catalog.
std::string no_info_file() {
    PdfBuilder b = body(CATALOG);
    b.xref_trailer(std::string("/Size 14 /Root 12 0 R ") + ID);
    return b.bytes();
}

std::string info_is_catalog_file() {
    PdfBuilder b = body(CATALOG);
    b.xref_trailer(std::string("/Size 14 /Root 12 0 R /Info 12 0 R ") + ID);
    return b.bytes();
}

// --- Unusual and damaged files (the table below says which the fast load takes)

std::string replace_once(std::string s, const std::string& from, const std::string& to) {
    size_t k = s.rfind(from);
    if (k != std::string::npos) s.replace(k, from.size(), to);
    return s;
}

std::string encrypted_file() {
    PdfBuilder b = body(CATALOG);
    b.obj(14, "<< /Filter /Standard /V 1 /R 2 /O <00> /U <00> /P -4 >>");
    b.xref_trailer(std::string("/Size 15 /Root 12 0 R /Info 13 0 R /Encrypt 14 0 R ") + ID);
    return b.bytes();
}

// The table row of the Info dictionary one byte past its header.
std::string wrong_offset_file() {
    PdfBuilder b = body(CATALOG);
    long off = b.offset_of(13);
    b.xref_trailer(std::string("/Size 14 /Root 12 0 R /Info 13 0 R ") + ID);
    char want[24], bad[24];
    std::snprintf(want, sizeof want, "%010ld", off);
    std::snprintf(bad, sizeof bad, "%010ld", off + 1);
    return replace_once(b.bytes(), want, bad);
}

// The row names object 13 at the offset of object 11.
std::string number_mismatch_file() {
    PdfBuilder b = body(CATALOG);
    long off13 = b.offset_of(13), off11 = b.offset_of(11);
    b.xref_trailer(std::string("/Size 14 /Root 12 0 R /Info 13 0 R ") + ID);
    char want[24], bad[24];
    std::snprintf(want, sizeof want, "%010ld", off13);
    std::snprintf(bad, sizeof bad, "%010ld", off11);
    return replace_once(b.bytes(), want, bad);
}

// A later update put the Info dictionary into an object stream while the
// old direct copy stays in the file: the loader keeps the direct copy, and so
// must the update.
std::string moved_into_objstm_file() {
    PdfBuilder b = body(CATALOG);
    b.xref_trailer(std::string("/Size 14 /Root 12 0 R /Info 13 0 R ") + ID);
    b.object_stream(20, {{13, "<< /Title (Compressed) >>"}});
    xref_stream_rows(b, 21, {{13, 2, 20, 0}, {20, 1, b.offset_of(20), 0}},
                     std::string("/Size 22 /Root 12 0 R /Info 13 0 R /Prev ") +
                         std::to_string(std::stol(b.bytes().substr(b.bytes().rfind("startxref\n") + 10))) + " " + ID,
                     true);
    return b.bytes();
}

// Object 13 lies at /Size: the update is numbered after the highest object,
// not after /Size.
std::string above_size_file() {
    PdfBuilder b = body(CATALOG);
    b.xref_trailer(std::string("/Size 13 /Root 12 0 R /Info 13 0 R ") + ID);
    return b.bytes();
}

// Rows of 19 bytes (one end-of-line byte).
std::string short_rows_file() {
    PdfBuilder b = body(CATALOG);
    b.xref_trailer(std::string("/Size 14 /Root 12 0 R /Info 13 0 R ") + ID);
    std::string s = b.bytes();
    size_t x = s.rfind("\nxref\n");
    std::string tail = s.substr(x);
    std::string rows;
    for (size_t i = 0; i < tail.size(); ++i)
        if (!(tail[i] == '\r' && i + 1 < tail.size() && tail[i + 1] == '\n')) rows += tail[i];
    return s.substr(0, x) + rows;
}

// The metadata stream's /Length is a reference.
std::string indirect_length_xmp_file() {
    PdfBuilder b = body(CATALOG_XMP);
    b.stream(14, "/Type /Metadata /Subtype /XML /Length 15 0 R", PACKET);
    b.obj(15, std::to_string(PACKET.size()));
    b.xref_trailer(std::string("/Size 16 /Root 12 0 R /Info 13 0 R ") + ID);
    return b.bytes();
}

// An object of a number above the others that no section lists: the scan
// still finds it and numbers the update after it.
std::string orphan_file() {
    PdfBuilder b = body(CATALOG);
    b.raw("30 0 obj\n<< /Orphan true >>\nendobj\n");
    b.xref_trailer(std::string("/Size 14 /Root 12 0 R /Info 13 0 R ") + ID);
    return b.bytes();
}

std::string bad_startxref_file() {
    std::string s = table_file();
    return s.substr(0, s.rfind("startxref\n")) + "startxref\n17\n%%EOF\n";
}

enum class edit { title, xmp };

write_request request_of(edit e) {
    write_request req;
    if (e == edit::title) {
        req.values.given = {"New title", nullptr, "Subject \xC3\xA9", nullptr};
        req.span = xref_span::written;
    } else {
        req.xmp = xmp_edit::replace;
        req.packet = PACKET;
    }
    return req;
}

// The output of one write (its bytes, or "error: " and the message): through
// path_write_opts, or through the full load and doc_write_opts.
std::string write_with(bool fast, const std::string& in, const std::string& out, const write_request& req) {
    clear_error();
    int r;
    if (fast) {
        r = path_write_opts(in.c_str(), out.c_str(), req);
    } else {
        pdf_doc doc;
        r = doc_load(in.c_str(), &doc, 0) == 0 ? doc_write_opts(doc, in.c_str(), out.c_str(), req) : 0;
    }
    if (r != 1) return std::string("error: ") + vellix_last_error();
    return read_file(out);
}

// Whether the fast load takes the file for this edit, as path_write_opts
// decides: a partial table serves an XMP write only with the catalog's stream.
bool fast_load_takes(const std::string& path, edit e) {
    pdf_doc doc;
    bool whole = false;
    if (!doc_load_sections(path.c_str(), &doc, &whole)) return false;
    if (whole || e == edit::title) return true;
    int32_t num = xmp_catalog_ref(doc);
    return num > 0 && doc_find(doc, num) != nullptr;
}

// The layout-check limit for one scope.
struct verify_scope {
    explicit verify_scope(size_t objects) { sections_verify_limit(objects); }
    ~verify_scope() { sections_verify_limit(SECTIONS_VERIFY_DEFAULT); }
};

// text with every occurrence of path replaced by "FILE".
std::string without_path(std::string text, const std::string& path) {
    for (size_t k = text.find(path); k != std::string::npos; k = text.find(path, k)) text.replace(k, path.size(), "FILE");
    return text;
}

// Every row of the object table with the fields a writer reads, one per line.
std::string table_text(const pdf_doc& doc) {
    std::string t = "max " + std::to_string(doc.max_obj) + "\n";
    for (const obj_entry& e : doc.objs) {
        const uint8_t* text = doc_row_text(doc, e);
        t += std::to_string(e.num) + " " + std::to_string(e.gen) + " " + std::to_string(e.obj_pos) + " " +
             std::to_string(e.dict_pos) + " " + std::to_string(e.stream_kw) + " " + std::to_string(e.data_start) +
             " " + std::to_string(e.data_end) + " " + std::to_string(e.endobj_pos) + " " +
             std::to_string(e.stream_len) + " " + std::to_string(e.has_stream) + " " + std::to_string(e.in_objstm) +
             " " + (text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(e.objstm_len)) : "") +
             "\n";
    }
    return t;
}

struct fixture {
    const char* name;
    std::string (*make)();
    edit what;
    bool checked;  // the fast load takes it with the layout check
    int trusted;   // trusting the sections: 1 taken, 0 refused, -1 damage it cannot see (not run)
};

const fixture FIXTURES[] = {
    {"table", table_file, edit::title, true, 1},
    {"stream", stream_file, edit::title, true, 1},
    {"stream packed, objstm", [] { return objstm_file(true, false); }, edit::title, true, 1},
    {"stream stored, objstm", [] { return objstm_file(false, false); }, edit::title, true, 1},
    {"hybrid", hybrid_file, edit::title, true, 1},
    {"table with an update", table_updated_file, edit::title, true, 1},
    {"stream with an update", stream_updated_file, edit::title, true, 1},
    {"objstm with a direct update", objstm_updated_file, edit::title, true, 1},
    {"no Info", no_info_file, edit::title, true, 1},
    {"Info is the catalog", info_is_catalog_file, edit::title, true, 1},
    {"table XMP", table_xmp_file, edit::xmp, true, 1},
    {"objstm XMP", [] { return objstm_file(true, true); }, edit::xmp, true, 1},
    {"table XMP title", table_xmp_file, edit::title, true, 1},
    {"moved into an object stream", moved_into_objstm_file, edit::title, true, 0},
    {"object at /Size", above_size_file, edit::title, true, 0},
    {"XMP added (no /Metadata)", table_file, edit::xmp, true, 0},
    {"XMP stream with indirect length", indirect_length_xmp_file, edit::xmp, true, 0},
    {"encrypted", encrypted_file, edit::title, false, 0},
    {"wrong offset", wrong_offset_file, edit::title, false, 0},
    {"number mismatch", number_mismatch_file, edit::title, false, 0},
    {"19-byte rows", short_rows_file, edit::title, false, 0},
    {"object no section lists", orphan_file, edit::title, false, -1},
    {"startxref to nowhere", bad_startxref_file, edit::title, false, 0},
};

}  // namespace

// Each fixture, with the layout check and trusting the sections, with the
// tool's options and with the incremental bit alone, written into a copy
// and in place three times over (each update on top of the last): the fast
// and the full path give the same bytes or message.
TEST(TailLoad, FastAndFullWritesAgree) {
    TempDir dir;
    for (const fixture& f : FIXTURES) {
        for (bool trusting : {false, true}) {
            if (trusting && f.trusted < 0) continue;
            verify_scope v(trusting ? 0 : SECTIONS_VERIFY_DEFAULT);
            for (unsigned bits : {VELLIX_INCREMENTAL | VELLIX_UNICODE | VELLIX_RESOLVE, VELLIX_INCREMENTAL}) {
                SCOPED_TRACE(std::string(f.name) + (trusting ? " trusting" : " checked") + " options " +
                             std::to_string(bits));
                options_scope o(bits);
                fixed_clock clock;
                std::string bytes = f.make();
                std::string a = dir.file("a.pdf"), b = dir.file("b.pdf");
                write_file(a, bytes);
                EXPECT_EQ(fast_load_takes(a, f.what), trusting ? f.trusted == 1 : f.checked);
                write_request req = request_of(f.what);
                std::string fast_out = write_with(true, a, dir.file("fast-out.pdf"), req);
                std::string full_out = write_with(false, a, dir.file("full-out.pdf"), req);
                EXPECT_EQ(fast_out, full_out);
                write_file(b, bytes);
                for (int round = 0; round < 3; ++round) {
                    SCOPED_TRACE(round);
                    std::string fa = write_with(true, a, a, req);
                    std::string fb = write_with(false, b, b, req);
                    ASSERT_EQ(without_path(fa, a), without_path(fb, b));
                    EXPECT_EQ(read_file(a), read_file(b));
                }
            }
        }
    }
}

// The export itself takes the fast path in place: the file it leaves is the
// one the full path leaves.
TEST(TailLoad, ExportInPlaceMatchesFullPath) {
    TempDir dir;
    options_scope o(VELLIX_INCREMENTAL | VELLIX_UNICODE | VELLIX_RESOLVE);
    fixed_clock clock;
    for (const std::string& bytes : {table_file(), objstm_file(true, false), hybrid_file()}) {
        std::string a = dir.file("a.pdf"), b = dir.file("b.pdf");
        write_file(a, bytes);
        write_file(b, bytes);
        ASSERT_EQ(vellix_write(a.c_str(), a.c_str(), "New title", nullptr, "Subject \xC3\xA9", nullptr), 1)
            << vellix_last_error();
        ASSERT_NE(write_with(false, b, b, request_of(edit::title)).rfind("error", 0), 0u);
        EXPECT_EQ(read_file(a), read_file(b));
    }
}

// The update an incremental write of e appends to doc (loaded from path),
// or "error: " and the message.
std::string update_of(const pdf_doc& doc, const std::string& path, edit e) {
    std::string u;
    size_t tail = 0;
    clear_error();
    if (!incremental_update_build(doc, path.c_str(), request_of(e), &u, &tail))
        return std::string("error: ") + vellix_last_error();
    return u + " tail " + std::to_string(tail);
}

// The public corpus and the writers' fuzz inputs: wherever the fast load
// takes a file with the layout check, the full load takes it too, with the
// same object table, catalog and Info, and the updates of set title and of
// an XMP packet are the same; trusting the sections of such a file gives the
// same updates again.
TEST(TailLoad, CorpusUpdatesAgree) {
    const fs::path corpus = VELLIX_CORPUS_DIR;
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "corpus missing";
    options_scope o(VELLIX_INCREMENTAL | VELLIX_UNICODE | VELLIX_RESOLVE);
    fixed_clock clock;
    int checked = 0, trusted = 0;
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(corpus))
        if (e.path().extension() == ".pdf") files.push_back(e.path());
    // The writers' fuzz seeds and regressions: damaged files of every kind.
    for (const char* dir : {"/fuzz/seeds/writers", "/tests/fuzz_regressions/writers"}) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(std::string(VELLIX_SOURCE_DIR) + dir, ec))
            if (e.is_regular_file()) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& p : files) {
        const std::string path = p.string();
        pdf_doc fast;
        bool whole = false;
        {
            verify_scope every(SIZE_MAX);
            if (!doc_load_sections(path.c_str(), &fast, &whole)) continue;
        }
        SCOPED_TRACE(path);
        ++checked;
        EXPECT_TRUE(whole);
        pdf_doc full;
        ASSERT_EQ(doc_load(path.c_str(), &full, 0), 0) << vellix_last_error();
        ASSERT_EQ(table_text(fast), table_text(full));
        EXPECT_EQ(fast.root, full.root);
        EXPECT_EQ(fast.info, full.info);
        verify_scope v(0);
        pdf_doc part;
        bool part_whole = true;
        bool part_ok = doc_load_sections(path.c_str(), &part, &part_whole);
        if (part_ok) {
            ++trusted;
            EXPECT_FALSE(part_whole);
        }
        for (edit e : {edit::title, edit::xmp}) {
            std::string want = update_of(full, path, e);
            EXPECT_EQ(update_of(fast, path, e), want);
            bool serves = e == edit::title || (xmp_catalog_ref(part) > 0 && doc_find(part, xmp_catalog_ref(part)));
            if (part_ok && serves) {
                EXPECT_EQ(update_of(part, path, e), want) << "trusting the sections";
            }
        }
    }
    EXPECT_GT(checked, 0);
    EXPECT_GT(trusted, 0);
    std::printf("corpus: %d files taken with the layout check, %d of them trusting the sections\n", checked, trusted);
}
