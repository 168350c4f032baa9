// Size analysis: stream classes, overhead, page and object counts, failures.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "syntax/codecs.h"
#include "core/frame.h"
#include "syntax/dict_view.h"
#include "support/pdf_builder.h"
#include "vellix.h"

extern thread_local result_slot g_analyze_json;  // defined beside vellix_analyze

namespace {

std::string analyze_json(long total, long fonts, long images, long streams, long overhead, int pages,
                         int objects) {
    return "{\"total_bytes\":" + std::to_string(total) + ",\"fonts_bytes\":" + std::to_string(fonts) +
           ",\"images_bytes\":" + std::to_string(images) + ",\"streams_bytes\":" + std::to_string(streams) +
           ",\"overhead_bytes\":" + std::to_string(overhead) + ",\"pages\":" + std::to_string(pages) +
           ",\"objects\":" + std::to_string(objects) + "}";
}

// The class test compares names on the fly; it must agree with the decoded
// /Type and /Subtype values for every spelling.
TEST(DictNameIs, AgreesWithTheDecodedName) {
    const char* dicts[] = {
        "<< /Type /Font >>",         "<< /Type /Font/Subtype/Image >>", "<< /Type /Fonts >>",
        "<< /Type /Fon >>",          "<< /Type /font >>",               "<< /Type /F#6Fnt >>",
        "<< /Type /F#6fn#74 >>",     "<< /Type /Font#00x >>",           "<< /Type /#00 >>",
        "<< /Type /Font#0 >>",       "<< /Type /Font#zz >>",            "<< /Type /Fo#6",
        "<< /Type /Font",            "<< /Type / >>",                   "<< /Type (Font) >>",
        "<< /Type Font >>",          "<< /Types /Font >>",              "<< /X << /Type /Font >> >>",
        "<< /Type\n\t/Font >>",      "<< /Type /Font+ >>",              "<< /Subtype /Image >>",
        "<< /Subtype /Im#61ge >>",   "<< /Subtype /Image#20 >>",        "<< /Subtype /Image_ >>",
        "<< /Subtype /Imag >>",      "<< /Subtype /Images >>",          "<< /Subtype /I#6D#61#67#65 >>",
        "<< /Subtype/Image>>",       "<< /Subtype /Image.x >>",         "<< /Type",
        "<< /Subtype",               "",
    };
    for (const char* d : dicts) {
        size_t n = std::strlen(d);
        std::unique_ptr<uint8_t[]> exact(new uint8_t[n ? n : 1]);
        std::memcpy(exact.get(), d, n);
        const uint8_t* t = exact.get();
        const dict_view view{t, 0, static_cast<pos>(n)};
        cstr type = dict_name(view, "Type");
        cstr subtype = dict_name(view, "Subtype");
        for (const char* want : {"Font", "Image", "", "Fon"}) {
            EXPECT_EQ(view.name_is("Type", want), type && std::strcmp(type.get(), want) == 0)
                << d << " Type " << want;
            EXPECT_EQ(view.name_is("Subtype", want), subtype && std::strcmp(subtype.get(), want) == 0)
                << d << " Subtype " << want;
        }
    }
}

class Analyze : public ::testing::Test {
protected:
    TempDir dir;
    std::string put(const std::string& bytes, const std::string& name = "t.pdf") {
        std::string p = dir.file(name);
        write_file(p, bytes);
        return p;
    }
    std::string run(const std::string& path) {
        const char* r = vellix_analyze(path.c_str());
        EXPECT_NE(r, nullptr) << vellix_last_error();
        EXPECT_STREQ(vellix_last_error(), "");
        return r ? r : "<null>";
    }
};

// Catalog 1, pages 2, page leaves 3 .. 2 + pages.
PdfBuilder pages_doc(int pages) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int i = 0; i < pages; ++i) kids += std::to_string(3 + i) + " 0 R ";
    b.obj(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    for (int i = 0; i < pages; ++i) b.obj(3 + i, "<< /Type /Page /Parent 2 0 R >>");
    return b;
}

TEST_F(Analyze, NoStreamsIsAllOverhead) {
    PdfBuilder b = pages_doc(3);
    b.xref_trailer("/Size 6 /Root 1 0 R");
    EXPECT_EQ(run(put(b.bytes())), analyze_json(b.size(), 0, 0, 0, b.size(), 3, 5));
}

TEST_F(Analyze, StreamsAreClassedByTypeThenSubtype) {
    PdfBuilder b = pages_doc(1);
    b.stream(10, "/Type /Font /Subtype /Type1", std::string(11, 'f'));
    b.stream(11, "/Type /XObject /Subtype /Image /Width 1 /Height 1", std::string(23, 'i'));
    b.stream(12, "/Type /Font /Subtype /Image", std::string(5, 'b'));      // type first: font
    b.stream(13, "/Filter /FlateDecode", std::string(7, 's'));            // font program without /Type
    b.stream(14, "/Subtype /image", std::string(3, 'c'));                 // case matters
    b.stream(15, "/Subtype /Images", std::string(2, 'l'));                // longer name: no match
    b.stream(16, "/Subtype /Imag", std::string(4, 'm'));                  // shorter name: no match
    b.stream(17, "/DecodeParms << /Type /Font >> /Subtype /Image", std::string(13, 'n'));  // first /Type anywhere
    b.stream(18, "/Subtype /Im#61ge", std::string(17, 'e'));              // decoded name is Image
    b.stream(19, "/Type /Metadata /Subtype /XML", std::string(19, 'x'));
    b.xref_trailer("/Size 20 /Root 1 0 R");
    long fonts = 11 + 5 + 13, images = 23 + 17, streams = 7 + 3 + 2 + 4 + 19;
    EXPECT_EQ(run(put(b.bytes())),
              analyze_json(b.size(), fonts, images, streams, b.size() - fonts - images - streams, 1, 13));
}

TEST_F(Analyze, CrossReferenceStreamCountsAsStream) {
    PdfBuilder b = pages_doc(1);
    b.xref_stream(4, "/Size 5 /Root 1 0 R");
    // Five rows of seven bytes: object 0, objects 1 to 3 and object 4 itself.
    long xref_data = 5 * 7;
    EXPECT_EQ(run(put(b.bytes())), analyze_json(b.size(), 0, 0, xref_data, b.size() - xref_data, 1, 4));
}

TEST_F(Analyze, ObjectStreamBytesAreOverheadTheirObjectsCount) {
    PdfBuilder b = pages_doc(1);
    b.object_stream(10, {{4, "<< /Title (t) >>"}, {5, "<< /Type /Font >>"}, {6, "7"}});
    b.stream(11, "/Type /Font", "FONT");
    b.xref_trailer("/Size 12 /Root 1 0 R");
    // Objects 1 to 3, 4 to 6 from the object stream, 11; not the container 10.
    EXPECT_EQ(run(put(b.bytes())), analyze_json(b.size(), 4, 0, 0, b.size() - 4, 1, 7));
}

TEST_F(Analyze, UnresolvedPageTreeCountsNoPagesButAllObjects) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 7 0 R >>");
    b.obj(2, "<< /Type /Page >>");
    b.stream(3, "/Subtype /Image", "abc");
    b.xref_trailer("/Size 4 /Root 1 0 R");
    EXPECT_EQ(run(put(b.bytes())), analyze_json(b.size(), 0, 3, 0, b.size() - 3, 0, 3));
}

TEST_F(Analyze, OverheadNeverNegative) {
    // Object 3 sits in a string of object 2's dictionary and has a wrong
    // /Length, so its data runs to object 2's "endstream": the data of
    // object 2 is counted twice and the sums pass the file size.
    std::string data(1000, 'z');
    std::string file = "%PDF-1.4\n2 0 obj\n<< /Length 1000 /K (3 0 obj << /Length 1 >>\nstream\n) >>\nstream\n" +
                       data + "\nendstream\nendobj\n";
    long inner = 1000 + static_cast<long>(std::string(") >>\nstream\n").size());
    ASSERT_GT(1000 + inner, static_cast<long>(file.size()));
    EXPECT_EQ(run(put(file)), analyze_json(static_cast<long>(file.size()), 0, 0, 1000 + inner, 0, 0, 2));
}

TEST_F(Analyze, FailuresAndResultSlot) {
    EXPECT_EQ(vellix_analyze(nullptr), nullptr);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");

    PdfBuilder enc = pages_doc(1);
    enc.obj(4, "<< /Filter /Standard /V 1 /R 2 /O <00> /U <00> /P -4 >>");
    enc.xref_trailer("/Size 5 /Root 1 0 R /Encrypt 4 0 R");
    std::string encrypted = put(enc.bytes(), "enc.pdf");
    EXPECT_EQ(vellix_analyze(encrypted.c_str()), nullptr);
    EXPECT_EQ(std::string(vellix_last_error()), "encrypted PDFs are not supported: " + encrypted);

    std::string missing = dir.file("missing.pdf");
    EXPECT_EQ(vellix_analyze(missing.c_str()), nullptr);
    EXPECT_EQ(std::string(vellix_last_error()), "cannot open " + missing);
    EXPECT_EQ(g_analyze_json.text, nullptr);

    PdfBuilder b = pages_doc(1);
    b.xref_trailer("/Size 4 /Root 1 0 R");
    std::string good = put(b.bytes());
    const char* first = vellix_analyze(good.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(g_analyze_json.text, first);
    EXPECT_EQ(vellix_analyze(nullptr), nullptr);
    EXPECT_EQ(g_analyze_json.text, nullptr);
}

TEST_F(Analyze, ResolvedCountsTheFontProgramsDescriptorsName) {
    PdfBuilder b = pages_doc(1);
    // Descriptor by reference (no /Type), inline descriptor, Type0 descendant
    // by reference, a descriptor of its own; 24 is named by nothing.
    b.obj(10, "<< /Type /Font /Subtype /TrueType /BaseFont /A /FontDescriptor 11 0 R >>");
    b.obj(11, "<< /FontName /A /FontFile2 20 0 R >>");
    b.obj(12, "<< /Type /Font /Subtype /Type1 /BaseFont /B /FontDescriptor << /FontFile 21 0 R >> >>");
    b.obj(13, "<< /Type /Font /Subtype /Type0 /BaseFont /C /DescendantFonts 14 0 R >>");
    b.obj(14, "[15 0 R]");
    b.obj(15, "<< /Type /Font /Subtype /CIDFontType0 /FontDescriptor << /FontFile3 22 0 R >> >>");
    b.obj(16, "<< /Type /FontDescriptor /FontName /D /FontFile3 23 0 R >>");
    b.stream(20, "", std::string(100, 'a'));
    b.stream(21, "/Length1 5", std::string(200, 'b'));
    b.stream(22, "/Subtype /CIDFontType0C", std::string(300, 'c'));
    b.stream(23, "/Subtype /Type1C", std::string(400, 'd'));
    b.stream(24, "", std::string(50, 'e'));
    b.xref_trailer("/Size 25 /Root 1 0 R");
    std::string path = put(b.bytes());
    long fonts = 100 + 200 + 300 + 400;
    vellix_set_options(VELLIX_RESOLVE);
    std::string resolved = run(path);
    vellix_set_options(0);
    EXPECT_EQ(resolved, analyze_json(b.size(), fonts, 0, 50, b.size() - fonts - 50, 1, 15));
    // Options 0: every program counts as a stream.
    EXPECT_EQ(run(path), analyze_json(b.size(), 0, 0, fonts + 50, b.size() - fonts - 50, 1, 15));
}

}  // namespace
