// Info values under the options: text strings decoded to UTF-8
// (VELLIX_UNICODE) and values given as references read from their objects
// (VELLIX_RESOLVE), through vellix_read, vellix_compare and vellix_batch_read.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/json_check.h"
#include "support/pdf_builder.h"
#include "syntax/text_string.h"
#include "vellix.h"

namespace {

const std::string REPL = "\xEF\xBF\xBD";  // U+FFFD

class InfoOptions : public ::testing::Test {
protected:
    TempDir tmp;
    int n = 0;

    void TearDown() override { vellix_set_options(0); }

    std::string put(const std::string& bytes) {
        std::string path = tmp.file("f" + std::to_string(n++) + ".pdf");
        write_file(path, bytes);
        return path;
    }
    // A one-page file whose Info dictionary is `info`, with more objects
    // (number, text) after it.
    std::string file_with(const std::string& info, const std::vector<std::pair<int, std::string>>& more = {}) {
        PdfBuilder b;
        b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
        b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
        b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
        b.obj(4, info);
        for (const auto& [num, text] : more) b.obj(num, text);
        b.xref_trailer("/Size 20 /Root 1 0 R /Info 4 0 R");
        return put(b.bytes());
    }
    // vellix_read under `options`, checked to be valid JSON (and valid UTF-8
    // under VELLIX_UNICODE).
    std::string read(const std::string& path, unsigned options) {
        vellix_set_options(options);
        const char* r = vellix_read(path.c_str());
        vellix_set_options(0);
        if (!r) {
            ADD_FAILURE() << "vellix_read: " << vellix_last_error();
            return "";
        }
        EXPECT_EQ(json_fault(r), "") << r;
        if (options & VELLIX_UNICODE) {
            EXPECT_TRUE(utf8_valid(r)) << r;
        }
        return r;
    }
    std::string field(const std::string& path, unsigned options, const char* key = "title") {
        return json_string_member(read(path, options), key);
    }
};

}  // namespace

// Each encoding a text string may use, as a literal and as a hexadecimal
// string: what VELLIX_UNICODE reads, and what the byte rules read.
TEST_F(InfoOptions, TitleDecodingTable) {
    struct Case {
        const char* what;
        std::string value;    // the /Title value as written in the file
        std::string unicode;  // decoded text under VELLIX_UNICODE
        std::string bytes;    // the byte rules' text (up to a zero byte)
    } cases[] = {
        {"ASCII", "(Plain title)", "Plain title", "Plain title"},
        {"UTF-16BE hex", "<FEFF00DC0062006500720020 65E5>", "\xC3\x9C" "ber \xE6\x97\xA5", "\xFE\xFF"},
        {"UTF-16BE literal with octal escapes", "(\\376\\377\\000J\\000\\351)", "J\xC3\xA9", "\xFE\xFF"},
        {"UTF-16BE surrogate pair", "<FEFFD83DDE000021>", "\xF0\x9F\x98\x80!", "\xFE\xFF\xD8\x3D\xDE"},
        {"UTF-16BE language escape removed", "<FEFF001B00640065001B00480069>", "Hi", "\xFE\xFF"},
        {"UTF-16BE zero bytes kept", "<FEFF006100000062>", std::string("a\0b", 3), "\xFE\xFF"},
        {"UTF-16BE lone high surrogate", "<FEFFD83D0078>", REPL + "x", "\xFE\xFF\xD8\x3D"},
        {"UTF-16BE lone low surrogate", "<FEFFDE00>", REPL, "\xFE\xFF\xDE"},
        {"UTF-16BE odd last byte", "<FEFF006100>", "a" + REPL, "\xFE\xFF"},
        {"UTF-16LE", "<FFFE4A00E900>", "J\xC3\xA9", "\xFF\xFEJ"},
        {"UTF-8 with mark", "<EFBBBF4AC3A9>", "J\xC3\xA9", "\xEF\xBB\xBFJ\xC3\xA9"},
        {"UTF-8 without mark", "(Jos\\303\\251)", "Jos\xC3\xA9", "Jos\xC3\xA9"},
        {"PDFDocEncoding Latin-1 range", "(Jos\\351)", "Jos\xC3\xA9", "Jos\xE9"},
        {"PDFDocEncoding 0x80 0x84 0x92 0x9E 0xA0", "<80849 29EA0>",
         "\xE2\x80\xA2\xE2\x80\x94\xE2\x84\xA2\xC5\xBE\xE2\x82\xAC", "\x80\x84\x92\x9E\xA0"},
        {"PDFDocEncoding 0x18-0x1F accents", "(\\030\\037)", "\xCB\x98\xCB\x9C", "\x18\x1F"},
        {"PDFDocEncoding zero byte kept", "(a\\000b)", std::string("a\0b", 3), "a"},
        {"PDFDocEncoding undefined code", "(\\237x)", REPL + "x", "\x9Fx"},
        {"control characters", "(tab\\tnl\\nbell\\007)", "tab\tnl\nbell\x07", "tab\tnl\nbell\x07"},
    };
    for (const Case& c : cases) {
        std::string path = file_with("<< /Title " + c.value + " /Producer (P) >>");
        EXPECT_EQ(field(path, VELLIX_UNICODE), c.unicode) << c.what;
        EXPECT_EQ(field(path, VELLIX_UNICODE | VELLIX_RESOLVE), c.unicode) << c.what;
        EXPECT_EQ(field(path, 0), c.bytes) << c.what;
    }
}

// Controls and zero bytes are written as escapes, never as raw bytes.
TEST_F(InfoOptions, ControlCharactersAreEscapedInTheJson) {
    std::string path = file_with("<< /Title <FEFF0061000000010062> >>");
    std::string json = read(path, VELLIX_UNICODE);
    EXPECT_NE(json.find("\"title\":\"a\\u0000\\u0001b\""), std::string::npos) << json;
}

TEST_F(InfoOptions, AllEightFieldsAndNamesAreDecoded) {
    // "D:20240102" and "D:20230405" as UTF-16BE; Keywords an array of text strings.
    std::string path = file_with(
        "<< /Title <FEFF00DC> /Author (\\351) /Subject <EFBBBFC3A9> /Keywords [<FEFF00E9> (\\351) (x)]"
        " /Creator /Cr#C3#A9ator /Producer <FEFF0050>"
        " /CreationDate <FEFF0044003A00320030003200340030003100300032>"
        " /ModDate (\\376\\377\\000D\\000:\\0002\\0000\\0002\\0003\\0000\\0004\\0000\\0005) >>");
    std::string json = read(path, VELLIX_UNICODE);
    EXPECT_EQ(json_string_member(json, "title"), "\xC3\x9C");
    EXPECT_EQ(json_string_member(json, "author"), "\xC3\xA9");
    EXPECT_EQ(json_string_member(json, "subject"), "\xC3\xA9");
    EXPECT_EQ(json_string_member(json, "keywords"), "\xC3\xA9,\xC3\xA9,x");
    EXPECT_EQ(json_string_member(json, "creator"), "Cr#C3#A9ator");  // a name: its characters as written
    EXPECT_EQ(json_string_member(json, "producer"), "P");
    EXPECT_EQ(json_string_member(json, "creation_date"), "2024-01-02");
    EXPECT_EQ(json_string_member(json, "mod_date"), "2023-04-05");

    // The byte rules: raw bytes, the dates unreadable.
    std::string raw = read(path, 0);
    EXPECT_EQ(json_string_member(raw, "author"), "\xE9");
    EXPECT_EQ(json_string_member(raw, "creation_date"), "");
}

// Values given as references "N G R": read from the object under
// VELLIX_RESOLVE, "" with the byte rules; whatever the reference names, the
// read ends.
TEST_F(InfoOptions, ValuesByReference) {
    struct Case {
        const char* what;
        std::string title;                                  // the /Title value
        std::vector<std::pair<int, std::string>> objects;   // more objects
        std::string resolved;                               // VELLIX_RESOLVE
        std::string resolved_unicode;                       // VELLIX_RESOLVE | VELLIX_UNICODE
    } cases[] = {
        {"a literal string", "7 0 R", {{7, "(Referenced)"}}, "Referenced", "Referenced"},
        {"a UTF-16 hex string", "7 0 R", {{7, "<FEFF00DC>"}}, "\xFE\xFF", "\xC3\x9C"},
        {"a chain of references", "7 0 R", {{7, "8 0 R"}, {8, "(end of chain)"}}, "end of chain", "end of chain"},
        {"a missing object", "9 0 R", {}, "", ""},
        {"a loop", "7 0 R", {{7, "8 0 R"}, {8, "7 0 R"}}, "", ""},
        {"itself", "4 0 R", {}, "", ""},
        {"a dictionary", "7 0 R", {{7, "<< /Title (inner) >>"}}, "", ""},
        {"a name", "7 0 R", {{7, "/Named"}}, "Named", "Named"},
        {"a number", "7 0 R", {{7, "42"}}, "", ""},
    };
    for (const Case& c : cases) {
        std::string path = file_with("<< /Title " + c.title + " /Producer (P) >>", c.objects);
        EXPECT_EQ(field(path, VELLIX_RESOLVE), c.resolved) << c.what;
        EXPECT_EQ(field(path, VELLIX_RESOLVE | VELLIX_UNICODE), c.resolved_unicode) << c.what;
        EXPECT_EQ(field(path, 0), "") << c.what;
        EXPECT_EQ(field(path, VELLIX_UNICODE), "") << c.what;
    }
}

TEST_F(InfoOptions, KeywordsAndDatesByReference) {
    std::string path = file_with("<< /Keywords 7 0 R /Subject [(not) (joined)] /CreationDate 9 0 R /ModDate (D:20200101) >>",
                                 {{7, "[(a) 8 0 R <FEFF00E9> 10 0 R]"}, {8, "(b)"}, {9, "(D:20210304)"}, {10, "<< >>"}});
    std::string json = read(path, VELLIX_RESOLVE | VELLIX_UNICODE);
    EXPECT_EQ(json_string_member(json, "keywords"), "a,b,\xC3\xA9");
    EXPECT_EQ(json_string_member(json, "creation_date"), "2021-03-04");
    EXPECT_EQ(json_string_member(json, "mod_date"), "2020-01-01");
    EXPECT_EQ(json_string_member(json, "subject"), "");  // only Keywords joins an array
    EXPECT_EQ(json_string_member(read(path, 0), "keywords"), "");

    // A direct Keywords array with references among its elements.
    std::string direct = file_with("<< /Keywords [(a) 7 0 R (c)] >>", {{7, "(b)"}});
    EXPECT_EQ(field(direct, VELLIX_RESOLVE, "keywords"), "a,b,c");
    EXPECT_EQ(field(direct, 0, "keywords"), "a,c");
}

TEST_F(InfoOptions, ReferenceToAnObjectStreamMember) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    b.obj(4, "<< /Title 8 0 R /Author 9 0 R >>");
    b.object_stream(7, {{8, "<FEFF004F0053>"}, {9, "(plain)"}});
    b.xref_trailer("/Size 10 /Root 1 0 R /Info 4 0 R");
    std::string path = put(b.bytes());
    std::string json = read(path, VELLIX_RESOLVE | VELLIX_UNICODE);
    EXPECT_EQ(json_string_member(json, "title"), "OS");
    EXPECT_EQ(json_string_member(json, "author"), "plain");
}

// A long chain of references ends at the chain limit, and an array of many
// references is read in one pass.
TEST_F(InfoOptions, HostileReferencesEnd) {
    std::vector<std::pair<int, std::string>> chain;
    for (int i = 0; i < 2000; ++i) chain.push_back({100 + i, std::to_string(101 + i) + " 0 R"});
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    std::string many = "[";
    for (int i = 0; i < 100000; ++i) many += "5 0 R ";
    b.obj(4, "<< /Title 100 0 R /Keywords " + many + "] >>");
    b.obj(5, "(k)");
    for (const auto& [num, text] : chain) b.obj(num, text);
    b.xref_trailer("/Size 3000 /Root 1 0 R /Info 4 0 R");
    std::string path = put(b.bytes());
    std::string json = read(path, VELLIX_RESOLVE | VELLIX_UNICODE);
    EXPECT_EQ(json_string_member(json, "title"), "");
    std::string kw = json_string_member(json, "keywords");
    EXPECT_EQ(kw.size(), 100000u * 2 - 1);
    EXPECT_EQ(kw.substr(0, 4), "k,k,");
}

TEST_F(InfoOptions, CompareComparesDecodedTexts) {
    std::string a = file_with("<< /Title <FEFF00DC> /Author (same) /Subject 7 0 R >>", {{7, "(S)"}});
    std::string b = file_with("<< /Title (\\334) /Author (same) /Subject (S) >>");  // U+00DC in PDFDocEncoding
    auto compare = [&](unsigned options) {
        vellix_set_options(options);
        const char* r = vellix_compare(a.c_str(), b.c_str());
        vellix_set_options(0);
        EXPECT_NE(r, nullptr) << vellix_last_error();
        std::string s = r ? r : "";
        EXPECT_EQ(json_fault(s), "") << s;
        if (options & VELLIX_UNICODE) {
            EXPECT_TRUE(utf8_valid(s)) << s;
        }
        return s;
    };
    std::string both = compare(VELLIX_UNICODE | VELLIX_RESOLVE);
    EXPECT_EQ(both, "{\"added\":{},\"removed\":{},\"changed\":{},"
                    "\"same\":[\"title\",\"author\",\"subject\",\"keywords\",\"creator\",\"producer\","
                    "\"creation_date\",\"mod_date\"]}");
    std::string unicode = compare(VELLIX_UNICODE);  // the subject by reference is not read
    EXPECT_NE(unicode.find("\"added\":{\"subject\":\"S\"}"), std::string::npos) << unicode;
    EXPECT_NE(unicode.find("\"same\":[\"title\""), std::string::npos) << unicode;
    std::string bytes = compare(0);
    EXPECT_NE(bytes.find("\"changed\":{\"title\":{\"from\":\"\xFE\xFF\",\"to\":\"\xDC\"}}"), std::string::npos);

    // Texts that differ only after a zero byte differ.
    std::string z1 = file_with("<< /Title <FEFF006100000062> >>");
    std::string z2 = file_with("<< /Title <FEFF006100000063> >>");
    vellix_set_options(VELLIX_UNICODE);
    const char* r = vellix_compare(z1.c_str(), z2.c_str());
    vellix_set_options(0);
    ASSERT_NE(r, nullptr);
    EXPECT_NE(std::string(r).find("\"changed\":{\"title\":{\"from\":\"a\\u0000b\",\"to\":\"a\\u0000c\"}}"),
              std::string::npos)
        << r;
}

TEST_F(InfoOptions, BatchReadDecodesValuesAndFileNames) {
    std::filesystem::path dir = tmp.path() / "batch";
    std::filesystem::create_directory(dir);
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    b.obj(4, "<< /Title <FEFF00DC> /Author 5 0 R >>");
    b.obj(5, "(\\351)");
    b.xref_trailer("/Size 6 /Root 1 0 R /Info 4 0 R");
    write_file(dir / "n\xFF.pdf", b.bytes());  // a file name that is not UTF-8

    const char* out = nullptr;
    vellix_set_options(VELLIX_UNICODE | VELLIX_RESOLVE);
    ASSERT_EQ(vellix_batch_read(dir.c_str(), &out), 1) << vellix_last_error();
    vellix_set_options(0);
    std::string json = out;
    EXPECT_EQ(json_fault(json), "");
    EXPECT_TRUE(utf8_valid(json)) << json;
    EXPECT_EQ(json_string_member(json, "file"), "n" + REPL + ".pdf");
    EXPECT_EQ(json_string_member(json, "title"), "\xC3\x9C");
    EXPECT_EQ(json_string_member(json, "author"), "\xC3\xA9");

    ASSERT_EQ(vellix_batch_read(dir.c_str(), &out), 1);
    json = out;
    EXPECT_EQ(json_string_member(json, "file"), "n\xFF.pdf");
    EXPECT_EQ(json_string_member(json, "title"), "\xFE\xFF");
    EXPECT_EQ(json_string_member(json, "author"), "");
}
