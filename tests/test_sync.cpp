// Info and XMP kept in agreement under VELLIX_SYNC: the packet edited in
// place, the eight fields mirrored both ways, and the packets refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/json_check.h"
#include "support/pdf_builder.h"
#include "support/process.h"
#include "vellix.h"

namespace fs = std::filesystem;

namespace {

struct options_scope {
    unsigned prev;
    explicit options_scope(unsigned bits) : prev(vellix_set_options(bits)) {}
    ~options_scope() { vellix_set_options(prev); }
};

constexpr unsigned READ = VELLIX_UNICODE | VELLIX_RESOLVE;
constexpr unsigned SYNC = READ | VELLIX_SYNC;

const std::string PACKET_HEAD =
    "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>\n"
    "<x:xmpmeta xmlns:x='adobe:ns:meta/'>\n"
    "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n"
    "<rdf:Description rdf:about='' xmlns:dc='http://purl.org/dc/elements/1.1/' "
    "xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/' photoshop:City='Oslo'>\n"
    "<dc:title><rdf:Alt><rdf:li xml:lang='x-default'>XMP title</rdf:li></rdf:Alt></dc:title>\n"
    "<dc:format>application/pdf</dc:format>\n"
    "</rdf:Description>\n"
    "<rdf:Description rdf:about='' xmlns:xap='http://ns.adobe.com/xap/1.0/' "
    "xap:CreateDate='2020-01-02T03:04:05+01:00'/>\n"
    "</rdf:RDF>\n</x:xmpmeta>\n";
const std::string PACKET = PACKET_HEAD + std::string(1000, ' ') + "\n<?xpacket end='w'?>";

// Info: title, author, producer and a creation date; the packet above,
// stored or compressed; or no packet.
std::string fixture(const std::string& packet, bool compressed = false) {
    PdfBuilder b("1.6");
    b.obj(1, packet.empty() ? "<< /Type /Catalog /Pages 2 0 R >>" : "<< /Type /Catalog /Pages 2 0 R /Metadata 5 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>");
    b.obj(4, "<< /Title (Info title) /Author (Ann) /Producer (Prod) /CreationDate (D:20200102030405+01'00') >>");
    if (!packet.empty()) {
        if (compressed)
            b.stream(5, "/Type /Metadata /Subtype /XML /Filter /FlateDecode", zlib_compress(packet));
        else
            b.stream(5, "/Type /Metadata /Subtype /XML", packet);
    }
    b.xref_trailer("/Size 6 /Root 1 0 R /Info 4 0 R");
    return b.bytes();
}

std::string read_info(const std::string& path) {
    options_scope o(READ);
    const char* j = vellix_read(path.c_str());
    return j ? j : std::string("<error: ") + vellix_last_error() + ">";
}

std::string read_xmp(const std::string& path) {
    options_scope o(READ);
    const char* j = vellix_read_xmp(path.c_str());
    return j ? j : std::string("<error: ") + vellix_last_error() + ">";
}

std::string xmp_member(const std::string& xmp, const std::string& name) {
    std::string v = json_string_member(xmp, name);
    if ((v.empty() || v == "<missing>") && name.rfind("xmp:", 0) == 0) v = json_string_member(xmp, "xap:" + name.substr(4));
    return v == "<missing>" ? "" : v;
}

// "" when vellix_read and vellix_read_xmp agree on the eight fields, else
// the first field that differs.
std::string disagreement(const std::string& path) {
    const std::string info = read_info(path), xmp = read_xmp(path);
    const std::pair<const char*, const char*> pairs[] = {
        {"title", "dc:title"},          {"author", "dc:creator"},        {"subject", "dc:description"},
        {"keywords", "pdf:Keywords"},   {"creator", "xmp:CreatorTool"},  {"producer", "pdf:Producer"},
        {"creation_date", "xmp:CreateDate"}, {"mod_date", "xmp:ModifyDate"},
    };
    for (const auto& [field, prop] : pairs) {
        std::string a = json_string_member(info, field), b = xmp_member(xmp, prop);
        if (std::string(field).find("date") != std::string::npos) b = b.substr(0, 10);
        if (a != b) return std::string(field) + ": Info \"" + a + "\", XMP \"" + b + "\"";
    }
    return "";
}

}  // namespace

TEST(Sync, XmpWritesEditThePacketAndSetInfo) {
    TempDir dir;
    for (bool compressed : {false, true}) {
        SCOPED_TRACE(compressed);
        std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
        write_file(in, fixture(PACKET, compressed));
        options_scope o(SYNC);
        ASSERT_EQ(vellix_write_xmp(in.c_str(), out.c_str(), "{\"dc:title\":\"Neu \\u00fc\",\"photoshop:City\":\"\"}"), 1)
            << vellix_last_error();
        std::string xmp = read_xmp(out), info = read_info(out);
        EXPECT_EQ(xmp_member(xmp, "dc:title"), "Neu \xC3\xBC");
        EXPECT_EQ(json_string_member(xmp, "photoshop:City"), "<missing>");
        EXPECT_EQ(json_string_member(xmp, "dc:format"), "application/pdf");  // untouched
        EXPECT_EQ(json_string_member(info, "title"), "Neu \xC3\xBC");
        // Info's author and producer, which the packet lacked, are in both now.
        EXPECT_EQ(xmp_member(xmp, "dc:creator"), "Ann");
        EXPECT_EQ(xmp_member(xmp, "pdf:Producer"), "Prod");
        EXPECT_EQ(xmp_member(xmp, "xmp:CreateDate"), "2020-01-02T03:04:05+01:00");
        EXPECT_EQ(disagreement(out), "");
        // The packet's own bytes around the edits are still there.
        std::string bytes = read_file(out);
        EXPECT_NE(bytes.find("<dc:format>application/pdf</dc:format>\n<dc:creator>"), std::string::npos);
        EXPECT_NE(bytes.find("xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/'>"), std::string::npos);
    }
}

TEST(Sync, InfoWritesEditThePacketWhenThereIsOne) {
    TempDir dir;
    std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    write_file(in, fixture(PACKET));
    options_scope o(SYNC);
    ASSERT_EQ(vellix_write(in.c_str(), out.c_str(), "T \xE2\x80\x94 new", nullptr, "Sub", nullptr), 1) << vellix_last_error();
    std::string xmp = read_xmp(out);
    EXPECT_EQ(xmp_member(xmp, "dc:title"), "T \xE2\x80\x94 new");
    EXPECT_EQ(xmp_member(xmp, "dc:description"), "Sub");
    EXPECT_EQ(json_string_member(xmp, "photoshop:City"), "Oslo");
    EXPECT_EQ(disagreement(out), "");

    ASSERT_EQ(vellix_write_full(in.c_str(), out.c_str(), "{\"creation_date\":\"2024-01-15\",\"keywords\":\"a, b\"}"), 1)
        << vellix_last_error();
    xmp = read_xmp(out);
    EXPECT_EQ(xmp_member(xmp, "xmp:CreateDate").substr(0, 10), "2024-01-15");
    EXPECT_EQ(xmp_member(xmp, "pdf:Keywords"), "a, b");
    EXPECT_EQ(disagreement(out), "");

    // An update appended under VELLIX_INCREMENTAL agrees too.
    options_scope inc(SYNC | VELLIX_INCREMENTAL);
    ASSERT_EQ(vellix_write(in.c_str(), out.c_str(), "Appended", nullptr, nullptr, nullptr), 1) << vellix_last_error();
    EXPECT_EQ(read_file(out).rfind(read_file(in), 0), 0u);
    EXPECT_EQ(disagreement(out), "");
    EXPECT_EQ(xmp_member(read_xmp(out), "dc:title"), "Appended");
}

TEST(Sync, ADocumentWithoutPacketGetsNoneFromAnInfoWrite) {
    TempDir dir;
    std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    write_file(in, fixture(""));
    options_scope o(SYNC);
    ASSERT_EQ(vellix_write(in.c_str(), out.c_str(), "T", nullptr, nullptr, nullptr), 1) << vellix_last_error();
    EXPECT_EQ(read_file(out).find("/Metadata"), std::string::npos);
    // An XMP write makes a new packet holding Info's fields as well.
    ASSERT_EQ(vellix_write_xmp(in.c_str(), out.c_str(), "{\"dc:title\":\"X\"}"), 1) << vellix_last_error();
    EXPECT_EQ(xmp_member(read_xmp(out), "dc:creator"), "Ann");
    EXPECT_EQ(disagreement(out), "");
}

TEST(Sync, PacketsThatCannotBeEditedFailBothWriters) {
    TempDir dir;
    const struct {
        const char* name;
        std::string packet;
        const char* message;
    } cases[] = {
        {"not well-formed", PACKET_HEAD + "<rdf:li>", "the XMP packet cannot be edited: the XMP packet is not well-formed XML ("},
        {"entities", "<!DOCTYPE x [<!ENTITY a 'b'>]>" + PACKET_HEAD, "the XMP packet cannot be edited: the XMP packet has a document type declaration"},
        {"UTF-16", std::string("\xFE\xFF\0<", 4), "the XMP packet is not UTF-8; it is not edited"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string in = dir.file("bad.pdf"), out = dir.file("out.pdf");
        write_file(in, fixture(c.packet));
        fs::remove(out);
        options_scope o(SYNC);
        EXPECT_EQ(vellix_write(in.c_str(), out.c_str(), "T", nullptr, nullptr, nullptr), 0);
        EXPECT_EQ(std::string(vellix_last_error()).rfind(c.message, 0), 0u) << vellix_last_error();
        EXPECT_EQ(vellix_write_xmp(in.c_str(), out.c_str(), "{\"dc:title\":\"T\"}"), 0);
        EXPECT_EQ(std::string(vellix_last_error()).rfind(c.message, 0), 0u) << vellix_last_error();
        EXPECT_FALSE(fs::exists(out));
        // Without the bit the writers go ahead as before.
        options_scope plain(READ);
        EXPECT_EQ(vellix_write(in.c_str(), out.c_str(), "T", nullptr, nullptr, nullptr), 1);
    }
}

// Over the corpus: after a write with the bit (an Info write and an XMP
// write), every copy that was written reads with the eight fields agreeing
// wherever it has a packet, and every property of the packet that the XMP
// write did not name is still there with its value.
TEST(Sync, CorpusCopiesAgree) {
    const fs::path corpus = VELLIX_CORPUS_DIR;
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    TempDir dir;
    const std::string out = dir.file("out.pdf");
    int written = 0, with_packet = 0;
    for (const auto& e : fs::directory_iterator(corpus)) {
        if (e.path().extension() != ".pdf") continue;
        const std::string in = e.path().string();
        SCOPED_TRACE(e.path().filename().string());
        const std::string before = read_xmp(in);
        for (int w = 0; w < 2; ++w) {
            fs::remove(out);
            int ok;
            {
                options_scope o(SYNC);
                ok = w == 0 ? vellix_write(in.c_str(), out.c_str(), "Sync \xC3\xA9t\xC3\xA9", nullptr, nullptr, nullptr)
                            : vellix_write_xmp(in.c_str(), out.c_str(), "{\"dc:title\":\"Sync X\",\"pdf:Producer\":\"P\"}");
            }
            if (!ok) continue;
            ++written;
            const std::string xmp = read_xmp(out);
            ASSERT_EQ(json_fault(xmp), "");
            if (read_file(out).find("/Metadata") == std::string::npos) continue;
            ++with_packet;
            EXPECT_EQ(disagreement(out), "") << (w == 0 ? "vellix_write" : "vellix_write_xmp");
            if (w == 1 && before.rfind("<error", 0) != 0 && json_string_member(before, "dc:format") != "<missing>") {
                EXPECT_EQ(json_string_member(xmp, "dc:format"), json_string_member(before, "dc:format"));
            }
        }
    }
    EXPECT_GT(written, 500);
    EXPECT_GT(with_packet, 100);
}
