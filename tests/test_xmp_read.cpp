// vellix_read_xmp end to end: locating the metadata stream, decoding it,
// the JSON text and its failures, and packets written by real tools.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdlib>
#include <map>
#include <string>

#include "core/json_flat.h"
#include "xmp/xmp.h"
#include "support/pdf_builder.h"
#include "vellix.h"

namespace {

const std::string EMPTY_STD =
    "{\"dc:title\":\"\",\"dc:creator\":\"\",\"dc:description\":\"\",\"dc:subject\":\"\","
    "\"xmp:CreateDate\":\"\",\"xmp:ModifyDate\":\"\",\"pdf:Producer\":\"\",\"pdf:Keywords\":\"\"}";

std::string packet(const std::string& inner) {
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
           " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
           "  <rdf:Description rdf:about=\"\"\n"
           "    xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
           "    xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n"
           "    xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\">\n" +
           inner +
           "  </rdf:Description>\n"
           " </rdf:RDF>\n"
           "</x:xmpmeta>\n"
           "<?xpacket end=\"w\"?>";
}

const std::string REPORT_PACKET = packet(
    "   <dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">Quarterly report</rdf:li></rdf:Alt></dc:title>\n"
    "   <dc:creator><rdf:Seq><rdf:li>Ann</rdf:li><rdf:li>Bob</rdf:li></rdf:Seq></dc:creator>\n"
    "   <dc:subject><rdf:Bag><rdf:li>finance</rdf:li><rdf:li>2024</rdf:li></rdf:Bag></dc:subject>\n"
    "   <pdf:Producer>Converter 2</pdf:Producer>\n"
    "   <xmp:CreateDate>2024-03-01T10:00:00Z</xmp:CreateDate>\n"
    "   <xmp:CreatorTool>Writer</xmp:CreatorTool>\n");

const std::string REPORT_JSON =
    "{\"dc:title\":\"Quarterly report\",\"dc:creator\":\"Ann,Bob\",\"dc:description\":\"\","
    "\"dc:subject\":\"finance,2024\",\"xmp:CreateDate\":\"2024-03-01T10:00:00Z\",\"xmp:ModifyDate\":\"\","
    "\"pdf:Producer\":\"Converter 2\",\"pdf:Keywords\":\"\",\"xmp:CreatorTool\":\"Writer\"}";

// Catalog 1 (with extra entries), pages 2, page 3, then the given objects.
PdfBuilder doc_start(const std::string& catalog_extra) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R " + catalog_extra + " >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    return b;
}

std::string with_metadata(const std::string& dict_extra, const std::string& data) {
    PdfBuilder b = doc_start("/Metadata 4 0 R");
    b.stream(4, "/Type /Metadata /Subtype /XML" + dict_extra, data);
    b.xref_trailer("/Size 5 /Root 1 0 R");
    return b.bytes();
}

// The reader's result for a file with these bytes; "<null>" on failure.
std::string read_bytes(const std::string& bytes) {
    TempDir dir;
    std::string path = dir.file("in.pdf");
    write_file(path, bytes);
    const char* r = vellix_read_xmp(path.c_str());
    return r ? std::string(r) : std::string("<null>");
}

std::map<std::string, std::string> parse(const std::string& json) {
    jsonobj o;
    std::map<std::string, std::string> m;
    EXPECT_TRUE(json_parse_flat(json.c_str(), &o)) << json;
    for (const json_pair& kv : o) m[kv.key] = kv.value;
    return m;
}

TEST(XmpRead, ReportPacketUncompressed) {
    EXPECT_EQ(read_bytes(with_metadata("", REPORT_PACKET)), REPORT_JSON);
    EXPECT_STREQ(vellix_last_error(), "");
}

#ifdef VELLIX_HAVE_ZLIB
TEST(XmpRead, ReportPacketFlateCompressed) {
    for (int level : {1, 6, 9}) {
        std::string z = zlib_compress(REPORT_PACKET, level);
        EXPECT_EQ(read_bytes(with_metadata(" /Filter /FlateDecode", z)), REPORT_JSON) << "level " << level;
    }
    // A filter array naming FlateDecode counts as well.
    EXPECT_EQ(read_bytes(with_metadata(" /Filter [/FlateDecode]", zlib_compress(REPORT_PACKET))), REPORT_JSON);
}

TEST(XmpRead, LargeFlateStreams) {
    // Stored (level 0) data keeps the stream long, so its decode bound is large.
    std::string padded = REPORT_PACKET;
    padded.insert(padded.rfind("<?xpacket end"), std::string(900000, ' ') + "\n");
    std::string z = zlib_compress(padded, 0);
    ASSERT_GT(z.size(), 800000u);
    EXPECT_EQ(read_bytes(with_metadata(" /Filter /FlateDecode", z)), REPORT_JSON);
    EXPECT_EQ(read_bytes(with_metadata(" /Filter /FlateDecode", z.substr(0, z.size() - 100000))), "<null>");
    EXPECT_STREQ(vellix_last_error(), "failed to decode the XMP stream");
    // A long stream that inflates beyond 16 x (L + 64) bytes: noise keeps it
    // long, a run of blanks makes it too large.
    std::string noise(1200000, ' ');
    uint32_t x = 12345;
    for (char& c : noise) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>('a' + (x >> 16) % 26);
    }
    std::string over = packet(noise + std::string(20000000, ' ') + "<pdf:Producer>P</pdf:Producer>\n");
    std::string zo = zlib_compress(over, 9);
    ASSERT_GT(zo.size(), 600000u);
    ASSERT_GT(over.size(), 16 * (zo.size() + 64));
    EXPECT_EQ(read_bytes(with_metadata(" /Filter /FlateDecode", zo)), "<null>");
    EXPECT_STREQ(vellix_last_error(), "failed to decode the XMP stream");
}

TEST(XmpRead, UndecodableFlateStreams) {
    const std::string z = zlib_compress(REPORT_PACKET);
    struct row {
        const char* what;
        std::string data;
    };
    std::string big = packet(std::string(2000000, ' ') + "<pdf:Producer>P</pdf:Producer>\n");
    const row rows[] = {
        {"empty", ""},
        {"one byte", z.substr(0, 1)},
        {"cut before the final block ends", z.substr(0, z.size() / 2)},
        {"not a zlib header", REPORT_PACKET},
        {"inflates beyond 16 x (L + 64)", zlib_compress(big, 9)},
    };
    for (const row& r : rows) {
        EXPECT_EQ(read_bytes(with_metadata(" /Filter /FlateDecode", r.data)), "<null>") << r.what;
        EXPECT_STREQ(vellix_last_error(), "failed to decode the XMP stream") << r.what;
    }
}
#endif

TEST(XmpRead, FlateDataThatStopsEarlyGivesWhatWasDecoded) {
    // A stored block with the packet, then a block of the invalid type 3.
    std::string data = "\x78\x01";
    const size_t n = REPORT_PACKET.size();
    ASSERT_LT(n, 65536u);
    data += '\x00';  // not final, stored
    data += static_cast<char>(n & 0xFF);
    data += static_cast<char>(n >> 8);
    data += static_cast<char>(~n & 0xFF);
    data += static_cast<char>((~n >> 8) & 0xFF);
    data += REPORT_PACKET;
    data += '\x07';  // final, type 3
    data += std::string(8, '\x00');
    EXPECT_EQ(read_bytes(with_metadata(" /Filter /FlateDecode", data)), REPORT_JSON);
}

TEST(XmpRead, FilesWithoutXmpGiveTheEightEmptyKeys) {
    EXPECT_EQ(read_bytes(minimal_pdf(1, "/Title (T)")), EMPTY_STD);
    EXPECT_STREQ(vellix_last_error(), "");
    // A stored stream of length 0, and one without any recognisable element.
    EXPECT_EQ(read_bytes(with_metadata("", "")), EMPTY_STD);
    EXPECT_EQ(read_bytes(with_metadata("", "<a:b/> just text")), EMPTY_STD);
}

TEST(XmpRead, CatalogReferenceThatIsNotAStreamFails) {
    PdfBuilder b = doc_start("/Metadata 5 0 R");
    b.stream(4, "/Type /Metadata /Subtype /XML", REPORT_PACKET);  // not tried
    b.obj(5, "<< /Type /Metadata >>");
    b.xref_trailer("/Size 6 /Root 1 0 R");
    EXPECT_EQ(read_bytes(b.bytes()), "<null>");
    EXPECT_STREQ(vellix_last_error(), "failed to decode the XMP stream");
}

TEST(XmpRead, WhichStreamIsTaken) {
    const std::string first = packet("<pdf:Producer>first</pdf:Producer>\n");
    const std::string second = packet("<pdf:Producer>second</pdf:Producer>\n");
    auto producer = [](const std::string& json) { return parse(json)["pdf:Producer"]; };
    {
        // The catalog's reference wins over table order.
        PdfBuilder b = doc_start("/Metadata 6 0 R");
        b.stream(4, "/Type /Metadata /Subtype /XML", first);
        b.stream(6, "/Type /Metadata /Subtype /XML", second);
        b.xref_trailer("/Size 7 /Root 1 0 R");
        EXPECT_EQ(producer(read_bytes(b.bytes())), "second");
    }
    {
        // Without a catalog entry, or with one naming a missing object, the
        // first stream whose Type is Metadata, whatever its Subtype.
        for (const std::string cat : {"", "/Metadata 99 0 R", "/Metadata (x)"}) {
            PdfBuilder b = doc_start(cat);
            b.stream(4, "/Type /XObject /Subtype /Form", "<pdf:Producer>form</pdf:Producer>");
            b.stream(5, "/Type /Metadata /Subtype /Other", first);
            b.stream(6, "/Type /Metadata /Subtype /XML", second);
            b.xref_trailer("/Size 7 /Root 1 0 R");
            EXPECT_EQ(producer(read_bytes(b.bytes())), "first") << cat;
        }
    }
    {
        // A Type that is merely similar is not matched.
        PdfBuilder b = doc_start("");
        b.stream(4, "/Type /MetadataX /Subtype /XML", first);
        b.xref_trailer("/Size 5 /Root 1 0 R");
        EXPECT_EQ(read_bytes(b.bytes()), EMPTY_STD);
    }
}

TEST(XmpRead, CatalogInsideAnObjectStream) {
    // The catalog names the second metadata stream; the type scan would take the first.
    const std::string cat = "<< /Type /Catalog /Pages 2 0 R /Metadata 6 0 R >>";
    const std::string header = "1 0 ";
    PdfBuilder b;
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    b.stream(4, "/Type /Metadata /Subtype /XML", packet("<pdf:Producer>by type</pdf:Producer>\n"));
    b.stream(6, "/Type /Metadata /Subtype /XML", packet("<pdf:Producer>named</pdf:Producer>\n"));
    b.stream(5, "/Type /ObjStm /N 1 /First " + std::to_string(header.size()), header + cat);
    b.xref_trailer("/Size 7 /Root 1 0 R");
    EXPECT_EQ(parse(read_bytes(b.bytes()))["pdf:Producer"], "named");
}

TEST(XmpRead, OtherPropertiesFollowInListOrderWithEscapedNames) {
    std::string pkt = packet(
        "<xap:CreateDate>2001-01-01</xap:CreateDate>\n"
        "<my:q\"x>v1</my:q\"x>\n"
        "<my:b\\s>v\"2\"</my:b\\s>\n"
        "<my:c\x01t>v3</my:c\x01t>\n"
        "<dc:title>plain title</dc:title>\n"
        "<my:multi>line\nbreak\ttab</my:multi>\n");
    EXPECT_EQ(read_bytes(with_metadata("", pkt)),
              "{\"dc:title\":\"plain title\",\"dc:creator\":\"\",\"dc:description\":\"\",\"dc:subject\":\"\","
              "\"xmp:CreateDate\":\"\",\"xmp:ModifyDate\":\"\",\"pdf:Producer\":\"\",\"pdf:Keywords\":\"\","
              "\"xap:CreateDate\":\"2001-01-01\",\"my:q\\\"x\":\"v1\",\"my:b\\\\s\":\"v\\\"2\\\"\","
              "\"my:c\\u0001t\":\"v3\",\"my:multi\":\"line\\nbreak\\ttab\"}");
}

TEST(XmpRead, FailuresAndResultSlot) {
    TempDir dir;
    std::string good = dir.file("good.pdf");
    write_file(good, with_metadata("", REPORT_PACKET));
    ASSERT_NE(vellix_read_xmp(good.c_str()), nullptr);

    EXPECT_EQ(vellix_read_xmp(nullptr), nullptr);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");

    std::string missing = dir.file("missing.pdf");
    EXPECT_EQ(vellix_read_xmp(missing.c_str()), nullptr);
    EXPECT_EQ(std::string(vellix_last_error()), "cannot open " + missing);

    std::string enc = dir.file("enc.pdf");
    PdfBuilder b = doc_start("/Metadata 4 0 R");
    b.stream(4, "/Type /Metadata /Subtype /XML", REPORT_PACKET);
    b.obj(5, "<< /Filter /Standard /V 1 /R 2 /O (x) /U (y) /P -4 >>");
    b.xref_trailer("/Size 6 /Root 1 0 R /Encrypt 5 0 R");
    write_file(enc, b.bytes());
    EXPECT_EQ(vellix_read_xmp(enc.c_str()), nullptr);
    EXPECT_EQ(std::string(vellix_last_error()), "encrypted PDFs are not supported: " + enc);

    // A success after failures empties the message.
    const char* r = vellix_read_xmp(good.c_str());
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r), REPORT_JSON);
    EXPECT_STREQ(vellix_last_error(), "");
}

bool have_tool(const char* name) {
    std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// A PDF/A-2b file made by ghostscript from a small PostScript program that sets
// the document information; "" when it could not be made.
std::string make_pdfa(const TempDir& dir) {
    std::string ps = dir.file("doc.ps");
    write_file(ps,
               "%!PS\n"
               "[ /Title (Quarterly report) /Author (Ann Author) /Subject (Figures) /Keywords (finance, 2024)"
               " /Creator (Writer) /DOCINFO pdfmark\n"
               "/Helvetica findfont 20 scalefont setfont 72 700 moveto (Hello) show showpage\n");
    std::string out = dir.file("pdfa.pdf");
    std::string cmd = "gs -q -dPDFA=2 -dBATCH -dNOPAUSE -dNOSAFER -sColorConversionStrategy=RGB"
                      " -dPDFACompatibilityPolicy=1 -sDEVICE=pdfwrite -sOutputFile='" +
                      out + "' '" + ps + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0 || read_file(out).empty()) return "";
    return out;
}

// YYYY-MM-DDThh:mm:ss followed by anything (fraction, zone).
bool looks_like_xmp_date(const std::string& s) {
    const std::string shape = "dddd-dd-ddTdd:dd:dd";
    if (s.size() < shape.size()) return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(s[i])) : s[i] != shape[i]) return false;
    }
    return true;
}

void expect_pdfa_properties(const std::string& json) {
    auto m = parse(json);
    EXPECT_EQ(m["dc:title"], "Quarterly report");
    EXPECT_EQ(m["dc:creator"], "Ann Author");
    EXPECT_EQ(m["dc:description"], "Figures");
    EXPECT_EQ(m["pdf:Keywords"], "finance, 2024");
    EXPECT_EQ(m["xmp:CreatorTool"], "Writer");
    EXPECT_EQ(m["pdf:Producer"].rfind("GPL Ghostscript", 0), 0u) << m["pdf:Producer"];
    EXPECT_TRUE(looks_like_xmp_date(m["xmp:CreateDate"])) << m["xmp:CreateDate"];
    EXPECT_TRUE(looks_like_xmp_date(m["xmp:ModifyDate"])) << m["xmp:ModifyDate"];
    // The eight standard keys lead, in their fixed order.
    EXPECT_EQ(json.rfind("{\"dc:title\":", 0), 0u);
    EXPECT_NE(json.find("\"pdf:Producer\":\"GPL Ghostscript"), std::string::npos);
}

TEST(XmpRealProducers, GhostscriptPdfA) {
    if (!have_tool("gs")) GTEST_SKIP() << "ghostscript not installed";
    TempDir dir;
    std::string pdf = make_pdfa(dir);
    ASSERT_FALSE(pdf.empty()) << "gs failed to write a PDF/A file";
    const char* r = vellix_read_xmp(pdf.c_str());
    ASSERT_NE(r, nullptr) << vellix_last_error();
    expect_pdfa_properties(r);
}

TEST(XmpRealProducers, QpdfRewrites) {
    if (!have_tool("gs") || !have_tool("qpdf")) GTEST_SKIP() << "ghostscript or qpdf not installed";
    TempDir dir;
    std::string pdf = make_pdfa(dir);
    ASSERT_FALSE(pdf.empty());
    // Object streams (the catalog then lives compressed in one), with and
    // without stream compression, and the QDF form.
    const char* modes[] = {"--object-streams=generate", "--object-streams=generate --compress-streams=y",
                           "--qdf --object-streams=disable", "--linearize"};
    for (const char* mode : modes) {
        std::string out = dir.file("q.pdf");
        std::string cmd = std::string("qpdf ") + mode + " '" + pdf + "' '" + out + "' >/dev/null 2>&1";
        int rc = std::system(cmd.c_str());
        ASSERT_TRUE(rc == 0 || WEXITSTATUS(rc) == 3) << mode;  // 3: warnings only
        const char* r = vellix_read_xmp(out.c_str());
        ASSERT_NE(r, nullptr) << mode << ": " << vellix_last_error();
        expect_pdfa_properties(r);
    }
}

TEST(XmpRealProducers, CairoOutputHasNoXmp) {
    if (!have_tool("gs") || !have_tool("pdftocairo")) GTEST_SKIP() << "ghostscript or pdftocairo not installed";
    TempDir dir;
    std::string pdf = make_pdfa(dir);
    ASSERT_FALSE(pdf.empty());
    std::string out = dir.file("cairo.pdf");
    std::string cmd = "pdftocairo -pdf '" + pdf + "' '" + out + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const char* r = vellix_read_xmp(out.c_str());
    ASSERT_NE(r, nullptr) << vellix_last_error();
    // cairo writes an Info dictionary but no metadata stream.
    EXPECT_EQ(std::string(r), EMPTY_STD);
    EXPECT_STREQ(vellix_last_error(), "");
}

// Options set for one scope, back to 0 after it.
struct with_options {
    explicit with_options(unsigned o) { vellix_set_options(o); }
    ~with_options() { vellix_set_options(0); }
};

std::string std_json(const std::string& title, const std::string& creator, const std::string& subject,
                     const std::string& rest = "") {
    return "{\"dc:title\":\"" + title + "\",\"dc:creator\":\"" + creator + "\",\"dc:description\":\"\"," +
           "\"dc:subject\":\"" + subject + "\",\"xmp:CreateDate\":\"\",\"xmp:ModifyDate\":\"\",\"pdf:Producer\":\"\"," +
           "\"pdf:Keywords\":\"\"" + rest + "}";
}

std::string read_packet(const std::string& pkt) { return read_bytes(with_metadata("", pkt)); }

TEST(XmpResolved, RdfFormsOfProperties) {
    struct row {
        const char* what;
        std::string inner;  // inside the rdf:Description of `packet`
        std::string json;
    };
    const row cases[] = {
        {"the common element forms",
         "<dc:title><rdf:Alt><rdf:li xml:lang=\"de\">Bericht</rdf:li><rdf:li xml:lang=\"x-default\">Report</rdf:li>"
         "</rdf:Alt></dc:title><dc:creator><rdf:Seq><rdf:li>Ann</rdf:li><rdf:li>Bob</rdf:li></rdf:Seq></dc:creator>"
         "<dc:subject><rdf:Bag><rdf:li>finance</rdf:li> <rdf:li>2024</rdf:li></rdf:Bag></dc:subject>",
         std_json("Report", "Ann, Bob", "finance, 2024")},
        {"Alt without x-default gives its first item",
         "<dc:title><rdf:Alt><rdf:li xml:lang=\"fr\">Rapport</rdf:li><rdf:li xml:lang=\"de\">Bericht</rdf:li>"
         "</rdf:Alt></dc:title>",
         std_json("Rapport", "", "")},
        {"x-default in any case",
         "<dc:title><rdf:Alt><rdf:li xml:lang=\"en\">A</rdf:li><rdf:li xml:lang=\"X-Default\">B</rdf:li></rdf:Alt>"
         "</dc:title>",
         std_json("B", "", "")},
        {"containers with attributes and white space",
         "<dc:creator>\n <rdf:Seq xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
         "  <rdf:li >Ann</rdf:li>\n  <rdf:li/>\n  <rdf:li>Bob</rdf:li>\n </rdf:Seq>\n</dc:creator>",
         std_json("", "Ann, Bob", "")},
        {"structures: fields under their own names, the structure itself without a value",
         "<xmpMM:DerivedFrom rdf:parseType=\"Resource\"><stRef:instanceID>uuid:1</stRef:instanceID>"
         "</xmpMM:DerivedFrom><xmpMM:History><rdf:Seq><rdf:li stEvt:action=\"created\" stEvt:when=\"2024\"/>"
         "<rdf:li><rdf:Description stEvt:action=\"saved\"/></rdf:li></rdf:Seq></xmpMM:History>"
         "<xmpTPg:MaxPageSize stDim:w=\"8.5\" stDim:unit=\"Inches\"/>",
         std_json("", "", "",
                  ",\"stRef:instanceID\":\"uuid:1\",\"stEvt:action\":\"created\",\"stEvt:when\":\"2024\","
                  "\"stDim:w\":\"8.5\",\"stDim:unit\":\"Inches\"")},
        {"the first value of a name wins; rdf:resource as a value",
         "<xmp:CreatorTool>One</xmp:CreatorTool><xmp:CreatorTool>Two</xmp:CreatorTool>"
         "<xmpRights:WebStatement rdf:resource=\"http://x.example/\"/>",
         std_json("", "", "", ",\"xmp:CreatorTool\":\"One\",\"xmpRights:WebStatement\":\"http://x.example/\"")},
        {"comments, CDATA and entities", "<!-- <dc:title>no</dc:title> --><pdf:Keywords><![CDATA[a<b]]> &amp; c</pdf:Keywords>",
         "{\"dc:title\":\"\",\"dc:creator\":\"\",\"dc:description\":\"\",\"dc:subject\":\"\",\"xmp:CreateDate\":\"\","
         "\"xmp:ModifyDate\":\"\",\"pdf:Producer\":\"\",\"pdf:Keywords\":\"a<b & c\"}"},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.what);
        with_options on(VELLIX_RESOLVE | VELLIX_UNICODE);
        EXPECT_EQ(read_packet(packet(c.inner)), c.json);
    }
}

TEST(XmpResolved, AttributesOfDescriptionAreProperties) {
    // The abbreviated form: simple properties as attributes, several
    // descriptions, rdf:about and namespace declarations left out.
    std::string pkt =
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"Tool 1\"><rdf:RDF xmlns:rdf=\"r\">"
        "<rdf:Description rdf:about=\"\" xmlns:pdf=\"p\" pdf:Producer=\"Ghost &amp; Co\" pdf:Keywords='a, b'/>"
        "<rdf:Description rdf:about=\"\" xmlns:xmp=\"x\"\n   xmp:CreateDate=\"2024-01-02\"\n"
        "   xmp:CreatorTool=\"Writer &#x2014; 7\"><dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">T</rdf:li>"
        "</rdf:Alt></dc:title></rdf:Description></rdf:RDF></x:xmpmeta>";
    with_options on(VELLIX_RESOLVE | VELLIX_UNICODE);
    EXPECT_EQ(read_packet(pkt),
              "{\"dc:title\":\"T\",\"dc:creator\":\"\",\"dc:description\":\"\",\"dc:subject\":\"\","
              "\"xmp:CreateDate\":\"2024-01-02\",\"xmp:ModifyDate\":\"\",\"pdf:Producer\":\"Ghost & Co\","
              "\"pdf:Keywords\":\"a, b\",\"xmp:CreatorTool\":\"Writer \xE2\x80\x94 7\"}");
}

// The packet's encoding: UTF-16 in both byte orders (mark or none), and
// UTF-8 with invalid bytes and references.
TEST(XmpResolved, PacketEncodingsAndReferences) {
    auto utf16 = [](const std::string& ascii_or_utf8, bool big, bool mark) {
        std::string out;
        if (mark) out += big ? "\xFE\xFF" : "\xFF\xFE";
        // The texts here are ASCII but for U+00FC and U+65E5 (written as \x01 and \x02).
        for (char ch : ascii_or_utf8) {
            uint16_t u = ch == '\x01' ? 0x00FC : ch == '\x02' ? 0x65E5 : static_cast<uint8_t>(ch);
            char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
            out += big ? std::string{hi, lo} : std::string{lo, hi};
        }
        return out;
    };
    const std::string pkt = packet("<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">\x01" "ber \x02</rdf:li>"
                                   "</rdf:Alt></dc:title><pdf:Producer>A&#233;B&#x1F600;&#0;</pdf:Producer>");
    // packet() starts with the UTF-8 mark in the begin attribute; the text is ASCII besides.
    const std::string want = "{\"dc:title\":\"\xC3\xBC" "ber \xE6\x97\xA5\",\"dc:creator\":\"\",\"dc:description\":\"\","
                             "\"dc:subject\":\"\",\"xmp:CreateDate\":\"\",\"xmp:ModifyDate\":\"\",\"pdf:Producer\":"
                             "\"A\xC3\xA9" "B\xF0\x9F\x98\x80\xEF\xBF\xBD\",\"pdf:Keywords\":\"\"}";
    std::string ascii = pkt;
    ascii.replace(ascii.find("\xEF\xBB\xBF"), 3, "\x01");  // the mark becomes a character of the text
    for (unsigned o : {VELLIX_UNICODE | VELLIX_RESOLVE, VELLIX_UNICODE + 0u}) {
        with_options on(o);
        for (bool big : {true, false})
            for (bool mark : {true, false}) {
                SCOPED_TRACE(std::to_string(o) + (big ? " BE" : " LE") + (mark ? " with mark" : ""));
                std::string r = read_packet(utf16(ascii, big, mark));
                if (o == VELLIX_UNICODE) {
                    // The byte scans find the same properties in the decoded text.
                    EXPECT_NE(r.find("\"pdf:Producer\":\"A\xC3\xA9" "B\xF0\x9F\x98\x80\xEF\xBF\xBD\""), std::string::npos) << r;
                    EXPECT_NE(r.find("\"dc:title\":\"\xC3\xBC" "ber \xE6\x97\xA5\""), std::string::npos) << r;
                } else {
                    EXPECT_EQ(r, want);
                }
            }
    }
    // UTF-8 with invalid bytes: replaced; the JSON stays valid UTF-8.
    with_options on(VELLIX_UNICODE | VELLIX_RESOLVE);
    EXPECT_EQ(read_packet(packet("<pdf:Producer>a\xFF" "b\xC3</pdf:Producer><x:Bad\xFE>v</x:Bad\xFE>")),
              "{\"dc:title\":\"\",\"dc:creator\":\"\",\"dc:description\":\"\",\"dc:subject\":\"\","
              "\"xmp:CreateDate\":\"\",\"xmp:ModifyDate\":\"\",\"pdf:Producer\":\"a\xEF\xBF\xBD" "b\xEF\xBF\xBD\","
              "\"pdf:Keywords\":\"\",\"x:Bad\xEF\xBF\xBD\":\"v\"}");
}

TEST(XmpResolved, OptionsZeroKeepsTheByteRules) {
    std::string pkt = packet("<dc:creator><rdf:Seq><rdf:li>Ann</rdf:li><rdf:li>Bob</rdf:li></rdf:Seq></dc:creator>");
    EXPECT_EQ(read_packet(pkt), std_json("", "Ann,Bob", ""));
    with_options on(VELLIX_RESOLVE);
    EXPECT_EQ(read_packet(pkt), std_json("", "Ann, Bob", ""));
}

TEST(XmpResolved, DeepNestingAndUnclosedTagsEnd) {
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<a:b>";
    deep += "<dc:title>x</dc:title>";
    for (int i = 0; i < 100000; ++i) deep += "<rdf:li><rdf:Description a:c=\"1\">";
    with_options on(VELLIX_RESOLVE | VELLIX_UNICODE);
    std::string r = read_packet(packet(deep));
    // The title is a field of the innermost structure: recorded under its name.
    EXPECT_EQ(r.substr(0, 15), "{\"dc:title\":\"x\"") << r.substr(0, 200);
    EXPECT_NE(r.find("\"a:c\":\"1\""), std::string::npos);
}

}  // namespace
