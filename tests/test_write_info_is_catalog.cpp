// A trailer whose /Info names the catalog itself: writers must keep the
// catalog and write the Info dictionary as a new object.
#include <gtest/gtest.h>

#include <string>

#include "support/pdf_builder.h"
#include "vellix.h"

namespace {

std::string info_is_catalog_pdf() {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    b.obj(4, "<< /Type /Page /Parent 2 0 R >>");
    b.xref_trailer("/Size 5 /Root 1 0 R /Info 1 0 R");
    return b.bytes();
}

std::string pages_of(const std::string& path) {
    const char* t = vellix_read(path.c_str());
    if (!t) return std::string("!") + vellix_last_error();
    std::string s = t;
    size_t p = s.find("\"pages\":");
    return s.substr(p + 8, s.find(',', p) - p - 8);
}

}  // namespace

TEST(WriteInfoIsCatalog, EveryWriterKeepsTheCatalog) {
    TempDir d;
    std::string in = d.file("in.pdf");
    write_file(in, info_is_catalog_pdf());
    ASSERT_EQ(pages_of(in), "2");
    struct writer {
        const char* name;
        int (*run)(const char*, const char*);
    };
    const writer writers[] = {
        {"write", [](const char* i, const char* o) { return vellix_write(i, o, "New", nullptr, nullptr, nullptr); }},
        {"clear", [](const char* i, const char* o) { return vellix_clear(i, o); }},
        {"write_full", [](const char* i, const char* o) { return vellix_write_full(i, o, "{\"title\":\"New\"}"); }},
        {"write_xmp", [](const char* i, const char* o) { return vellix_write_xmp(i, o, "{\"dc:title\":\"New\"}"); }},
        {"clear_xmp", [](const char* i, const char* o) { return vellix_clear_xmp(i, o); }},
    };
    for (const writer& w : writers) {
        std::string out = d.file(std::string(w.name) + ".pdf");
        ASSERT_EQ(w.run(in.c_str(), out.c_str()), 1) << w.name << ": " << vellix_last_error();
        EXPECT_EQ(pages_of(out), "2") << w.name;
        std::string bytes = read_file(out);
        EXPECT_NE(bytes.find("1 0 obj\n<< /Type /Catalog /Pages 2 0 R"), std::string::npos) << w.name;
    }
    // The new Info object is numbered above the table and named by the trailer.
    std::string written = read_file(d.file("write.pdf"));
    EXPECT_NE(written.find("5 0 obj\n<<"), std::string::npos);
    EXPECT_NE(written.find("/Root 1 0 R/Info 5 0 R>>"), std::string::npos) << written;
    const char* t = vellix_read(d.file("write.pdf").c_str());
    ASSERT_NE(t, nullptr);
    EXPECT_NE(std::string(t).find("\"title\":\"New\""), std::string::npos) << t;
    // Clearing leaves no /Info in the trailer.
    EXPECT_EQ(read_file(d.file("clear.pdf")).find("/Info"), std::string::npos);
}
