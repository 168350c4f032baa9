// Info values from a JSON object (vellix_write_full) through the full
// rewrite, and the removal of Metadata references from a catalog.
#include <gtest/gtest.h>

#include <cstring>
#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "core/frame.h"
#include "load/doc.h"
#include "write/catalog_edit.h"
#include "support/output_check.h"
#include "support/pdf_builder.h"
#include "vellix.h"

namespace {

const char* const FULL_INFO =
    "<</Title (T0) /Author (A0) /Subject (S0) /Keywords [(K0) (K1)] /Creator (C0) /Producer <5030> "
    "/CreationDate (D:20200101000000Z) /ModDate (D:20210101000000Z) /Trapped /True /Own (x)>>";

std::string with_info() { return minimal_pdf(1, FULL_INFO); }

std::string tiny_without_info() {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    b.xref_trailer("/Size 3 /Root 1 0 R");
    return b.bytes();
}

// The Info dictionary text of a written file (between "obj\n" and "\nendobj").
std::string info_text_of(const std::string& file) {
    size_t t = file.rfind("/Info ");
    if (t == std::string::npos) return "";
    std::string head = std::to_string(std::atoi(file.c_str() + t + 6)) + " ";
    size_t o = file.find("\n" + head);
    if (o == std::string::npos) return "";
    size_t b = file.find("obj\n", o) + 4;
    return file.substr(b, file.find("\nendobj", b) - b);
}

TEST(WriteFull, JsonObjectsAndTheirOutcome) {
    TempDir dir;
    std::string in = dir.file("in.pdf");
    write_file(in, with_info());
    const std::string kept_tail = " /Author (A0) /Subject (S0) /Keywords [(K0) (K1)] /Creator (C0) /Producer <5030> "
                                  "/CreationDate (D:20200101000000Z)";
    struct row {
        const char* json;
        const char* message;  // null: success
        std::string info;     // expected Info text on success
    };
    const row rows[] = {
        {"{\"title\":\"Report\",\"mod_date\":\"2024-03-01T08:00:00\"}", nullptr,
         "<< /Title (Report)" + kept_tail + " /ModDate (D:20240301080000Z)>>"},
        {"{\"title\":\"a\",\"title\":\"b\"}", nullptr, "<< /Title (a)" + kept_tail + " /ModDate (D:20210101000000Z)>>"},
        {"{\"title\":\"a\",\"colour\":\"red\"}", nullptr,
         "<< /Title (a)" + kept_tail + " /ModDate (D:20210101000000Z)>>"},
        {"{\"creator\":\"New (C)\"}", nullptr,
         "<< /Title (T0) /Author (A0) /Subject (S0) /Keywords [(K0) (K1)] /Creator (New \\(C\\)) /Producer <5030> "
         "/CreationDate (D:20200101000000Z) /ModDate (D:20210101000000Z)>>"},
        {"{\"keywords\":\"x,y\",\"subject\":\"\",\"producer\":\"caf\xC3\xA9\\n\\u00e9\"}", nullptr,
         "<< /Title (T0) /Author (A0) /Subject () /Keywords (x,y) /Creator (C0) /Producer (caf\xC3\xA9\nu00e9) "
         "/CreationDate (D:20200101000000Z) /ModDate (D:20210101000000Z)>>"},
        {"{\"creation_date\":\"20240115\",\"mod_date\":\"D:20240115103000+01'00'\"}", nullptr,
         "<< /Title (T0) /Author (A0) /Subject (S0) /Keywords [(K0) (K1)] /Creator (C0) /Producer <5030> "
         "/CreationDate (D:20240115000000Z) /ModDate (D:20240115103000+01'00')>>"},
        {"{\"Title\":\"x\"}", "no recognised fields in the JSON object", ""},
        {"{}", "no recognised fields in the JSON object", ""},
        {"[]", "invalid JSON object for vellix_write_full", ""},
        {"{\"title\":1}", "invalid JSON object for vellix_write_full", ""},
        {"{\"title\":\"a\",}", "invalid JSON object for vellix_write_full", ""},
        {"", "invalid JSON object for vellix_write_full", ""},
        {"{\"creation_date\":\"\"}", "bad date for CreationDate: ", ""},
        {"{\"creation_date\":\"15/01/2024\"}", "bad date for CreationDate: 15/01/2024", ""},
        {"{\"title\":\"ok\",\"mod_date\":\"2024-13-01\"}", "bad date for ModDate: 2024-13-01", ""},
    };
    for (const row& r : rows) {
        std::string out = dir.file("out.pdf");
        std::filesystem::remove(out);
        set_error("earlier failure");
        int result = vellix_write_full(in.c_str(), out.c_str(), r.json);
        if (r.message) {
            EXPECT_EQ(result, 0) << r.json;
            EXPECT_STREQ(vellix_last_error(), r.message) << r.json;
            EXPECT_FALSE(std::filesystem::exists(out)) << r.json;
            continue;
        }
        ASSERT_EQ(result, 1) << r.json << ": " << vellix_last_error();
        EXPECT_STREQ(vellix_last_error(), "");
        std::string file = read_file(out);
        EXPECT_EQ(info_text_of(file), r.info) << r.json;
        EXPECT_EQ(xref_fault(file), "") << r.json;
    }
}

TEST(WriteFull, NewInfoObjectWholeFile) {
    TempDir dir;
    std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    write_file(in, tiny_without_info());
    clock_window w;
    w.start();
    ASSERT_EQ(vellix_write_full(in.c_str(), out.c_str(), "{\"creator\":\"C\",\"creation_date\":\"2024-01-15\"}"), 1)
        << vellix_last_error();
    w.stop();
    EXPECT_EQ(w.mask(read_file(out)),
              "%PDF-1.4\n"
              "%\xE2\xE3\xCF\xD3\n"
              "1 0 obj\n"
              "<< /Type /Catalog /Pages 2 0 R >>\n"
              "endobj\n"
              "2 0 obj\n"
              "<< /Type /Pages /Kids [] /Count 0 >>\n"
              "endobj\n"
              "3 0 obj\n"
              "<< /Creator (C) /CreationDate (D:20240115000000Z) /ModDate (D:NNNNNNNNNNNNNNZ)>>\n"
              "endobj\n"
              "xref\n"
              "0 4\n"
              "0000000000 65535 f \n"
              "0000000015 00000 n \n"
              "0000000064 00000 n \n"
              "0000000116 00000 n \n"
              "trailer\n"
              "<</Size 4/Root 1 0 R/Info 3 0 R>>\n"
              "startxref 212\n"
              "%%EOF\n");
}

TEST(WriteFull, ArgumentAndLoadFailures) {
    TempDir dir;
    std::string in = dir.file("in.pdf"), out = dir.file("out.pdf"), missing = dir.file("missing.pdf");
    write_file(in, with_info());
    const char* j = "{\"title\":\"x\"}";
    EXPECT_EQ(vellix_write_full(nullptr, out.c_str(), j), 0);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");
    EXPECT_EQ(vellix_write_full(in.c_str(), nullptr, j), 0);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");
    EXPECT_EQ(vellix_write_full(in.c_str(), out.c_str(), nullptr), 0);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");
    // The JSON text is judged before the input is opened.
    EXPECT_EQ(vellix_write_full(missing.c_str(), out.c_str(), "{\"x\":\"y\"}"), 0);
    EXPECT_STREQ(vellix_last_error(), "no recognised fields in the JSON object");
    EXPECT_EQ(vellix_write_full(missing.c_str(), out.c_str(), j), 0);
    EXPECT_EQ(std::string(vellix_last_error()), "cannot open " + missing);
    write_file(dir.file("empty.pdf"), "");
    EXPECT_EQ(vellix_write_full(dir.file("empty.pdf").c_str(), out.c_str(), j), 0);
    EXPECT_EQ(std::string(vellix_last_error()), "empty input file: " + dir.file("empty.pdf"));
    EXPECT_FALSE(std::filesystem::exists(out));
}

std::string remove_refs(std::string s) {
    pos n = static_cast<pos>(s.size());
    std::vector<char> buf(s.begin(), s.end());
    buf.push_back('\0');
    dict_remove_metadata_ref(buf.data(), &n);
    EXPECT_EQ(buf[static_cast<size_t>(n)], '\0');
    return std::string(buf.data(), static_cast<size_t>(n));
}

TEST(RemoveMetadataRef, Cases) {
    struct row {
        const char* in;
        const char* out;
    };
    const row rows[] = {
        {"<</Type /Catalog /Metadata 5 0 R /Pages 2 0 R>>", "<</Type /Catalog /Pages 2 0 R>>"},
        {"<</Metadata 5 0 R/Metadata 6 0 R>>", "<<>>"},
        {"<</Metadata 5 0 R \r\n\t/Pages 2 0 R>>", "<</Pages 2 0 R>>"},
        {"<</Metadata 12 R>>", "<<>>"},
        {"<</Metadata 5 0 R>>", "<<>>"},
        {"<</Metadata /None /Metadata 5 0 R>>", "<</Metadata /None >>"},
        {"<</Metadata 0 0 R>>", "<</Metadata 0 0 R>>"},
        {"<</Metadata 5 0 RG>>", "<</Metadata 5 0 RG>>"},
        {"<</Metadata 5 0>>", "<</Metadata 5 0>>"},
        {"<</MetadataX 5 0 R>>", "<</MetadataX 5 0 R>>"},
        {"<</A (/Metadata 5 0 R)>>", "<</A ()>>"},  // strings are not skipped
        {"/Metadata 5 0 R", ""},
        {"/Metadata", "/Metadata"},
        {"", ""},
        // Closing a gap can make a reference of an earlier key.
        {"/Metadata /Metadata 5 0 R 7 0 R", ""},
        {"/Metadata 5 /Metadata 6 0 R 0 R", ""},
        {"/Meta/Metadata 1 0 R data 5 0 R", ""},
    };
    for (const row& r : rows) EXPECT_EQ(remove_refs(r.in), r.out) << r.in;
}

bool ws(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == '\0'; }
bool digit(char c) { return c >= '0' && c <= '9'; }

// Length of "/Metadata N [G] R" plus the white space after it at s[p], or 0.
size_t ref_length(const std::string& s, size_t p) {
    size_t i = p + 9, n = s.size();
    while (i < n && ws(s[i])) ++i;
    size_t num = i;
    while (i < n && digit(s[i])) ++i;
    if (i == num || std::stol(s.substr(num, i - num)) <= 0) return 0;
    while (i < n && ws(s[i])) ++i;
    if (i < n && digit(s[i])) {
        while (i < n && digit(s[i])) ++i;
        while (i < n && ws(s[i])) ++i;
    }
    if (i >= n || s[i] != 'R' || (i + 1 < n && std::isalnum(static_cast<unsigned char>(s[i + 1])))) return 0;
    for (++i; i < n && ws(s[i]);) ++i;
    return i - p;
}

// Removal repeated from the start of the text until no key is followed by a
// reference: the plain statement of what the fast removal must give.
std::string remove_refs_slowly(std::string s) {
    for (bool again = true; again;) {
        again = false;
        for (size_t p = s.find("/Metadata"); p != std::string::npos; p = s.find("/Metadata", p + 1)) {
            char next = p + 9 < s.size() ? s[p + 9] : ' ';
            if (std::isalnum(static_cast<unsigned char>(next)) || next == '+' || next == '-' || next == '_') continue;
            if (size_t k = ref_length(s, p)) {
                s.erase(p, k);
                again = true;
                break;
            }
        }
    }
    return s;
}

TEST(RemoveMetadataRef, AgreesWithRepeatedRemovalOnRandomTexts) {
    const char* pieces[] = {"/Metadata", " ", "5", "0", "R", "/Meta", "data", "/X", "\n", "RG", "<<", ">>", "12"};
    std::mt19937 rng(1234);
    for (int i = 0; i < 3000; ++i) {
        std::string s;
        int n = 1 + static_cast<int>(rng() % 16);
        for (int k = 0; k < n; ++k) s += pieces[rng() % std::size(pieces)];
        ASSERT_EQ(remove_refs(s), remove_refs_slowly(s)) << "[" << s << "]";
    }
}

TEST(RemoveMetadataRef, ManyReferencesInLinearTime) {
    std::string s = "<</Type /Catalog ";
    for (int i = 0; i < 200000; ++i) s += "/Metadata 5 0 R /Metadata /No ";
    s += ">>";
    std::string expect = "<</Type /Catalog ";
    for (int i = 0; i < 200000; ++i) expect += "/Metadata /No ";
    expect += ">>";
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(remove_refs(s), expect);
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(secs, 2.0);
}

}  // namespace
