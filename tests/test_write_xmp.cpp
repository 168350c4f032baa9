// XMP writing and clearing: the packet byte for byte, key rules, the metadata
// stream and catalog in written files, and reading the packet back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/frame.h"
#include "core/json_flat.h"
#include "xmp/xmp_build.h"
#include "support/output_check.h"
#include "support/pdf_builder.h"
#include "vellix.h"

namespace {

#define PACKET_HEAD                                                                                            \
    "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"                                     \
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"                                                                 \
    "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"                                    \
    "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "                           \
    "xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\" "                   \
    "xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" "     \
    "xmlns:iptc=\"http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/\">"
#define NOW_ELEMENT "<xmp:ModifyDate>NNNNNNNNNNNNNNZ</xmp:ModifyDate>"
#define PACKET_TAIL "</rdf:Description>\n</rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?>"

// The packet for a JSON text, with the date of now masked.
std::string packet_for(const char* json) {
    jsonobj obj;
    EXPECT_TRUE(json_parse_flat(json, &obj)) << json;
    bool has_date = false;
    for (const json_pair& kv : obj) has_date |= kv.key == "xmp:ModifyDate";
    clock_window w;
    w.start();
    std::string packet = xmp_packet_build(obj, has_date);
    w.stop();
    return w.mask(packet);
}

TEST(XmlEscape, Table) {
    struct row {
        const char* in;
        const char* out;
    };
    const row rows[] = {
        {"", ""},
        {"plain", "plain"},
        {"A & B <x>", "A &amp; B &lt;x&gt;"},
        {"It's \"it\"", "It&apos;s &quot;it&quot;"},
        {"&&", "&amp;&amp;"},
        {"\x01\t\xC3\xA9\xFF", "\x01\t\xC3\xA9\xFF"},
    };
    for (const row& r : rows) {
        cstr e = xml_escape(r.in);
        ASSERT_TRUE(e);
        EXPECT_STREQ(e.get(), r.out);
    }
}

TEST(XmpPacket, ExampleByteForByte) {
    std::string p = packet_for("{\"dc:title\":\"Report\",\"dc:subject\":\"a, b\"}");
    EXPECT_EQ(p, PACKET_HEAD
              "<dc:title>Report</dc:title><dc:subject><rdf:Alt><rdf:li>a</rdf:li><rdf:li>b</rdf:li></rdf:Alt>"
              "</dc:subject>" NOW_ELEMENT PACKET_TAIL);
    EXPECT_EQ(p.find('\n'), 53u);  // the first line is 54 bytes
    EXPECT_EQ(p.find('\n', 54), 54u + 36u);
}

TEST(XmpPacket, ElementsForEachValue) {
    struct row {
        const char* json;
        const char* elements;  // between the Description start and its end tag
    };
    const row rows[] = {
        {"{\"dc:title\":\"A & B <x>\"}", "<dc:title>A &amp; B &lt;x&gt;</dc:title>" NOW_ELEMENT},
        {"{\"dc:title\":\"It's \\\"it\\\"\"}", "<dc:title>It&apos;s &quot;it&quot;</dc:title>" NOW_ELEMENT},
        {"{\"dc:subject\":\"red, green,,blue\"}",
         "<dc:subject><rdf:Alt><rdf:li>red</rdf:li><rdf:li>green</rdf:li><rdf:li>blue</rdf:li></rdf:Alt>"
         "</dc:subject>" NOW_ELEMENT},
        {"{\"dc:subject\":\"a ,b\"}", "<dc:subject><rdf:Alt><rdf:li>a </rdf:li><rdf:li>b</rdf:li></rdf:Alt></dc:subject>" NOW_ELEMENT},
        {"{\"dc:subject\":\",\\t x,  ,<y>,\"}",
         "<dc:subject><rdf:Alt><rdf:li>x</rdf:li><rdf:li></rdf:li><rdf:li>&lt;y&gt;</rdf:li></rdf:Alt></dc:subject>" NOW_ELEMENT},
        {"{\"dc:title\":\",\"}", "<dc:title><rdf:Alt></rdf:Alt></dc:title>" NOW_ELEMENT},
        {"{\"dc:title\":\"\"}", "<dc:title></dc:title>" NOW_ELEMENT},
        {"{\"xmp:ModifyDate\":\"2020\"}", "<xmp:ModifyDate>2020</xmp:ModifyDate>"},
        {"{\"XMP:ModifyDate\":\"2020\"}", "<XMP:ModifyDate>2020</XMP:ModifyDate>" NOW_ELEMENT},
        {"{\"a:b\":\"1\",\"a:b\":\"2\"}", "<a:b>1</a:b><a:b>2</a:b>" NOW_ELEMENT},
        {"{\"dc:title\":\" x \",\"xmp:ModifyDate\":\"D\",\"my:Field\":\"y\"}",
         "<dc:title> x </dc:title><xmp:ModifyDate>D</xmp:ModifyDate><my:Field>y</my:Field>"},
    };
    for (const row& r : rows)
        EXPECT_EQ(packet_for(r.json), std::string(PACKET_HEAD) + r.elements + PACKET_TAIL) << r.json;
}

TEST(XmpWrite, RefusedBeforeTheInputIsOpened) {
    TempDir dir;
    std::string missing = dir.file("missing.pdf"), out = dir.file("out.pdf");
    struct row {
        const char* json;
        const char* message;  // null: accepted (the load then fails)
    };
    const row rows[] = {
        {"{}", "XMP JSON is empty"},
        {"{\"dc:title\":5}", "invalid XMP JSON (flat object of strings required)"},
        {"[]", "invalid XMP JSON (flat object of strings required)"},
        {"{\"dc:title\":\"x\"", "invalid XMP JSON (flat object of strings required)"},
        {"{\"title\":\"x\"}", "invalid XMP property key (ns:Local required)"},
        {"{\"dc:\":\"x\"}", "invalid XMP property key (ns:Local required)"},
        {"{\"dc:ti tle\":\"x\"}", "invalid XMP property key (ns:Local required)"},
        {"{\"dc.title\":\"x\"}", "invalid XMP property key (ns:Local required)"},
        {"{\"\":\"x\"}", "invalid XMP property key (ns:Local required)"},
        {"{\"dc:t\xC3\xA9\":\"x\"}", "invalid XMP property key (ns:Local required)"},
        {"{\"dc:title\":\"ok\",\"bad\":\"x\"}", "invalid XMP property key (ns:Local required)"},
        {"{\":x\":\"y\"}", nullptr},
        {"{\"a::b\":\"y\"}", nullptr},
        {"{\"my:Field\":\"y\"}", nullptr},
        {"{\"a:b:c_d-9\":\"y\"}", nullptr},
    };
    for (const row& r : rows) {
        EXPECT_EQ(vellix_write_xmp(missing.c_str(), out.c_str(), r.json), 0) << r.json;
        std::string expect = r.message ? r.message : "cannot open " + missing;
        EXPECT_EQ(std::string(vellix_last_error()), expect) << r.json;
    }
    EXPECT_EQ(vellix_write_xmp(nullptr, out.c_str(), "{}"), 0);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");
    EXPECT_EQ(vellix_write_xmp(missing.c_str(), nullptr, "{}"), 0);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");
    EXPECT_EQ(vellix_write_xmp(missing.c_str(), out.c_str(), nullptr), 0);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");
    EXPECT_EQ(vellix_clear_xmp(nullptr, out.c_str()), 0);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");
    EXPECT_EQ(vellix_clear_xmp(missing.c_str(), nullptr), 0);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");
    EXPECT_EQ(vellix_clear_xmp(missing.c_str(), out.c_str()), 0);
    EXPECT_EQ(std::string(vellix_last_error()), "cannot open " + missing);
    EXPECT_FALSE(std::filesystem::exists(out));
}

struct written {
    int result;
    std::string file;
};

template <class F>
written run(const std::string& out, F&& call) {
    clock_window w;
    w.start();
    int r = call();
    w.stop();
    std::string raw = read_file(out);
    EXPECT_EQ(xref_fault(raw), "");
    return {r, w.mask(raw)};
}

TEST(XmpWrite, NewMetadataObjectWholeFile) {
    TempDir dir;
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    b.obj(3, "<</Producer (P)>>");
    b.xref_trailer("/Size 4 /Root 1 0 R /Info 3 0 R");
    std::string in = b.write(dir.path() / "in.pdf"), out = dir.file("out.pdf");
    written w = run(out, [&] { return vellix_write_xmp(in.c_str(), out.c_str(), "{\"dc:title\":\"T\"}"); });
    ASSERT_EQ(w.result, 1) << vellix_last_error();
    EXPECT_STREQ(vellix_last_error(), "");
    EXPECT_EQ(w.file,
              "%PDF-1.4\n"
              "%\xE2\xE3\xCF\xD3\n"
              "1 0 obj\n"
              "<< /Type /Catalog /Pages 2 0 R  /Metadata 4 0 R>>\n"
              "endobj\n"
              "2 0 obj\n"
              "<< /Type /Pages /Kids [] /Count 0 >>\n"
              "endobj\n"
              "3 0 obj\n"
              "<< /Producer (P) /CreationDate (D:NNNNNNNNNNNNNNZ) /ModDate (D:NNNNNNNNNNNNNNZ)>>\n"
              "endobj\n"
              "4 0 obj\n"
              "<</Type /Metadata /Subtype /XML /Length 598>>\n"
              "stream\n" PACKET_HEAD "<dc:title>T</dc:title>" NOW_ELEMENT PACKET_TAIL
              "\n"
              "endstream\n"
              "endobj\n"
              "xref\n"
              "0 5\n"
              "0000000000 65535 f \n"
              "0000000015 00000 n \n"
              "0000000080 00000 n \n"
              "0000000132 00000 n \n"
              "0000000229 00000 n \n"
              "trailer\n"
              "<</Size 5/Root 1 0 R/Info 3 0 R>>\n"
              "startxref 906\n"
              "%%EOF\n");

    // Without an Info dictionary the new Info object comes first, the packet next.
    PdfBuilder bare;
    bare.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    bare.obj(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    bare.xref_trailer("/Size 3 /Root 1 0 R");
    in = bare.write(dir.path() / "bare.pdf");
    w = run(out, [&] { return vellix_write_xmp(in.c_str(), out.c_str(), "{\"dc:title\":\"T\"}"); });
    ASSERT_EQ(w.result, 1) << vellix_last_error();
    EXPECT_NE(w.file.find("<< /Type /Catalog /Pages 2 0 R  /Metadata 4 0 R>>\nendobj\n"), std::string::npos);
    EXPECT_NE(w.file.find("\n3 0 obj\n<< /CreationDate (D:NNNNNNNNNNNNNNZ) /ModDate (D:NNNNNNNNNNNNNNZ)>>\nendobj\n"
                          "4 0 obj\n<</Type /Metadata /Subtype /XML /Length 598>>\nstream\n"),
              std::string::npos);
    EXPECT_NE(w.file.find("<</Size 5/Root 1 0 R/Info 3 0 R>>"), std::string::npos);
}

// Catalog 1 refers to the metadata stream 5 (generation 2), which has a filter.
std::string with_xmp(const std::string& catalog) {
    PdfBuilder b;
    b.obj(1, catalog);
    b.obj(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    b.obj(3, "<</Title (Kept) /ModDate (D:20000101000000Z)>>");
    b.stream(5, "/Type /Metadata /Subtype /XML /Filter /ASCIIHexDecode", "3C3E>", 2);
    b.xref_trailer("/Size 6 /Root 1 0 R /Info 3 0 R");
    return b.bytes();
}

TEST(XmpWrite, ExistingStreamIsReplacedInPlace) {
    TempDir dir;
    std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    write_file(in, with_xmp("<</Type /Catalog /Metadata 5 2 R /Pages 2 0 R>>"));
    written w = run(out, [&] { return vellix_write_xmp(in.c_str(), out.c_str(), "{\"xmp:ModifyDate\":\"2020\"}"); });
    ASSERT_EQ(w.result, 1) << vellix_last_error();
    std::string packet = PACKET_HEAD "<xmp:ModifyDate>2020</xmp:ModifyDate>" PACKET_TAIL;
    EXPECT_NE(w.file.find("1 0 obj\n<</Type /Catalog /Pages 2 0 R /Metadata 5 2 R>>\nendobj\n"), std::string::npos)
        << w.file;
    EXPECT_NE(w.file.find("3 0 obj\n<< /Title (Kept) /CreationDate (D:NNNNNNNNNNNNNNZ) /ModDate (D:NNNNNNNNNNNNNNZ)>>"),
              std::string::npos);
    EXPECT_NE(w.file.find("5 2 obj\n<</Type /Metadata /Subtype /XML /Length " + std::to_string(packet.size()) +
                          ">>\nstream\n" + packet + "\nendstream\nendobj\nxref\n0 6\n"),
              std::string::npos);
    EXPECT_EQ(w.file.find("ASCIIHex"), std::string::npos);
    EXPECT_NE(w.file.find(" 00002 n \ntrailer\n"), std::string::npos);
}

TEST(XmpClear, StreamAndCatalogReferencesGo) {
    TempDir dir;
    std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    write_file(in, with_xmp("<</Type /Catalog /Metadata 5 2 R /Pages 2 0 R /Metadata 5 2 R>>"));
    written w = run(out, [&] { return vellix_clear_xmp(in.c_str(), out.c_str()); });
    ASSERT_EQ(w.result, 1) << vellix_last_error();
    EXPECT_STREQ(vellix_last_error(), "");
    EXPECT_NE(w.file.find("1 0 obj\n<</Type /Catalog /Pages 2 0 R >>\nendobj\n"), std::string::npos) << w.file;
    EXPECT_EQ(w.file.find("5 2 obj"), std::string::npos);
    EXPECT_EQ(w.file.find("Metadata"), std::string::npos);
    EXPECT_NE(w.file.find("0000000000 65535 f \n0000000000 65535 f \ntrailer\n<</Size 6/Root 1 0 R/Info 3 0 R>>"),
              std::string::npos);  // rows 4 and 5 are free
    EXPECT_NE(w.file.find("<< /Title (Kept) /CreationDate (D:NNNNNNNNNNNNNNZ) /ModDate (D:NNNNNNNNNNNNNNZ)>>"),
              std::string::npos);

    // A file without XMP is still rewritten.
    std::string bare = dir.file("bare.pdf");
    write_file(bare, minimal_pdf(1));
    std::filesystem::remove(out);
    w = run(out, [&] { return vellix_clear_xmp(bare.c_str(), out.c_str()); });
    ASSERT_EQ(w.result, 1) << vellix_last_error();
    EXPECT_NE(w.file.find("1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"), std::string::npos);
}

TEST(XmpWrite, MetadataReferenceToTheCatalogItselfIsNotObeyed) {
    TempDir dir;
    PdfBuilder b;
    b.obj(1, "<</Type /Catalog /Pages 2 0 R /Metadata 1 0 R>>");
    b.obj(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    b.obj(3, "<</Title (T)>>");
    b.xref_trailer("/Size 4 /Root 1 0 R /Info 3 0 R");
    std::string in = b.write(dir.path() / "in.pdf"), out = dir.file("out.pdf");
    written w = run(out, [&] { return vellix_write_xmp(in.c_str(), out.c_str(), "{\"dc:title\":\"T\"}"); });
    ASSERT_EQ(w.result, 1);
    EXPECT_NE(w.file.find("1 0 obj\n<</Type /Catalog /Pages 2 0 R  /Metadata 4 0 R>>\nendobj\n"), std::string::npos);
    EXPECT_NE(w.file.find("4 0 obj\n<</Type /Metadata"), std::string::npos);
    w = run(out, [&] { return vellix_clear_xmp(in.c_str(), out.c_str()); });
    ASSERT_EQ(w.result, 1);
    EXPECT_NE(w.file.find("1 0 obj\n<</Type /Catalog /Pages 2 0 R >>\nendobj\n"), std::string::npos);
}

// Most newer files keep the catalog in an object stream; it is edited too
// and written as an ordinary object.
TEST(XmpWrite, CatalogInAnObjectStreamIsEdited) {
    TempDir dir;
    PdfBuilder b;
    b.object_stream(9, {{1, "<</Type/Catalog/Pages 2 0 R/Metadata 5 0 R>>"}, {2, "<</Type/Pages/Kids[]/Count 0>>"}});
    b.stream(5, "/Type /Metadata /Subtype /XML", "<x/>");
    b.xref_trailer("/Size 10 /Root 1 0 R");
    std::string in = b.write(dir.path() / "in.pdf"), out = dir.file("out.pdf");
    written w = run(out, [&] { return vellix_write_xmp(in.c_str(), out.c_str(), "{\"dc:title\":\"T\"}"); });
    ASSERT_EQ(w.result, 1) << vellix_last_error();
    EXPECT_NE(w.file.find("1 0 obj\n<</Type/Catalog/Pages 2 0 R /Metadata 5 0 R>>"), std::string::npos) << w.file;
    EXPECT_NE(w.file.find("5 0 obj\n<</Type /Metadata /Subtype /XML /Length "), std::string::npos);
    w = run(out, [&] { return vellix_clear_xmp(in.c_str(), out.c_str()); });
    ASSERT_EQ(w.result, 1);
    EXPECT_NE(w.file.find("1 0 obj\n<</Type/Catalog/Pages 2 0 R>>"), std::string::npos) << w.file;
    EXPECT_EQ(w.file.find("Metadata"), std::string::npos);
}

TEST(XmpWrite, ReadBackAfterWriteAndClear) {
    TempDir dir;
    std::string in = dir.file("in.pdf"), out = dir.file("out.pdf"), cleared = dir.file("cleared.pdf");
    write_file(in, with_xmp("<</Type /Catalog /Pages 2 0 R /Metadata 5 2 R>>"));
    ASSERT_EQ(vellix_write_xmp(in.c_str(), out.c_str(),
                               "{\"dc:subject\":\"a, b\",\"dc:title\":\" x & y \",\"pdf:Producer\":\"P\","
                               "\"xmp:ModifyDate\":\"2024-01-01\",\"my:Own\":\"v\"}"),
              1)
        << vellix_last_error();
    const char* json = vellix_read_xmp(out.c_str());
    ASSERT_NE(json, nullptr) << vellix_last_error();
    EXPECT_STREQ(json,
                 "{\"dc:title\":\" x & y \",\"dc:creator\":\"\",\"dc:description\":\"\",\"dc:subject\":\"a,b\","
                 "\"xmp:CreateDate\":\"\",\"xmp:ModifyDate\":\"2024-01-01\",\"pdf:Producer\":\"P\","
                 "\"pdf:Keywords\":\"\",\"my:Own\":\"v\"}");
    ASSERT_EQ(vellix_clear_xmp(out.c_str(), cleared.c_str()), 1);
    json = vellix_read_xmp(cleared.c_str());
    ASSERT_NE(json, nullptr) << vellix_last_error();
    EXPECT_STREQ(json,
                 "{\"dc:title\":\"\",\"dc:creator\":\"\",\"dc:description\":\"\",\"dc:subject\":\"\","
                 "\"xmp:CreateDate\":\"\",\"xmp:ModifyDate\":\"\",\"pdf:Producer\":\"\",\"pdf:Keywords\":\"\"}");
}

// The new reference goes before the close of the catalog's dictionary, except
// where an array opened in the dictionary is still open there: inside it the
// reference would be an array element (a page-tree root's kid, for one), so
// it goes right after the "<<" instead.
TEST(XmpWrite, ReferencePlacedOutsideAnArrayLeftOpen) {
    struct row {
        const char* catalog;
        const char* written;
    };
    const row rows[] = {
        {"<</Type /Catalog /Pages 2 0 R /OpenAction [3 0 R /Fit] /Lang (x[)>>",
         "<</Type /Catalog /Pages 2 0 R /OpenAction [3 0 R /Fit] /Lang (x[) /Metadata 5 0 R>>"},
        {"<</Type /Catalog /Pages 2 0 R /OpenAction [3 0 R /Fit>>",
         "<< /Metadata 5 0 R /Type /Catalog /Pages 2 0 R /OpenAction [3 0 R /Fit>>"},
        {"<</Type /Catalog /Pages 2 0 R /A [<</B [1] /C (])>>>>",
         "<< /Metadata 5 0 R /Type /Catalog /Pages 2 0 R /A [<</B [1] /C (])>>>>"},
        // A page-tree node as the root, its kids never closed.
        {"<</Type /Pages /Count 1 /Kids [3 0 R>>", "<< /Metadata 5 0 R /Type /Pages /Count 1 /Kids [3 0 R>>"},
    };
    TempDir dir;
    for (const row& r : rows) {
        PdfBuilder b;
        b.obj(1, r.catalog);
        b.obj(2, "<</Type /Pages /Kids [3 0 R] /Count 1>>");
        b.obj(3, "<</Type /Page /Parent 2 0 R>>");
        b.xref_trailer("/Size 4 /Root 1 0 R");
        std::string in = b.write(dir.path() / "in.pdf"), out = dir.file("out.pdf");
        const char* info = vellix_read(in.c_str());
        ASSERT_NE(info, nullptr) << r.catalog;
        const std::string pages = std::strstr(info, ",\"pages\":") ? std::strstr(info, ",\"pages\":") : "";
        ASSERT_EQ(vellix_write_xmp(in.c_str(), out.c_str(), "{\"dc:title\":\"T\"}"), 1) << vellix_last_error();
        EXPECT_NE(read_file(out).find(std::string("1 0 obj\n") + r.written + "\nendobj\n"), std::string::npos)
            << r.catalog << "\n" << read_file(out);
        const char* copy = vellix_read(out.c_str());
        ASSERT_NE(copy, nullptr) << r.catalog;
        EXPECT_EQ(std::string(std::strstr(copy, ",\"pages\":")).substr(0, 11), pages.substr(0, 11)) << r.catalog;
        const char* xmp = vellix_read_xmp(out.c_str());
        ASSERT_NE(xmp, nullptr) << r.catalog;
        EXPECT_EQ(std::string(xmp).rfind("{\"dc:title\":\"T\",", 0), 0u) << r.catalog << " " << xmp;
    }
}

}  // namespace
