// Loading whole documents: failures and their messages, the header version,
// the choice of one row per object number, catalog, Info and pages, and a
// robustness sweep over the sample corpus.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "core/frame.h"
#include "vellix.h"
#include "load/doc.h"
#include "load/load_steps.h"
#include "syntax/lexer.h"
#include "support/doc_bytes.h"
#include "support/pdf_builder.h"

namespace {

// A loaded document that is released at scope end.
struct Loaded {
    pdf_doc doc;
    int rc;
    explicit Loaded(const std::string& path, int allow_encrypted = 0) {
        rc = doc_load(path.c_str(), &doc, allow_encrypted);
    }
};

// Writes bytes into the directory and returns the path.
std::string put(const TempDir& dir, const std::string& bytes, const std::string& name = "t.pdf") {
    std::string p = dir.file(name);
    write_file(p, bytes);
    return p;
}

std::vector<int32_t> page_nums(const pdf_doc& d) {
    std::vector<int32_t> v;
    for (const page_entry& p : d.pages) v.push_back(p.page_obj);
    return v;
}

std::vector<int32_t> nums(const pdf_doc& d) {
    std::vector<int32_t> v;
    for (const obj_entry& e : d.objs) v.push_back(e.num);
    return v;
}

// Text of a file row from its header to its "endobj".
std::string row_text(const pdf_doc& d, const obj_entry& e) {
    return std::string(reinterpret_cast<const char*>(d.data) + e.obj_pos,
                       static_cast<size_t>(e.endobj_pos - e.obj_pos));
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

const std::string NOT_A_PDF = "no PDF objects found \xE2\x80\x94 not a PDF: ";

}  // namespace

TEST(Loader, MinimalDocument) {
    TempDir dir;
    Loaded l(put(dir, minimal_pdf(3, "<< /Title (T) >>")));
    ASSERT_EQ(l.rc, 0) << g_err;
    EXPECT_STREQ(l.doc.version, "1.4");
    EXPECT_EQ(l.doc.root, 1);
    EXPECT_EQ(l.doc.info, 6);
    EXPECT_EQ(l.doc.trailer_root, 1);
    EXPECT_EQ(l.doc.trailer_info, 6);
    EXPECT_EQ(l.doc.encrypted, 0);
    EXPECT_EQ(l.doc.encrypt_obj, -1);
    EXPECT_EQ(l.doc.max_obj, 6);
    EXPECT_EQ(nums(l.doc), (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(l.doc.pages_ok, 1);
    EXPECT_EQ(page_nums(l.doc), (std::vector<int32_t>{3, 4, 5}));
    ASSERT_NE(doc_find(l.doc, 6), nullptr);
    EXPECT_EQ(doc_find(l.doc, 6)->num, 6);
    for (int32_t missing : {7, 0, -1, 1 << 30}) EXPECT_EQ(doc_find(l.doc, missing), nullptr) << missing;
}

TEST(Loader, Failures) {
    TempDir dir;
    PdfBuilder enc;
    enc.obj(1, "<< /Type /Catalog >>").xref_trailer("/Root 1 0 R /Encrypt 1 0 R");
    struct Case {
        const char* name;
        std::string bytes;  // written to the file; "-" for no file at all
        int allow_encrypted;
        std::string message;  // after substituting the path
    };
    const Case cases[] = {
        {"missing file", "-", 0, "cannot open %s"},
        {"empty file", "", 0, "empty input file: %s"},
        {"one byte", "x", 0, NOT_A_PDF + "%s"},
        {"header without objects", "%PDF-1.7\n%%EOF\n", 0, NOT_A_PDF + "%s"},
        {"only broken candidates", "%PDF-1.4\n1 0 obj << /Length 3 >> stream\nabc\n", 0, NOT_A_PDF + "%s"},
        {"only numbers above the limit", "8388608 0 obj 1 endobj", 0, NOT_A_PDF + "%s"},
        {"only an object stream container", "1 0 obj << /Type /ObjStm /N 0 /First 0 /Length 0 >> stream\n\nendstream endobj",
         0, NOT_A_PDF + "%s"},
        {"encrypted", enc.bytes(), 0, "encrypted PDFs are not supported: %s"},
    };
    for (const Case& c : cases) {
        std::string path = dir.file(std::string(c.name) + ".pdf");
        if (c.bytes != "-") write_file(path, c.bytes);
        std::string want = c.message;
        want.replace(want.find("%s"), 2, path);
        clear_error();
        Loaded l(path, c.allow_encrypted);
        EXPECT_EQ(l.rc, -1) << c.name;
        EXPECT_EQ(std::string(g_err), want) << c.name;
    }
}

TEST(Loader, NullPath) {
    clear_error();
    pdf_doc d;
    EXPECT_EQ(doc_load(nullptr, &d, 0), -1);
    EXPECT_STREQ(g_err, "NULL path argument");
    d = pdf_doc{};
}

// A document whose objects, trailer and startxref offset all lie beyond
// `base`: the header, a zero-filled gap up to base, then the body.
std::string far_document(const TempDir& dir, const std::string& name, long long base) {
    PdfBuilder b("");
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>").obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>");
    b.obj(3, "<< /Type /Page >>").obj(4, "<< /Type /Page >>");
    b.obj(5, "<< /Title (Far) /Producer (P) >>");
    long xref = b.size();
    b.raw("xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Root 1 0 R /Info 5 0 R /Size 6 >>\n");
    std::string body = b.bytes() + "startxref\n" + std::to_string(base + xref) + "\n%%EOF\n";
    std::string path = dir.file(name);
    write_file(path, "%PDF-1.6\n");
    // A sparse gap: no disk space is used.
    if (truncate(path.c_str(), base) != 0) return "";
    FILE* f = std::fopen(path.c_str(), "ab");
    if (!f) return "";
    bool ok = std::fwrite(body.data(), 1, body.size(), f) == body.size();
    return std::fclose(f) == 0 && ok ? path : "";
}

TEST(Loader, FileBeyondTwoGigabytesLoadsLikeASmallOne) {
    TempDir dir;
    const long long base = (1LL << 31) + 4096;  // every position past the signed 32-bit range
    std::string small = far_document(dir, "small.pdf", 4096);
    std::string big = far_document(dir, "big.pdf", base);
    if (big.empty()) GTEST_SKIP() << "no sparse file of that size here";
    {
        Loaded l(big);
        ASSERT_EQ(l.rc, 0) << g_err;
        EXPECT_EQ(l.doc.len, static_cast<pos>(std::filesystem::file_size(big)));
        EXPECT_EQ(l.doc.trailer_root, 1);  // found through the startxref offset above 2 GiB
        EXPECT_EQ(l.doc.info, 5);
        EXPECT_EQ(page_nums(l.doc), (std::vector<int32_t>{3, 4}));
        const obj_entry* e = doc_find(l.doc, 5);
        ASSERT_NE(e, nullptr);
        EXPECT_GT(e->obj_pos, base);
        EXPECT_EQ(row_text(l.doc, *e), "5 0 obj\n<< /Title (Far) /Producer (P) >>\n");
    }
    // The reports agree with the small file's, the file size aside.
    auto without_size = [](std::string json) {
        size_t k = json.find(",\"file_size\":");
        size_t e = json.find(',', k + 1);
        return k == std::string::npos ? json : json.erase(k, e - k);
    };
    const char* a = vellix_read(small.c_str());
    ASSERT_NE(a, nullptr) << vellix_last_error();
    std::string small_json = a;
    const char* r = vellix_read(big.c_str());
    ASSERT_NE(r, nullptr) << vellix_last_error();
    std::string big_json = r;
    EXPECT_NE(big_json.find("\"title\":\"Far\""), std::string::npos) << big_json;
    EXPECT_NE(big_json.find(",\"file_size\":" + std::to_string(std::filesystem::file_size(big)) + ","),
              std::string::npos)
        << big_json;
    EXPECT_EQ(without_size(big_json), without_size(small_json));
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELLIX_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VELLIX_UNDER_SANITIZER 1
#endif
#endif

// Loads path in a child whose address space is capped at its current size
// plus `room` bytes. 0: loaded with `rows` rows; 1: failed with "out of
// memory"; 4: the file itself could not be read into memory; 2: anything
// else (a smaller table, another message).
int load_with_room(const std::string& path, size_t rows, uint64_t room) {
    pid_t pid = fork();
    if (pid == 0) {
        uint64_t vm_kb = 0;
        if (FILE* f = std::fopen("/proc/self/status", "r")) {
            char line[256];
            while (std::fgets(line, sizeof line, f))
                if (std::sscanf(line, "VmSize: %lu kB", &vm_kb) == 1) break;
            std::fclose(f);
        }
        rlimit lim{vm_kb * 1024 + room, vm_kb * 1024 + room};
        if (vm_kb == 0 || setrlimit(RLIMIT_AS, &lim) != 0) _exit(3);
        pdf_doc d;
        int rc = doc_load(path.c_str(), &d, 0);
        if (rc == 0) _exit(d.objs.size() == rows ? 0 : 2);
        if (std::strncmp(g_err, "read error on ", 14) == 0) _exit(4);
        _exit(std::strcmp(g_err, "out of memory") == 0 ? 1 : 2);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST(Loader, MemoryExhaustionFailsTheLoadInsteadOfDroppingRows) {
#ifdef VELLIX_UNDER_SANITIZER
    GTEST_SKIP() << "the sanitizer runtime reserves address space of its own";
#else
    constexpr int N = 300000;
    std::string text = "%PDF-1.4\n";
    for (int i = 1; i <= N; ++i) text += std::to_string(i) + " 0 obj " + std::to_string(i) + " endobj\n";
    TempDir dir;
    std::string path = put(dir, text);
    int failed = 0, loaded = 0;
    for (uint64_t mib : {4, 8, 12, 16, 24, 32, 48, 64, 256}) {
        int r = load_with_room(path, N, mib << 20);
        ASSERT_TRUE(r == 0 || r == 1 || r == 4) << "room " << mib << " MiB: result " << r;
        loaded += r == 0;
        failed += r == 1;
    }
    EXPECT_GT(failed, 0);  // some cap was too small for the table
    EXPECT_GT(loaded, 0);  // and the largest was enough
#endif
}

TEST(Loader, EncryptedDocumentForTheSecurityReport) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>").obj(2, "<< /Type /Pages /Kids [3 0 R] >>").obj(3, "<< /Type /Page >>");
    b.obj(4, "<< /Title <ab> >>").obj(5, "<< /Filter /Standard /V 2 >>");
    b.xref_trailer("/Root 1 0 R /Info 4 0 R /Encrypt 5 0 R");
    TempDir dir;
    Loaded l(put(dir, b.bytes()), 1);
    ASSERT_EQ(l.rc, 0) << g_err;
    EXPECT_EQ(l.doc.encrypted, 1);
    EXPECT_EQ(l.doc.encrypt_obj, 5);
    EXPECT_EQ(l.doc.info, 4);
    EXPECT_EQ(l.doc.root, -1);
    EXPECT_TRUE(l.doc.pages.empty());
    EXPECT_EQ(l.doc.pages_ok, 0);
    Loaded refused(put(dir, b.bytes()), 0);
    EXPECT_EQ(refused.rc, -1);
}

TEST(Loader, ObjectWithoutHeaderOrTrailer) {
    TempDir dir;
    Loaded l(put(dir, "1 0 obj\n<< >>\nendobj\n"));
    ASSERT_EQ(l.rc, 0) << g_err;
    EXPECT_STREQ(l.doc.version, "");
    EXPECT_EQ(l.doc.root, 1);
    EXPECT_EQ(l.doc.info, -1);
    EXPECT_EQ(l.doc.trailer_root, -1);
    EXPECT_EQ(l.doc.pages_ok, 0);
    EXPECT_TRUE(l.doc.pages.empty());
}

TEST(Loader, Version) {
    struct Case {
        std::string after;  // bytes after "%PDF-"
        const char* version;
    };
    const Case cases[] = {
        {"1.7\n", "1.7"},  {"2.0\n", "2.0"}, {"1.10\n", "1.10"},     {".5\n", ".5"},
        {"12.3\n", "12"},  {"x\n", ""},      {"1.7abc\n", "1.7"},    {"1.\n", "1."},
        {"1.23456789012345678\n", "1.2345678901234"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        std::string body = "%PDF-" + c.after;
        Loaded l(put(dir, body + "1 0 obj 1 endobj\n"));
        ASSERT_EQ(l.rc, 0) << c.after;
        EXPECT_STREQ(l.doc.version, c.version) << c.after;
    }
    // Where the header may stand.
    struct Place {
        std::string before;
        const char* version;
    };
    const Place places[] = {
        {std::string(1023, ' '), "1.4"}, {std::string(1024, ' '), ""}, {"junk\n", "1.4"},
        {"x", ""},                       {"%!PS %PDF-1.3 ", "1.3"},      // first header wins
    };
    for (const Place& p : places) {
        Loaded l(put(dir, p.before + "%PDF-1.4\n1 0 obj 1 endobj\n"));
        ASSERT_EQ(l.rc, 0);
        EXPECT_STREQ(l.doc.version, p.version) << p.before.size();
    }
    // The header needs eight bytes from its start: seven at the end of the
    // file are not seen, eight are.
    Loaded seven(put(dir, "1 0 obj 1 endobj\n%PDF-1."));
    EXPECT_STREQ(seven.doc.version, "");
    Loaded eight(put(dir, "1 0 obj 1 endobj\n%PDF-1.x"));
    EXPECT_STREQ(eight.doc.version, "1.");
}

TEST(Loader, IncrementalUpdateKeepsTheNewestRevision) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>").obj(2, "<< /Type /Pages /Kids [3 0 R] >>");
    b.obj(3, "<< /Type /Page >>").obj(5, "<< /Title (old) >>");
    b.xref_trailer("/Root 1 0 R /Info 5 0 R");
    b.obj(5, "<< /Title (new) >>").xref_trailer("/Root 1 0 R /Info 5 0 R");
    TempDir dir;
    Loaded l(put(dir, b.bytes()));
    ASSERT_EQ(l.rc, 0) << g_err;
    EXPECT_EQ(nums(l.doc), (std::vector<int32_t>{1, 2, 3, 5}));
    EXPECT_NE(row_text(l.doc, *doc_find(l.doc, 5)).find("(new)"), std::string::npos);
    EXPECT_EQ(l.doc.info, 5);
}

TEST(Loader, RemovedRowDoesNotReorderRevisions) {
    // A false candidate inside stream data before two revisions of the Info
    // dictionary: after its removal the newest revision must still win.
    std::string inner = "9 0 obj << /Fake 1 >> endobj";
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog >>").stream(2, "", inner).obj(5, "<< /Title (old) >>");
    b.xref_trailer("/Root 1 0 R /Info 5 0 R");
    b.obj(5, "<< /Title (new) >>").xref_trailer("/Root 1 0 R /Info 5 0 R");
    TempDir dir;
    Loaded l(put(dir, b.bytes()));
    ASSERT_EQ(l.rc, 0) << g_err;
    EXPECT_EQ(doc_find(l.doc, 9), nullptr);
    ASSERT_NE(doc_find(l.doc, 5), nullptr);
    EXPECT_NE(row_text(l.doc, *doc_find(l.doc, 5)).find("(new)"), std::string::npos);
}

TEST(Loader, DirectObjectBeatsCompressedCopy) {
    // Object 5 as a direct object early in the file and again inside a later
    // object stream: the direct row stays. Object 6 exists only compressed,
    // and the catalog is found in the object stream through the trailer.
    PdfBuilder b;
    b.obj(5, "<< /Title (direct) >>");
    b.object_stream(10, {{5, "<< /Title (packed) >>"}, {6, "<< /Type /Catalog /Pages 7 0 R >>"}, {7, "<< /Type /Pages /Kids [8 0 R] >>"}});
    b.obj(8, "<< /Type /Page >>");
    b.xref_trailer("/Root 6 0 R /Info 5 0 R");
    TempDir dir;
    Loaded l(put(dir, b.bytes()));
    ASSERT_EQ(l.rc, 0) << g_err;
    EXPECT_EQ(doc_find(l.doc, 10), nullptr);  // the container is dropped
    const obj_entry* five = doc_find(l.doc, 5);
    ASSERT_NE(five, nullptr);
    EXPECT_EQ(five->in_objstm, 0);
    const obj_entry* six = doc_find(l.doc, 6);
    ASSERT_NE(six, nullptr);
    EXPECT_EQ(six->in_objstm, 1);
    EXPECT_EQ(l.doc.root, 6);
    EXPECT_EQ(l.doc.info, 5);
    EXPECT_EQ(page_nums(l.doc), (std::vector<int32_t>{8}));
    EXPECT_EQ(l.doc.pages_ok, 1);
}

TEST(Loader, ObjectNumberLimit) {
    TempDir dir;
    Loaded l(put(dir, "8388607 0 obj 1 endobj\n8388608 0 obj 2 endobj\n3 0 obj 3 endobj\n"));
    ASSERT_EQ(l.rc, 0) << g_err;
    EXPECT_EQ(nums(l.doc), (std::vector<int32_t>{8388607, 3}));
    EXPECT_EQ(l.doc.max_obj, 8388607);
    EXPECT_NE(doc_find(l.doc, 8388607), nullptr);
    EXPECT_EQ(doc_find(l.doc, 8388608), nullptr);
}

namespace {

obj_entry direct_row(int32_t num, int32_t tag) {
    obj_entry e;
    e.num = num;
    e.gen = tag;  // tells rows of one number apart in the assertions
    return e;
}

obj_entry compressed_row(int32_t num, int32_t tag) {
    obj_entry e = direct_row(num, tag);
    e.in_objstm = 1;
    return e;
}

std::vector<std::pair<int32_t, int32_t>> num_tags(const pdf_doc& d) {
    std::vector<std::pair<int32_t, int32_t>> v;
    for (const obj_entry& e : d.objs) v.emplace_back(e.num, e.gen);
    return v;
}

}  // namespace

TEST(Loader, SelectionRules) {
    // The container test reads /ObjStm from the file bytes.
    std::string s = "4 0 obj << /Type /ObjStm /N 1 /First 4 >> stream\n7 0 3\nendstream endobj";
    pdf_doc d = doc_of(s);
    obj_entry container = direct_row(4, 0);
    container.obj_pos = 0;
    container.dict_pos = static_cast<int32_t>(s.find("<<"));
    container.stream_kw = static_cast<int32_t>(s.find("stream"));
    container.has_stream = 1;
    d.objs = {direct_row(5, 1),      compressed_row(5, 2), direct_row(6, 3),       container,
              compressed_row(7, 4),  compressed_row(7, 5), direct_row(5, 6),       compressed_row(8, 7),
              direct_row(9000000, 8), direct_row(6, 9),    compressed_row(10, 10), direct_row(10, 11)};
    doc_select(&d);
    // Last direct row wins over every compressed copy, the last compressed
    // row wins among compressed ones; table order is kept.
    EXPECT_EQ(num_tags(d), (std::vector<std::pair<int32_t, int32_t>>{{7, 5}, {5, 6}, {8, 7}, {6, 9}, {10, 11}}));
    EXPECT_EQ(d.max_obj, 10);
}

TEST(Loader, CatalogChoice) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, std::string>> objs;
        std::string trailer;
        int32_t root;
    };
    const Case cases[] = {
        {"trailer root", {{1, "<< /Type /Catalog >>"}, {2, "<< /Type /Catalog >>"}}, "/Root 2 0 R", 2},
        {"trailer root missing", {{1, "<< /A 1 >>"}, {2, "<< /Type /Catalog >>"}}, "/Root 9 0 R", 2},
        {"no trailer root", {{1, "<< /A 1 >>"}, {3, "<< /Type/Catalog >>"}, {2, "<< /Type /Catalog >>"}}, "/Size 3", 3},
        {"key anywhere in the dictionary", {{1, "<< /A 1 >>"}, {2, "<< /X (/Catalog) >>"}}, "", 2},
        {"not the key /Catalogue", {{2, "<< /Type /Catalogue >>"}, {3, "<< /Type /Catalog#20 >>"}}, "", 3},
        {"row without dictionary skipped", {{2, "/Catalog"}, {3, "<< /Type /Catalog >>"}}, "", 3},
        {"none: object 1", {{4, "<< >>"}}, "", 1},
    };
    TempDir dir;
    for (const Case& c : cases) {
        PdfBuilder b;
        for (const auto& [n, body] : c.objs) b.obj(n, body);
        if (!c.trailer.empty()) b.xref_trailer(c.trailer);
        Loaded l(put(dir, b.bytes()));
        ASSERT_EQ(l.rc, 0) << c.name << ": " << g_err;
        EXPECT_EQ(l.doc.root, c.root) << c.name;
    }
    // The search for /Catalog runs to endobj, so a key in stream data counts.
    PdfBuilder b;
    b.stream(3, "/Type /XObject", "/Catalog").obj(4, "<< /Type /Catalog >>");
    Loaded l(put(dir, b.bytes()));
    EXPECT_EQ(l.doc.root, 3);
}

TEST(Loader, InfoChoice) {
    TempDir dir;
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog >>").obj(2, "<< /Title (t) >>").xref_trailer("/Root 1 0 R /Info 2 0 R");
    Loaded l(put(dir, b.bytes()));
    EXPECT_EQ(l.doc.info, 2);
    PdfBuilder m;
    m.obj(1, "<< /Type /Catalog >>").obj(2, "<< /Title (t) /Producer (p) >>").xref_trailer("/Root 1 0 R /Info 7 0 R");
    Loaded lm(put(dir, m.bytes()));
    EXPECT_EQ(lm.doc.trailer_info, 7);
    EXPECT_EQ(lm.doc.info, -1);  // no search here
}

TEST(Loader, PageTreeStart) {
    struct Case {
        const char* name;
        std::string catalog;
        std::vector<int32_t> pages;
        int pages_ok;
    };
    const Case cases[] = {
        {"catalog /Pages", "<< /Type /Catalog /Pages 2 0 R >>", {3, 4}, 1},
        {"first usable /Pages", "<< /Type /Catalog /PageMode /Pages /Pages -1 /Pages 2 0 R >>", {3, 4}, 1},
        {"/Pages names a page", "<< /Type /Catalog /Pages 3 0 R >>", {3}, 1},
        {"/Pages names a missing object", "<< /Type /Catalog /Pages 9 0 R >>", {}, 0},
        {"no /Pages", "<< /Type /Catalog >>", {}, 0},
        {"catalog is a page-tree node", "<< /Type /Pages /Kids [4 0 R] >>", {4}, 1},
        {"catalog is a page", "<< /Type /Page >>", {1}, 1},
        {"catalog without dictionary", "[/Pages 2 0 R]", {}, 0},
    };
    TempDir dir;
    for (const Case& c : cases) {
        PdfBuilder b;
        b.obj(1, c.catalog).obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] >>");
        b.obj(3, "<< /Type /Page >>").obj(4, "<< /Type /Page >>").xref_trailer("/Root 1 0 R");
        Loaded l(put(dir, b.bytes()));
        ASSERT_EQ(l.rc, 0) << c.name << ": " << g_err;
        EXPECT_EQ(l.doc.root, 1) << c.name;
        EXPECT_EQ(page_nums(l.doc), c.pages) << c.name;
        EXPECT_EQ(l.doc.pages_ok, c.pages_ok) << c.name;
    }
    // A root named by the trailer but absent: no catalog row, no pages.
    PdfBuilder b;
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] >>").obj(3, "<< /Type /Page >>").xref_trailer("/Root 9 0 R");
    Loaded l(put(dir, b.bytes()));
    ASSERT_EQ(l.rc, 0);
    EXPECT_EQ(l.doc.root, 1);
    EXPECT_EQ(l.doc.pages_ok, 0);
}

TEST(Loader, DictSpan) {
    std::string s = "1 0 obj << /A 1 >> endobj\n2 0 obj << /Length 1 >> stream\nx\nendstream endobj\n3 0 obj 7 endobj\n";
    TempDir dir;
    Loaded l(put(dir, s));
    ASSERT_EQ(l.rc, 0);
    dict_view a = doc_dict_span(l.doc, *doc_find(l.doc, 1));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(a.text) + a.start, a.end - a.start), "<< /A 1 >> ");
    dict_view b = doc_dict_span(l.doc, *doc_find(l.doc, 2));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.text) + b.start, b.end - b.start), "<< /Length 1 >> ");
    EXPECT_EQ(doc_dict_span(l.doc, *doc_find(l.doc, 3)).text, nullptr);
    obj_entry packed;
    const uint8_t text[] = "<< /B 2 >>";
    packed.in_objstm = 1;
    packed.objstm_text = text;
    packed.objstm_len = 10;
    dict_view c = doc_dict_span(l.doc, packed);
    EXPECT_EQ(c.text, text);
    EXPECT_EQ(c.start, 0);
    EXPECT_EQ(c.end, 10);
}

TEST(Loader, ReloadDiscardsPreviousContents) {
    TempDir dir;
    pdf_doc d;
    ASSERT_EQ(doc_load(put(dir, minimal_pdf(2), "a.pdf").c_str(), &d, 0), 0);
    ASSERT_EQ(doc_load(put(dir, minimal_pdf(5), "b.pdf").c_str(), &d, 0), 0);
    EXPECT_EQ(d.pages.size(), 5u);
    const size_t rows = d.objs.size();
    // A failed load leaves nothing of the document before it: only the new
    // file's bytes, no rows, pages or index entries.
    EXPECT_EQ(doc_load(put(dir, "x", "c.pdf").c_str(), &d, 0), -1);
    EXPECT_GT(rows, 0u);
    EXPECT_NE(d.data, nullptr);
    EXPECT_EQ(d.len, 1);
    EXPECT_TRUE(d.objs.empty());
    EXPECT_TRUE(d.pages.empty());
    EXPECT_TRUE(d.arena.items.empty());
    EXPECT_EQ(doc_find(d, 1), nullptr);
    EXPECT_EQ(d.trailer_root, -1);
    EXPECT_EQ(d.max_obj, 0);
    // And a load that fails before reading anything leaves an empty record.
    ASSERT_EQ(doc_load(put(dir, minimal_pdf(3), "d.pdf").c_str(), &d, 0), 0);
    EXPECT_EQ(doc_load(dir.file("missing.pdf").c_str(), &d, 0), -1);
    EXPECT_EQ(d.data, nullptr);
    EXPECT_TRUE(d.objs.empty());
    EXPECT_EQ(doc_find(d, 1), nullptr);
}

TEST(Loader, ArenaBlocks) {
    arena a;
    uint8_t* p = a.alloc(100);
    ASSERT_NE(p, nullptr);
    std::memset(p, 7, 100);
    uint8_t* q = a.alloc(0);
    EXPECT_NE(q, nullptr);
    EXPECT_EQ(a.items.size(), 2u);
    a.drop_last();
    EXPECT_EQ(a.items.size(), 1u);
    EXPECT_EQ(a.items[0].get(), p);
    EXPECT_EQ(a.alloc(~0ULL), nullptr);
    EXPECT_EQ(a.items.size(), 1u);
}

TEST(Loader, ManyObjectsLoadQuickly) {
    std::string s = "%PDF-1.4\n";
    for (int i = 1; i <= 100000; ++i) s += std::to_string(i) + " 0 obj\n<< /Type /Thing /N " + std::to_string(i) + " >>\nendobj\n";
    TempDir dir;
    std::string path = put(dir, s);
    auto t0 = std::chrono::steady_clock::now();
    Loaded l(path);
    double t = seconds_since(t0);
    ASSERT_EQ(l.rc, 0);
    EXPECT_EQ(l.doc.objs.size(), 100000u);
    EXPECT_LT(t, 1.0 * TIME_SCALE);
}

namespace {

// Structural promises of a loaded document that every reader relies on.
void check_invariants(const pdf_doc& d, const std::string& name) {
    std::set<int32_t> seen;
    for (const obj_entry& e : d.objs) {
        ASSERT_GT(e.num, 0) << name;
        ASSERT_LE(e.num, d.max_obj) << name;
        ASSERT_EQ(doc_find(d, e.num), &e) << name << " duplicate " << e.num;
        seen.insert(e.num);
        if (e.in_objstm) {
            ASSERT_NE(e.objstm_text, nullptr) << name;
            ASSERT_GE(e.objstm_len, 1) << name;
            continue;
        }
        ASSERT_GE(e.obj_pos, 0) << name;
        ASSERT_LT(e.obj_pos, d.len) << name;
        ASSERT_LT(e.dict_pos, d.len) << name;
        ASSERT_LT(e.endobj_pos, d.len) << name;
        ASSERT_GE(e.endobj_pos, 0) << name;
        if (e.has_stream) {
            ASSERT_LE(0, e.data_start) << name;
            ASSERT_LE(e.data_start, e.data_end) << name;
            ASSERT_LE(e.data_end, d.len) << name;
            ASSERT_EQ(e.stream_len, e.data_end - e.data_start) << name;
            ASSERT_GT(e.endobj_pos, e.data_end) << name;
        }
        dict_view r = doc_dict_span(d, e);
        if (r.text) {
            ASSERT_TRUE(0 <= r.start && r.start <= r.end && r.end <= d.len) << name;
        }
    }
    for (const page_entry& p : d.pages) {
        const obj_entry* e = doc_find(d, p.page_obj);
        ASSERT_NE(e, nullptr) << name;
        if (d.pages_ok) {
            ASSERT_EQ(obj_page_type(d.data, d.len, *e), 1) << name;
        }
    }
}

}  // namespace

TEST(Loader, CorpusSweep) {
    // Every sample file loads or fails with one message; the loaded tables
    // hold their promises. Run under AddressSanitizer this also shows that
    // no step reads out of bounds.
    std::filesystem::path dir = VELLIX_CORPUS_DIR;
    if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no corpus at " << dir;
    int loaded = 0, failed = 0, files = 0;
    for (const auto& ent : std::filesystem::directory_iterator(dir)) {
        if (ent.path().extension() != ".pdf") continue;
        ++files;
        std::string path = ent.path().string();
        for (int allow : {0, 1}) {
            clear_error();
            pdf_doc d;
            int rc = doc_load(path.c_str(), &d, allow);
            if (rc == 0) {
                ++loaded;
                EXPECT_STREQ(g_err, "") << path;
                check_invariants(d, path);
            } else {
                ++failed;
                EXPECT_EQ(rc, -1) << path;
                EXPECT_NE(g_err[0], 0) << path;
            }
            d = pdf_doc{};
        }
    }
    EXPECT_GT(files, 100);
    EXPECT_GT(loaded, files);  // most files load, encrypted ones with allow set
}
