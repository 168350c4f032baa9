// Writers under VELLIX_UNICODE: UTF-8 values stored as UTF-16BE text strings
// (printable ASCII as before), read back by the library and by pdfinfo;
// values that are not UTF-8 refused with nothing written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/json_check.h"
#include "support/output_check.h"
#include "support/pdf_builder.h"
#include "vellix.h"

namespace fs = std::filesystem;

namespace {

const std::string UBER = "\xC3\x9C" "ber Stra\xC3\x9F" "e \xE2\x80\x94 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // Über Straße — 日本語
const std::string SMILE = "smile \xF0\x9F\x98\x80";                                                                  // U+1F600

class WriteUnicode : public ::testing::Test {
protected:
    TempDir tmp;
    std::string in, out;

    void SetUp() override {
        in = tmp.file("in.pdf");
        out = tmp.file("out.pdf");
        write_file(in, minimal_pdf(2, "<< /Title (Old) /Producer (Maker) >>"));
        vellix_set_options(VELLIX_UNICODE);
    }
    void TearDown() override { vellix_set_options(0); }

    std::string read_back(unsigned options, const char* key) {
        unsigned before = vellix_set_options(options);
        const char* r = vellix_read(out.c_str());
        vellix_set_options(before);
        if (!r) return "!" + std::string(vellix_last_error());
        EXPECT_EQ(json_fault(r), "");
        return json_string_member(r, key);
    }
    // pdfinfo's line for `label` ("Title:"), its value only; "" when missing.
    static std::string pdfinfo_field(const std::string& path, const std::string& label) {
        std::string text;
        if (run_command("pdfinfo -enc UTF-8 '" + path + "'", &text) != 0) return "!pdfinfo failed: " + text;
        size_t p = text.find(label);
        if (p == std::string::npos) return "";
        size_t v = text.find_first_not_of(' ', p + label.size());
        return text.substr(v, text.find('\n', v) - v);
    }
};

}  // namespace

TEST_F(WriteUnicode, Utf16ValuesReadBackByTheLibraryAndPdfinfo) {
    ASSERT_EQ(vellix_write(in.c_str(), out.c_str(), UBER.c_str(), SMILE.c_str(), "Plain (ASCII)", nullptr), 1)
        << vellix_last_error();
    EXPECT_STREQ(vellix_last_error(), "");
    std::string bytes = read_file(out);
    // U+00DC and the surrogate pair of U+1F600 (D83D DE00), in hexadecimal.
    EXPECT_NE(bytes.find("/Title <FEFF00DC00620065007200200053007400720061"), std::string::npos);
    EXPECT_NE(bytes.find("D83DDE00>"), std::string::npos);
    EXPECT_NE(bytes.find("/Subject (Plain \\(ASCII\\))"), std::string::npos);  // printable ASCII as before
    EXPECT_EQ(xref_fault(bytes), "");

    EXPECT_EQ(read_back(VELLIX_UNICODE, "title"), UBER);
    EXPECT_EQ(read_back(VELLIX_UNICODE, "author"), SMILE);
    EXPECT_EQ(read_back(VELLIX_UNICODE, "subject"), "Plain (ASCII)");
    EXPECT_EQ(read_back(VELLIX_UNICODE, "producer"), "Maker");
    EXPECT_EQ(read_back(0, "title"), "\xFE\xFF");  // the byte rules see the stored bytes

    if (!have_tool("pdfinfo")) GTEST_SKIP() << "pdfinfo not installed";
    EXPECT_EQ(pdfinfo_field(out, "Title:"), UBER);
    EXPECT_EQ(pdfinfo_field(out, "Author:"), SMILE);
    EXPECT_EQ(pdfinfo_field(out, "Subject:"), "Plain (ASCII)");
}

TEST_F(WriteUnicode, WriteFullTakesUtf8ForEveryField) {
    std::string json = "{\"title\":\"" + UBER + "\",\"keywords\":\"caf\xC3\xA9, th\xC3\xA9\",\"creator\":\"" + SMILE +
                       "\",\"creation_date\":\"2024-07-01\",\"producer\":\"tab\\there\"}";
    ASSERT_EQ(vellix_write_full(in.c_str(), out.c_str(), json.c_str()), 1) << vellix_last_error();
    EXPECT_EQ(read_back(VELLIX_UNICODE, "title"), UBER);
    EXPECT_EQ(read_back(VELLIX_UNICODE, "keywords"), "caf\xC3\xA9, th\xC3\xA9");
    EXPECT_EQ(read_back(VELLIX_UNICODE, "creator"), SMILE);
    EXPECT_EQ(read_back(VELLIX_UNICODE, "producer"), "tab\there");  // a control is not printable: UTF-16
    EXPECT_EQ(read_back(VELLIX_UNICODE, "creation_date"), "2024-07-01");
    std::string bytes = read_file(out);
    EXPECT_NE(bytes.find("/CreationDate (D:20240701"), std::string::npos);
    EXPECT_NE(bytes.find("/Producer <FEFF0074006100620009"), std::string::npos);

    if (!have_tool("pdfinfo")) GTEST_SKIP() << "pdfinfo not installed";
    EXPECT_EQ(pdfinfo_field(out, "Title:"), UBER);
    EXPECT_EQ(pdfinfo_field(out, "Keywords:"), "caf\xC3\xA9, th\xC3\xA9");
    EXPECT_EQ(pdfinfo_field(out, "Creator:"), SMILE);
}

// JSON from an encoder that escapes non-ASCII text ("\u00dc", surrogate
// pairs) gives the same document as the same text written raw.
TEST_F(WriteUnicode, EscapedJsonIsDecodedLikeRawUtf8) {
    const std::string escaped =
        R"({"title":"\u00dcber Stra\u00dfe \ud83d\ude00","author":"tab\there \"q\" \/"})";
    ASSERT_EQ(vellix_write_full(in.c_str(), out.c_str(), escaped.c_str()), 1) << vellix_last_error();
    EXPECT_EQ(read_back(VELLIX_UNICODE, "title"), "\xC3\x9C" "ber Stra\xC3\x9F" "e \xF0\x9F\x98\x80");
    EXPECT_EQ(read_back(VELLIX_UNICODE, "author"), "tab\there \"q\" /");

    ASSERT_EQ(vellix_write_xmp(in.c_str(), out.c_str(), R"({"dc:title":"Jos\u00e9"})"), 1) << vellix_last_error();
    const char* x = vellix_read_xmp(out.c_str());
    ASSERT_NE(x, nullptr) << vellix_last_error();
    EXPECT_EQ(json_string_member(x, "dc:title"), "Jos\xC3\xA9");

    // A lone surrogate is no text: refused like invalid UTF-8, nothing written.
    write_file(out, "previous");
    EXPECT_EQ(vellix_write_full(in.c_str(), out.c_str(), R"({"title":"\ud83d"})"), 0);
    EXPECT_STREQ(vellix_last_error(), "invalid JSON object for vellix_write_full");
    EXPECT_EQ(vellix_write_xmp(in.c_str(), out.c_str(), R"({"dc:title":"\ude00"})"), 0);
    EXPECT_STREQ(vellix_last_error(), "invalid XMP JSON (flat object of strings required)");
    EXPECT_EQ(read_file(out), "previous");
}

// A value that is not UTF-8: the message names the field, the result is 0,
// and no file is written (an existing output stays as it was).
TEST_F(WriteUnicode, InvalidUtf8IsRefusedAndNothingIsWritten) {
    struct Case {
        const char* what;
        int (*write)(const char* in, const char* out);
        const char* message;
    } cases[] = {
        {"vellix_write title", [](const char* i, const char* o) { return vellix_write(i, o, "bad \xFF", nullptr, nullptr, nullptr); },
         "title is not valid UTF-8"},
        {"vellix_write keywords cut short",
         [](const char* i, const char* o) { return vellix_write(i, o, "fine", nullptr, nullptr, "k \xC3"); },
         "keywords is not valid UTF-8"},
        {"vellix_write_full author (a surrogate)",
         [](const char* i, const char* o) { return vellix_write_full(i, o, "{\"title\":\"ok\",\"author\":\"\xED\xA0\x80\"}"); },
         "author is not valid UTF-8"},
        {"vellix_write_full mod_date",
         [](const char* i, const char* o) { return vellix_write_full(i, o, "{\"mod_date\":\"2024\xFF\"}"); },
         "mod_date is not valid UTF-8"},
        {"vellix_write_xmp",
         [](const char* i, const char* o) { return vellix_write_xmp(i, o, "{\"dc:title\":\"ok\",\"dc:creator\":\"\xC0\xAF\"}"); },
         "dc:creator is not valid UTF-8"},
    };
    for (const Case& c : cases) {
        fs::remove(out);
        EXPECT_EQ(c.write(in.c_str(), out.c_str()), 0) << c.what;
        EXPECT_STREQ(vellix_last_error(), c.message) << c.what;
        EXPECT_FALSE(fs::exists(out)) << c.what;

        write_file(out, "previous");
        EXPECT_EQ(c.write(in.c_str(), out.c_str()), 0) << c.what;
        EXPECT_EQ(read_file(out), "previous") << c.what;
        size_t files = 0;
        for (const auto& e : fs::directory_iterator(tmp.path())) files += e.is_regular_file();
        EXPECT_EQ(files, 2u) << c.what << ": a temporary file was left";
    }
    // The byte rules take any bytes.
    vellix_set_options(0);
    EXPECT_EQ(vellix_write(in.c_str(), out.c_str(), "bad \xFF", nullptr, nullptr, nullptr), 1);
    EXPECT_NE(read_file(out).find("/Title (bad \xFF)"), std::string::npos);
}

TEST_F(WriteUnicode, XmpPacketHoldsUtf8Text) {
    std::string json = "{\"dc:title\":\"" + UBER + " <&>\",\"pdf:Producer\":\"" + SMILE + "\"}";
    ASSERT_EQ(vellix_write_xmp(in.c_str(), out.c_str(), json.c_str()), 1) << vellix_last_error();
    std::string bytes = read_file(out);
    EXPECT_NE(bytes.find("<dc:title>" + UBER + " &lt;&amp;&gt;</dc:title>"), std::string::npos);
    EXPECT_NE(bytes.find("<pdf:Producer>" + SMILE + "</pdf:Producer>"), std::string::npos);
    const char* x = vellix_read_xmp(out.c_str());
    ASSERT_NE(x, nullptr) << vellix_last_error();
    EXPECT_EQ(json_string_member(x, "dc:title"), UBER + " <&>");
    EXPECT_EQ(json_string_member(x, "pdf:Producer"), SMILE);
    EXPECT_EQ(read_back(VELLIX_UNICODE, "title"), "Old");  // the Info values are carried
}
