// Writes generated seed inputs into the directories given:
//   make_seeds <pdf-dir> <json-dir> <inflate-dir>
// Small documents covering the loader's paths (classic and stream
// cross-reference sections, object streams plain and compressed, incremental
// updates, damaged tails) and the features of every report; JSON texts for
// the two JSON-driven writers; zlib streams of each block type.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/pdf_builder.h"

namespace fs = std::filesystem;

namespace {

const std::string XMP =
    "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
    "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\""
    " xmp:CreatorTool=\"Tool &amp; co\">"
    "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">A title</rdf:li></rdf:Alt></dc:title>"
    "<dc:creator><rdf:Seq><rdf:li>Ann</rdf:li><rdf:li>Bob</rdf:li></rdf:Seq></dc:creator>"
    "<dc:subject><rdf:Bag><rdf:li>x</rdf:li><rdf:li>y</rdf:li></rdf:Bag></dc:subject>"
    "<xmp:CreateDate>2024-01-15T10:30:00Z</xmp:CreateDate>"
    "</rdf:Description></rdf:RDF></x:xmpmeta>\n<?xpacket end=\"w\"?>";

const std::string INFO =
    "<< /Title (Annual \\(figures\\)) /Author <FEFF0041006E006E> /Subject /Memo /Keywords [(alpha) (beta) <6364>]"
    " /Creator (Writer) /Producer (Converter 2) /CreationDate (D:20240115103000+01'00') /ModDate (D:2024) >>";

std::string page(int parent, const std::string& extra = "") {
    return "<< /Type /Page /Parent " + std::to_string(parent) + " 0 R /MediaBox [0 0 612 792]" + extra + " >>";
}

std::string with_info() { return minimal_pdf(3, INFO); }

std::string xref_stream_with_objstm(bool compress) {
    PdfBuilder b("1.5");
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::vector<std::pair<int, std::string>> objs = {
        {2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>"},
        {3, page(2)},
        {4, page(2)},
        {5, "<< /Title (In a stream) /Producer (P) >>"}};
    if (!compress) {
        b.object_stream(6, objs);
    } else {
        std::string header, body;
        for (const auto& [n, text] : objs) {
            header += std::to_string(n) + " " + std::to_string(body.size()) + " ";
            body += text + "\n";
        }
        b.stream(6,
                 "/Type /ObjStm /N " + std::to_string(objs.size()) + " /First " + std::to_string(header.size()) +
                     " /Filter /FlateDecode",
                 zlib_compress(header + body, 9));
    }
    b.xref_stream(7, "/Type /XRef /Size 8 /Root 1 0 R /Info 5 0 R");
    return b.bytes();
}

std::string with_xmp(bool compress) {
    PdfBuilder b("1.6");
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /Metadata 4 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, page(2));
    if (compress)
        b.stream(4, "/Type /Metadata /Subtype /XML /Filter /FlateDecode", zlib_compress(XMP, 6));
    else
        b.stream(4, "/Type /Metadata /Subtype /XML", XMP);
    b.xref_trailer("/Size 5 /Root 1 0 R");
    return b.bytes();
}

std::string outlines_and_labels() {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 10 0 R /PageLabels << /Nums [0 << /S /r >> 2 << /S /D /P (A-) /St 5 >>] >> >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R] /Count 4 >>");
    for (int i = 3; i <= 6; ++i) b.obj(i, page(2));
    b.obj(10, "<< /Type /Outlines /First 11 0 R /Last 12 0 R /Count 3 >>");
    b.obj(11, "<< /Title (Chapter 1) /Parent 10 0 R /Next 12 0 R /First 13 0 R /Last 13 0 R /Dest [3 0 R /Fit] >>");
    b.obj(12, "<< /Title <FEFF00430068002E00200032> /Parent 10 0 R /Prev 11 0 R /A << /S /GoTo /D [5 0 R /XYZ 0 0 0] >> >>");
    b.obj(13, "<< /Title (Section 1.1) /Parent 11 0 R /Dest [4 0 R /Fit] >>");
    b.xref_trailer("/Size 14 /Root 1 0 R");
    return b.bytes();
}

std::string fonts_and_images() {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /Resources << /Font << /F1 5 0 R >> >> >>");
    b.obj(3, page(2, " /Resources << /Font << /F1 5 0 R /F2 6 0 R >> /XObject << /Im1 8 0 R >> >> /Contents 9 0 R"));
    b.obj(4, page(2, " /Resources << /XObject << /Im2 10 0 R >> >>"));
    b.obj(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    b.obj(6, "<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+Serif#20Bold /FontDescriptor 7 0 R >>");
    b.obj(7, "<< /Type /FontDescriptor /FontName /ABCDEF+Serif#20Bold /FontFile2 11 0 R >>");
    b.stream(8, "/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceRGB /BitsPerComponent 8",
             std::string(12, '\x7f'));
    b.stream(9, "", "q 1 0 0 1 0 0 cm /Im1 Do Q BT /F1 12 Tf (Hi) Tj ET");
    b.stream(10, "/Subtype /Image /Width 1 /Height 1 /BitsPerComponent 1 /Filter [/FlateDecode /DCTDecode]",
             zlib_compress("\x80", 6));
    b.stream(11, "/Length1 4", "true");
    b.xref_trailer("/Size 12 /Root 1 0 R");
    return b.bytes();
}

std::string encrypted() {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, page(2));
    b.obj(4, "<< /Filter /Standard /V 4 /R 4 /Length 128 /P -1068 /EncryptMetadata false"
             " /CF << /StdCF << /CFM /AESV2 /Length 16 >> >> /StmF /StdCF /StrF /StdCF"
             " /O <0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef>"
             " /U <00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff> >>");
    b.xref_trailer("/Size 5 /Root 1 0 R /Encrypt 4 0 R /ID [<00ff> <00ff>]");
    return b.bytes();
}

std::string incremental() {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, page(2));
    b.obj(4, "<< /Title (Old) /Producer (P1) >>");
    b.xref_trailer("/Size 5 /Root 1 0 R /Info 4 0 R");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>");
    b.obj(5, page(2));
    b.obj(4, "<< /Title (New) /Producer (P2) /Author (A) >>");
    b.xref_trailer("/Size 6 /Root 1 0 R /Info 4 0 R");
    return b.bytes();
}

std::string nested_tree() {
    PdfBuilder b("1.3");
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 2 0 R] /Count 3 >>");  // a cycle back to the root
    b.obj(3, "<< /Type /Pages /Parent 2 0 R /Kids [5 0 R 6 0 R] /Count 2 >>");
    b.obj(4, page(2));
    b.obj(5, page(3));
    b.obj(6, page(3));
    b.xref_trailer("/Size 7 /Root 1 0 R");
    return b.bytes();
}

// No cross-reference section at all, the Info found by its keys, no header.
std::string damaged_tail() {
    std::string s = minimal_pdf(2, "<< /Producer (Scan) /Creator (C) >>");
    s.resize(s.find("xref"));
    return s + "startxref\n999999\n%%EOF\n";
}

std::string headerless() {
    PdfBuilder b("");
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, page(2));
    b.stream(4, "/Length 999", "stream data with endstream inside? no");
    b.xref_trailer("/Size 5 /Root 1 0 R");
    return b.bytes();
}

void put(const fs::path& dir, const std::string& name, const std::string& bytes) {
    fs::create_directories(dir);
    write_file(dir / name, bytes);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_seeds <pdf-dir> <json-dir> <inflate-dir>\n");
        return 2;
    }
    const fs::path pdf = argv[1], json = argv[2], infl = argv[3];

    put(pdf, "gen-minimal.pdf", minimal_pdf(1));
    put(pdf, "gen-info.pdf", with_info());
    put(pdf, "gen-objstm.pdf", xref_stream_with_objstm(false));
    put(pdf, "gen-objstm-flate.pdf", xref_stream_with_objstm(true));
    put(pdf, "gen-xmp.pdf", with_xmp(false));
    put(pdf, "gen-xmp-flate.pdf", with_xmp(true));
    put(pdf, "gen-outlines-labels.pdf", outlines_and_labels());
    put(pdf, "gen-fonts-images.pdf", fonts_and_images());
    put(pdf, "gen-encrypted.pdf", encrypted());
    put(pdf, "gen-incremental.pdf", incremental());
    put(pdf, "gen-nested-tree.pdf", nested_tree());
    put(pdf, "gen-damaged-tail.pdf", damaged_tail());
    put(pdf, "gen-headerless.pdf", headerless());

    const std::vector<std::pair<std::string, std::string>> texts = {
        {"info-all", "{\"title\":\"T\",\"author\":\"A (b)\",\"subject\":\"S\\\\\",\"keywords\":\"k1, k2\",\"creator\":\"C\","
                     "\"producer\":\"P\",\"creation_date\":\"2024-01-15\",\"mod_date\":\"D:20240115103000Z\"}"},
        {"info-escapes", "{ \"title\" : \"\\u00e9\\n\\t\\\"\\/\\b\\f\\r\" , \"mod_date\":\"2024-02-30T10:00:00\"}"},
        {"info-unknown", "{\"other\":\"x\",\"title\":\"\"}"},
        {"xmp-simple", "{\"dc:title\":\"<x&y>\",\"xmp:ModifyDate\":\"2024-01-15T10:00:00Z\"}"},
        {"xmp-alt", "{\"dc:subject\":\"a, b,,c,\",\"pdf:Keywords\":\",,\",\"my:a:b\":\"'q'\"}"},
        {"empty", "{}"},
        {"bad-nested", "{\"title\":{\"x\":\"y\"}}"},
        {"bad-number", "{\"title\":12}"},
    };
    for (const auto& [name, text] : texts) put(json, name + ".json", text);

    // Inflate seeds: first byte even is a round trip of the rest (after one
    // parameter byte), odd is a stream with a two-byte capacity before it.
    const std::string text = "The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog.";
    std::string rt;
    rt += '\x0e';  // level 6
    rt += '\x78';
    put(infl, "roundtrip-text", rt + text);
    put(infl, "roundtrip-stored", std::string("\x02\x38") + text);  // level 0, fixed strategy bits
    const std::pair<std::string, std::string> streams[] = {
        {"stream-dynamic", zlib_compress(text + text + std::string(300, 'z'), 9)},
        {"stream-fixed", zlib_compress(text, 6, 4)},
        {"stream-stored", zlib_compress(text, 0)},
        {"stream-huffman", zlib_compress(std::string(2000, 'a') + text, 6, 2)},
        {"stream-empty", zlib_compress("", 6)},
    };
    for (const auto& [name, z] : streams) put(infl, name, std::string("\x01\x02\x00", 3) + z);
    // 3 MiB of output at a capacity of 32 MiB: the measuring mode's window slides.
    put(infl, "stream-long", "\x03\xff\xff" + zlib_compress(std::string(3 << 20, 'a') + text, 9));
    return 0;
}
