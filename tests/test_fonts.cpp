// vellix_fonts end to end: font dictionaries found in the object table.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/pdf_builder.h"
#include "vellix.h"

namespace {

using objects = std::vector<std::pair<int, std::string>>;

// A one-page document (catalog 1, pages 2, page 3) with extra objects.
std::string doc_with(const objects& extra) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    for (const auto& [num, body] : extra) b.obj(num, body);
    b.xref_trailer("/Size 40 /Root 1 0 R");
    return b.bytes();
}

std::string fonts_of(const std::string& bytes) {
    TempDir dir;
    std::string path = dir.file("in.pdf");
    write_file(path, bytes);
    const char* r = vellix_fonts(path.c_str());
    return r ? std::string(r) : "NULL: " + std::string(vellix_last_error());
}

TEST(Fonts, ListsEveryFontInTableOrder) {
    std::string pdf = doc_with({
        {4, "<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+Calibri /FontDescriptor 6 0 R >>"},
        {5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"},
        {6, "<< /Type /FontDescriptor /FontName /ABCDEF+Calibri /FontFile2 7 0 R >>"},
    });
    EXPECT_EQ(fonts_of(pdf),
              "[{\"name\":\"ABCDEF+Calibri\",\"type\":\"TrueType\",\"embedded\":false,\"subset\":true},"
              "{\"name\":\"Helvetica\",\"type\":\"Type1\",\"embedded\":false,\"subset\":false}]");
    EXPECT_STREQ(vellix_last_error(), "");
}

TEST(Fonts, FieldsOfOneFontDictionary) {
    struct row {
        const char* dict;
        const char* json;
    };
    const row cases[] = {
        // Type3 font without /BaseFont.
        {"<< /Type /Font /Subtype /Type3 /FontMatrix [1 0 0 1 0 0] >>",
         R"({"name":"","type":"Type3","embedded":false,"subset":false})"},
        // /BaseFont not a name.
        {"<< /Type /Font /Subtype /Type1 /BaseFont 9 0 R >>",
         R"({"name":"","type":"Type1","embedded":false,"subset":false})"},
        {"<< /Type /Font /Subtype /Type1 /BaseFont (Helvetica) >>",
         R"({"name":"","type":"Type1","embedded":false,"subset":false})"},
        {"<< /Type /Font /BaseFont /Courier >>",
         R"({"name":"Courier","type":"unknown","embedded":false,"subset":false})"},
        // Embedding is seen only in the font's own span: inline descriptor yes, reference no.
        {"<< /Type /Font /Subtype /TrueType /BaseFont /F /FontDescriptor << /FontFile2 8 0 R >> >>",
         R"({"name":"F","type":"TrueType","embedded":true,"subset":false})"},
        {"<< /Type /Font /Subtype /Type1 /BaseFont /F /FontDescriptor << /FontFile 8 0 R >> >>",
         R"({"name":"F","type":"Type1","embedded":true,"subset":false})"},
        {"<< /Type /Font /Subtype /Type1C /BaseFont /F /FontDescriptor<</FontFile3 8 0 R>> >>",
         R"({"name":"F","type":"Type1C","embedded":true,"subset":false})"},
        {"<< /Type /Font /Subtype /Type1 /BaseFont /F /FontFile22 8 0 R /FontFileX 1 >>",
         R"({"name":"F","type":"Type1","embedded":false,"subset":false})"},
        // Subset tag: six characters of any kind, then "+".
        {"<< /Type /Font /Subtype /Type1 /BaseFont /ab12cd+Font >>",
         R"({"name":"ab12cd+Font","type":"Type1","embedded":false,"subset":true})"},
        {"<< /Type /Font /Subtype /Type1 /BaseFont /AB+Arial >>",
         R"({"name":"AB+Arial","type":"Type1","embedded":false,"subset":false})"},
        {"<< /Type /Font /Subtype /Type1 /BaseFont /ABCDEF >>",
         R"({"name":"ABCDEF","type":"Type1","embedded":false,"subset":false})"},
        {"<< /Type /Font /Subtype /Type1 /BaseFont /ABCDEFG+X >>",
         R"({"name":"ABCDEFG+X","type":"Type1","embedded":false,"subset":false})"},
        {"<< /Type /Font /Subtype /Type1 /BaseFont /ABCDEF+ >>",
         R"({"name":"ABCDEF+","type":"Type1","embedded":false,"subset":true})"},
        // Name decoding: escapes decoded, a comma ends the name.
        {"<< /Type /Font /Subtype /TrueType /BaseFont /MS#20Gothic >>",
         R"({"name":"MS Gothic","type":"TrueType","embedded":false,"subset":false})"},
        {"<< /Type /Font /Subtype /TrueType /BaseFont /Arial,Bold >>",
         R"({"name":"Arial","type":"TrueType","embedded":false,"subset":false})"},
        {"<< /Type/Font/Subtype/Type1/BaseFont\r\n\t/Symbol>>",
         R"({"name":"Symbol","type":"Type1","embedded":false,"subset":false})"},
        {"<< /Type /Font /Subtype /Type1 /BaseFont /Quote#22Back#5cslash >>",
         R"({"name":"Quote\"Back\\slash","type":"Type1","embedded":false,"subset":false})"},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.dict);
        EXPECT_EQ(fonts_of(doc_with({{4, c.dict}})), std::string("[") + c.json + "]");
    }
}

TEST(Fonts, FirstTypeKeyOfTheSpanDecides) {
    // A nested dictionary's /Type placed first hides the font; a non-font
    // dictionary whose first /Type is a nested /Font is listed.
    std::string pdf = doc_with({
        {4, "<< /Encoding << /Type /Encoding /Differences [1 /a] >> /Type /Font /Subtype /Type1 /BaseFont /Hidden >>"},
        {5, "<< /Resources << /Type /Font >> /Type /XObject /Subtype /Form /BaseFont /Odd >>"},
        {6, "<< /Type /FontDescriptor /FontName /NotAFont >>"},
    });
    EXPECT_EQ(fonts_of(pdf), R"([{"name":"Odd","type":"Form","embedded":false,"subset":false}])");
}

TEST(Fonts, CompositeFontsAndDuplicatesAreEachListed) {
    std::string pdf = doc_with({
        {4, "<< /Type /Font /Subtype /Type0 /BaseFont /KozMin /Encoding /Identity-H /DescendantFonts [5 0 R] >>"},
        {5, "<< /Type /Font /Subtype /CIDFontType0 /BaseFont /KozMin-Regular >>"},
        {6, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"},
        {7, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"},
    });
    EXPECT_EQ(fonts_of(pdf),
              "[{\"name\":\"KozMin\",\"type\":\"Type0\",\"embedded\":false,\"subset\":false},"
              "{\"name\":\"KozMin-Regular\",\"type\":\"CIDFontType0\",\"embedded\":false,\"subset\":false},"
              "{\"name\":\"Helvetica\",\"type\":\"Type1\",\"embedded\":false,\"subset\":false},"
              "{\"name\":\"Helvetica\",\"type\":\"Type1\",\"embedded\":false,\"subset\":false}]");
}

TEST(Fonts, FontInsideAnObjectStreamIsListed) {
    PdfBuilder b("1.5");
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    b.object_stream(10, {{4, "<< /Type /Font /Subtype /Type1 /BaseFont /InStream >>"},
                         {5, "<< /Type /Font /Subtype /TrueType /BaseFont /XYZABC+Other /FontDescriptor << /FontFile2 9 0 R >> >>"}});
    b.obj(6, "<< /Type /Font /Subtype /Type1 /BaseFont /Direct >>");
    b.xref_trailer("/Size 11 /Root 1 0 R");
    // Table order: direct rows in file order, then the rows of object streams.
    EXPECT_EQ(fonts_of(b.bytes()),
              "[{\"name\":\"Direct\",\"type\":\"Type1\",\"embedded\":false,\"subset\":false},"
              "{\"name\":\"InStream\",\"type\":\"Type1\",\"embedded\":false,\"subset\":false},"
              "{\"name\":\"XYZABC+Other\",\"type\":\"TrueType\",\"embedded\":true,\"subset\":true}]");
}

TEST(Fonts, DocumentWithoutFontsGivesEmptyArray) { EXPECT_EQ(fonts_of(minimal_pdf(2)), "[]"); }

TEST(Fonts, FailuresReturnNullWithMessage) {
    EXPECT_EQ(vellix_fonts(nullptr), nullptr);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");

    TempDir dir;
    std::string missing = dir.file("missing.pdf");
    EXPECT_EQ(vellix_fonts(missing.c_str()), nullptr);
    EXPECT_EQ(std::string(vellix_last_error()), "cannot open " + missing);

    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    b.obj(4, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    b.obj(5, "<< /Filter /Standard /V 1 /R 2 /Length 40 /P -4 >>");
    b.xref_trailer("/Size 6 /Root 1 0 R /Encrypt 5 0 R");
    std::string enc = b.write(dir.file("enc.pdf"));
    EXPECT_EQ(vellix_fonts(enc.c_str()), nullptr);
    EXPECT_EQ(std::string(vellix_last_error()), "encrypted PDFs are not supported: " + enc);
}

TEST(Fonts, ResultStaysUntilTheNextCall) {
    TempDir dir;
    std::string a = dir.file("a.pdf");
    write_file(a, doc_with({{4, "<< /Type /Font /Subtype /Type1 /BaseFont /Keep >>"}}));
    const char* first = vellix_fonts(a.c_str());
    ASSERT_NE(first, nullptr);
    std::string copy = first;
    // Another report in between does not touch this text.
    ASSERT_NE(vellix_images(a.c_str()), nullptr);
    EXPECT_EQ(std::string(first), copy);
    EXPECT_EQ(vellix_fonts(nullptr), nullptr);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");
    // A success afterwards empties the message.
    ASSERT_NE(vellix_fonts(a.c_str()), nullptr);
    EXPECT_STREQ(vellix_last_error(), "");
}

// Options set for one scope, back to 0 after it.
struct with_options {
    explicit with_options(unsigned o) { vellix_set_options(o); }
    ~with_options() { vellix_set_options(0); }
};

std::string font_json(const std::string& name, const std::string& type, bool embedded, bool subset) {
    return "{\"name\":\"" + name + "\",\"type\":\"" + type + "\",\"embedded\":" + (embedded ? "true" : "false") +
           ",\"subset\":" + (subset ? "true" : "false") + "}";
}

TEST(FontsResolved, EmbeddedFollowsDescriptorsAndDescendants) {
    struct row {
        const char* what;
        objects objs;
        std::string json;  // entries for the fonts in table order
    };
    const std::string p2 = "<< /Length 0 >>";
    const row cases[] = {
        {"descriptor by reference with FontFile2",
         {{4, "<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+Arial /FontDescriptor 5 0 R >>"},
          {5, "<< /Type /FontDescriptor /FontName /ABCDEF+Arial /FontFile2 6 0 R >>"}},
         font_json("ABCDEF+Arial", "TrueType", true, true)},
        {"descriptor by reference without a program",
         {{4, "<< /Type /Font /Subtype /TrueType /BaseFont /Arial /FontDescriptor 5 0 R >>"},
          {5, "<< /Type /FontDescriptor /FontName /Arial /Flags 32 >>"}},
         font_json("Arial", "TrueType", false, false)},
        {"direct descriptor with FontFile3",
         {{4, "<< /Type /Font /Subtype /Type1 /BaseFont /F /FontDescriptor << /FontFile3 6 0 R >> >>"}},
         font_json("F", "Type1", true, false)},
        {"program key only in a nested dictionary of the descriptor",
         {{4, "<< /Type /Font /Subtype /Type1 /BaseFont /F /FontDescriptor 5 0 R >>"},
          {5, "<< /Type /FontDescriptor /Style << /FontFile 6 0 R >> >>"}},
         font_json("F", "Type1", false, false)},
        {"FontFile not a reference",
         {{4, "<< /Type /Font /Subtype /Type1 /BaseFont /F /FontDescriptor << /FontFile null /FontFile2 (x) >> >>"}},
         font_json("F", "Type1", false, false)},
        {"descriptor reference to a missing object",
         {{4, "<< /Type /Font /Subtype /Type1 /BaseFont /F /FontDescriptor 99 0 R >>"}},
         font_json("F", "Type1", false, false)},
        {"Type0: array by reference, descendant by reference, descriptor by reference",
         {{4, "<< /Type /Font /Subtype /Type0 /BaseFont /ABCDEF+Kozuka /DescendantFonts 5 0 R >>"},
          {5, "[6 0 R]"},
          {6, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /ABCDEF+Kozuka /FontDescriptor 7 0 R >>"},
          {7, "<< /Type /FontDescriptor /FontFile2 8 0 R >>"}},
         font_json("ABCDEF+Kozuka", "Type0", true, true) + "," +
             font_json("ABCDEF+Kozuka", "CIDFontType2", true, true)},
        {"Type0 whose descendant has no program",
         {{4, "<< /Type /Font /Subtype /Type0 /BaseFont /K /DescendantFonts [<< /Type /Font /Subtype "
              "/CIDFontType0 /FontDescriptor << /Flags 4 >> >>] >>"}},
         font_json("K", "Type0", false, false)},
        {"Type3 is embedded",
         {{4, "<< /Type /Font /Subtype /Type3 /FontMatrix [1 0 0 1 0 0] /CharProcs << >> >>"}},
         font_json("", "Type3", true, false)},
        {"top-level /Subtype and /BaseFont, not a nested one",
         {{4, "<< /Type /Font /Encoding << /Subtype /X /BaseFont /Inner >> /Subtype /Type1 /BaseFont /Outer >>"}},
         font_json("Outer", "Type1", false, false)},
        {"/BaseFont by reference",
         {{4, "<< /Type /Font /Subtype /Type1 /BaseFont 5 0 R >>"}, {5, "/Helvetica"}},
         font_json("Helvetica", "Type1", false, false)},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.what);
        {
            with_options on(VELLIX_RESOLVE | VELLIX_UNICODE);
            EXPECT_EQ(fonts_of(doc_with(c.objs)), "[" + c.json + "]");
        }
    }
    // Options 0 keeps the byte rule: a descriptor by reference is not looked at.
    EXPECT_EQ(fonts_of(doc_with(cases[0].objs)), "[" + font_json("ABCDEF+Arial", "TrueType", false, true) + "]");
}

TEST(FontsResolved, UnicodeNamesAreWholeAndValidUtf8) {
    std::string pdf = doc_with({
        {4, "<< /Type /Font /Subtype /TrueType /BaseFont /Arial,Bold >>"},
        {5, "<< /Type /Font /Subtype /TrueType /BaseFont /#e6#97#a5#e6#9c#ac-Gothic >>"},
        {6, "<< /Type /Font /Subtype /Type#ff1 /BaseFont /Bad#ffByte#00Z >>"},
    });
    const std::string fffd = "\xEF\xBF\xBD";
    std::string want = "[" + font_json("Arial,Bold", "TrueType", false, false) + "," +
                       font_json("\xE6\x97\xA5\xE6\x9C\xAC-Gothic", "TrueType", false, false) + "," +
                       font_json("Bad" + fffd + "Byte\\u0000Z", "Type" + fffd + "1", false, false) + "]";
    {
        with_options on(VELLIX_UNICODE);
        EXPECT_EQ(fonts_of(pdf), want);
    }
    {
        with_options on(VELLIX_UNICODE | VELLIX_RESOLVE);
        EXPECT_EQ(fonts_of(pdf), want);
    }
    // Without UNICODE the name ends at the comma, and raw bytes pass as they are.
    with_options on(VELLIX_RESOLVE);
    std::string r = fonts_of(pdf);
    EXPECT_EQ(r.substr(0, r.find("},") + 1), font_json("Arial", "TrueType", false, false).insert(0, "["));
}

}  // namespace
