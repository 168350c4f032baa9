// Reading the Info dictionary: key search, values, Keywords, the eight-field
// reader, the choice of the Info object, and the JSON of vellix_read.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/frame.h"
#include "load/doc.h"
#include "info/info.h"
#include "support/doc_bytes.h"
#include "support/pdf_builder.h"
#include "vellix.h"

extern thread_local result_slot g_read_json;  // defined beside vellix_read

namespace {

// The bytes of s in a heap block of exactly their size, so a read past the
// end of a region shows up under AddressSanitizer.
struct exact_bytes {
    std::unique_ptr<uint8_t[]> p;
    explicit exact_bytes(const std::string& s) : p(new uint8_t[s.size() ? s.size() : 1]) {
        std::memcpy(p.get(), s.data(), s.size());
    }
};

// Exactly sized copies that live until the end of the test.
const uint8_t* u8(const std::string& s) {
    static std::vector<exact_bytes> kept;
    kept.emplace_back(s);
    return kept.back().p.get();
}
int32_t n32(const std::string& s) { return static_cast<int32_t>(s.size()); }

std::vector<std::string> fields_of(const std::string& dict) {
    info_fields f = info_read_region(dict_view{u8(dict), 0, n32(dict)});
    return std::vector<std::string>(f.begin(), f.end());
}

// --- key search -----------------------------------------------------------

TEST(InfoFindKey, OnlyTopLevelWholeNamesMatch) {
    struct find_case {
        std::string text;
        int32_t want;
    };
    const find_case cases[] = {
        {"<</Title(x)>>", 2},
        {"<</Author(a)/Title(x)>>", 12},
        {"<</Foo <</Title (x)>> /Title (y)>>", 22},
        {"<</Foo <</Title (x)>> >>", -1},
        {"<</K [/Title (x)] >>", -1},
        {"<</K [<</Title (x)>>] /Title(y)>>", 22},
        {"<</Titles (x)>>", -1},
        {"<</Title+ (x)>>", -1},
        {"<</Title_x (x)>>", -1},
        {"<</Title#20 (x)>>", 2},  // '#' ends the name for the key test
        {"<</title (x)>>", -1},
        {"<</Subject (/Title) /Title (t)>>", 20},
        {"<</Subject (a\\) /Title) /Title (t)>>", 24},
        {"<</Subject (a(b)c /Title) /Title (t)>>", 26},
        {"<</Subject <2F5469746C65> /Title (t)>>", 26},
        {"<</A (unclosed /Title (t)>>", -1},
        {"<</Title", 2},            // name runs to the end of the region
        {"<</Tit", -1},             // shorter than the key
        {"/Title(x)", -1},          // depth -1 before any <<
        {"<</A<</B 1>>>>/Title(x)", -1},
        {"<</A 1>><</Title(x)>>", 10},  // a second dictionary in the span counts
    };
    for (const auto& c : cases) {
        EXPECT_EQ(name_find_depth0(u8(c.text), 0, n32(c.text), "Title"), c.want) << c.text;
    }
}

TEST(InfoFindKey, RespectsTheRegionBounds) {
    std::string t = "xx<</Title(x)>>yy";
    EXPECT_EQ(name_find_depth0(u8(t), 2, n32(t), "Title"), 4);
    // The end cuts the key: "/Tit" is all that lies in the region.
    EXPECT_EQ(name_find_depth0(u8(t), 2, 8, "Title"), -1);
    // A key that ends exactly at the end of the region matches.
    EXPECT_EQ(name_find_depth0(u8(t), 2, 10, "Title"), 4);
    // Tiny regions.
    EXPECT_EQ(name_find_depth0(u8(t), 2, 3, "Title"), -1);
    EXPECT_EQ(name_find_depth0(u8(t), 2, 2, "Title"), -1);
}

// --- single values ----------------------------------------------------------

TEST(InfoReadRegion, EdgeCasesOfValues) {
    struct value_case {
        std::string dict;
        int field;
        std::string want;
    };
    const value_case cases[] = {
        {"<</Title(Report)/Author(Ann)>>", FIELD_TITLE, "Report"},
        {"<</Title(Report)/Author(Ann)>>", FIELD_AUTHOR, "Ann"},
        {"<</Foo <</Title (x)>> >>", FIELD_TITLE, ""},
        {"<</Titles (x)>>", FIELD_TITLE, ""},
        {"<</title (x)>>", FIELD_TITLE, ""},
        {"<</Title 12 0 R>>", FIELD_TITLE, ""},
        {"<</Title 42>>", FIELD_TITLE, ""},
        {"<</Title true>>", FIELD_TITLE, ""},
        {"<</Title [(a)]>>", FIELD_TITLE, ""},
        {"<</Title <</A (b)>> >>", FIELD_TITLE, ""},
        {"<</Title /Memo>>", FIELD_TITLE, "Memo"},
        {"<</Title /A#20B>>", FIELD_TITLE, "A#20B"},
        {"<</Title /A-b_c+d#e.f>>", FIELD_TITLE, "A-b_c+d#e"},
        {"<</Title / (x)>>", FIELD_TITLE, ""},
        {"<</Title\r\n\t\f (spaced)>>", FIELD_TITLE, "spaced"},
        {std::string("<</Title\0(nul ws)>>", 19), FIELD_TITLE, "nul ws"},
        {"<</Title (a\\(b\\)c\\\\d\\n\\101)>>", FIELD_TITLE, "a(b)c\\d\n" "A"},
        {"<</Title (nested (parens) kept)>>", FIELD_TITLE, "nested (parens) kept"},
        {"<</Title <48656C6C6F>>>", FIELD_TITLE, "Hello"},
        {"<</Title <48 65 6c 6C 6>>>", FIELD_TITLE, "Hell\x60"},
        {"<</Title <>>>", FIELD_TITLE, ""},
        {"<</Title (\xC3\xA9t\xC3\xA9)>>", FIELD_TITLE, "\xC3\xA9t\xC3\xA9"},
        // UTF-16 text is cut at its first zero byte
        {"<</Title <FEFF00410042>>>", FIELD_TITLE, "\xFE\xFF"},
        {"<</Title (\xFE\xFF\\000A)>>", FIELD_TITLE, "\xFE\xFF"},
        {"<</Subject (s) /Creator (c) /Producer (p)>>", FIELD_SUBJECT, "s"},
        {"<</Subject (s) /Creator (c) /Producer (p)>>", FIELD_CREATOR, "c"},
        {"<</Subject (s) /Creator (c) /Producer (p)>>", FIELD_PRODUCER, "p"},
        // the first top-level occurrence decides
        {"<</Title (one) /Title (two)>>", FIELD_TITLE, "one"},
        {"<</Title 5 /Title (two)>>", FIELD_TITLE, ""},
        // dates
        {"<</CreationDate (D:20240115103000+01'00')>>", FIELD_CREATION_DATE, "2024-01-15"},
        {"<</CreationDate <443A3230323430313135>>>", FIELD_CREATION_DATE, "2024-01-15"},
        {"<</CreationDate /D:20240115>>", FIELD_CREATION_DATE, ""},  // ':' ends the name
        {"<</CreationDate /20240115>>", FIELD_CREATION_DATE, "2024-01-15"},
        {"<</ModDate (yesterday)>>", FIELD_MOD_DATE, ""},
        {"<</ModDate (D:2024)>>", FIELD_MOD_DATE, ""},
        {"<</ModDate (20241315)>>", FIELD_MOD_DATE, "2024-13-15"},
        // keywords
        {"<</Keywords [(alpha) (beta)]>>", FIELD_KEYWORDS, "alpha,beta"},
        {"<</Keywords (alpha, beta)>>", FIELD_KEYWORDS, "alpha, beta"},
        {"<</Keywords []>>", FIELD_KEYWORDS, ""},
        {"<</Keywords [ ]>>", FIELD_KEYWORDS, ""},
        {"<</Keywords [(x(y)z(w)) (v)]>>", FIELD_KEYWORDS, "x(y)z(w),v"},
        {"<</Keywords [() (b)]>>", FIELD_KEYWORDS, "b"},
        {"<</Keywords [(a) () (b)]>>", FIELD_KEYWORDS, "a,,b"},
        {"<</Keywords [(a) <6364> (b)]>>", FIELD_KEYWORDS, "a,cd,b"},
        {"<</Keywords [(a\\)b) (c)]>>", FIELD_KEYWORDS, "a)b,c"},
        {"<</Keywords [(a) 12 /N true (b)]>>", FIELD_KEYWORDS, "a,b"},
        // "<<" moves on by one byte, so its second "<" opens a hexadecimal string
        {"<</Keywords [(a) <</K (hidden)>> (b)]>>", FIELD_KEYWORDS, "a,\xDD\xE0,b"},
        {"<</Keywords [(a) <62> <>]>>", FIELD_KEYWORDS, "a,b,"},
        {"<</Keywords [(a) (b)", FIELD_KEYWORDS, "a,b"},
        {"<</Keywords /K#20w>>", FIELD_KEYWORDS, "K#20w"},
        {"<</Keywords <6b77>>>", FIELD_KEYWORDS, "kw"},
        {"<</Keywords 7 0 R>>", FIELD_KEYWORDS, ""},
        {"<</Keywords [(a)] /Title (t)>>", FIELD_TITLE, "t"},
        {"<</Keywords [(a) (b)] (loose) >>", FIELD_KEYWORDS, "a,b"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> f = fields_of(c.dict);
        EXPECT_EQ(f[c.field], c.want) << c.dict << " field " << KEYS[c.field];
    }
}

TEST(InfoValue, RegionEndsBeforeAValue) {
    std::string t = "<</Title   (x)>>";
    int32_t k = name_find_depth0(u8(t), 0, n32(t), "Title");
    ASSERT_EQ(k, 2);
    EXPECT_EQ(info_value_at(u8(t), k, 8), nullptr);   // inside the key
    EXPECT_EQ(info_value_at(u8(t), k, 10), nullptr);  // inside the white space
    cstr cut = info_value_at(u8(t), k, 13);           // string cut by the end
    ASSERT_NE(cut, nullptr);
    EXPECT_STREQ(cut.get(), "x");
    std::string h = "<</Title <";
    cstr hex = info_value_at(u8(h), 2, n32(h));  // a '<' as the last byte is a hex string
    ASSERT_NE(hex, nullptr);
    EXPECT_STREQ(hex.get(), "");
    std::string n = "<</Title /";
    EXPECT_EQ(info_value_at(u8(n), 2, n32(n)), nullptr);
}

TEST(InfoKeywords, NeverNull) {
    const char* texts[] = {"<</Keywords", "<</Keywords ", "<</Keywords [", "<</Keywords 12>>", "<</Keywords <<>> >>"};
    for (const char* t : texts) {
        std::string s = t;
        cstr v = info_keywords_at(u8(s), 2, n32(s));
        ASSERT_NE(v, nullptr) << t;
        EXPECT_STREQ(v.get(), "") << t;
    }
}

TEST(InfoReadRegion, AllEightInTableOrder) {
    std::string dict =
        "<</ModDate(D:20230102)/CreationDate(D:20220304)/Producer(P)/Creator(C)/Keywords[(k1)(k2)]"
        "/Subject(S)/Author(A)/Title(T)/Trapped/False>>";
    std::vector<std::string> want = {"T", "A", "S", "k1,k2", "C", "P", "2022-03-04", "2023-01-02"};
    EXPECT_EQ(fields_of(dict), want);
    EXPECT_EQ(fields_of("<<>>"), std::vector<std::string>(8, ""));
    info_fields none = info_read_region(dict_view{});
    for (const std::string& s : none) EXPECT_EQ(s, "");
}

// --- whole files ------------------------------------------------------------

class ReadFile : public ::testing::Test {
protected:
    TempDir dir;
    std::string put(const std::string& bytes, const std::string& name = "t.pdf") {
        std::string p = dir.file(name);
        write_file(p, bytes);
        return p;
    }
    std::string read_json(const std::string& path) {
        const char* r = vellix_read(path.c_str());
        EXPECT_NE(r, nullptr) << vellix_last_error();
        EXPECT_STREQ(vellix_last_error(), "");
        return r ? r : "<null>";
    }
};

// Catalog 1, pages 2 with `pages` leaves from 3 on; further objects given.
PdfBuilder doc_with(int pages, const std::string& version = "1.4") {
    PdfBuilder b(version);
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int i = 0; i < pages; ++i) kids += std::to_string(3 + i) + " 0 R ";
    b.obj(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    for (int i = 0; i < pages; ++i) b.obj(3 + i, "<< /Type /Page /Parent 2 0 R >>");
    return b;
}

TEST_F(ReadFile, ExactJson) {
    PdfBuilder b = doc_with(12, "1.7");
    b.obj(20,
          "<< /Title (Annual figures) /Author (J. Smith) /Keywords [(finance) (2023)] /Creator (Writer)\n"
          "   /Producer <436F6E7665727465722032> /CreationDate (D:20240115103000+01'00') /ModDate (soon) >>");
    b.xref_trailer("/Size 21 /Root 1 0 R /Info 20 0 R");
    std::string path = put(b.bytes());
    std::string want = "{\"title\":\"Annual figures\",\"author\":\"J. Smith\",\"subject\":\"\",\"keywords\":"
                       "\"finance,2023\",\"creator\":\"Writer\",\"producer\":\"Converter 2\",\"creation_date\":"
                       "\"2024-01-15\",\"mod_date\":\"\",\"pages\":12,\"file_size\":" +
                       std::to_string(b.size()) + ",\"pdf_version\":\"1.7\"}";
    EXPECT_EQ(read_json(path), want);
}

TEST_F(ReadFile, ValuesAreJsonEscaped) {
    PdfBuilder b = doc_with(1);
    b.obj(9, "<< /Title (say \"hi\"\\\\ \\n\\t\\001 \xC3\xA9) /Producer (p) >>");
    b.xref_trailer("/Size 10 /Root 1 0 R /Info 9 0 R");
    std::string json = read_json(put(b.bytes()));
    EXPECT_EQ(json.substr(0, json.find(",\"author\"")), "{\"title\":\"say \\\"hi\\\"\\\\ \\n\\t\\u0001 \xC3\xA9\"");
}

TEST_F(ReadFile, NoInfoVersionOrPages) {
    // No header, no trailer, a single object without /Pages.
    std::string path = put("1 0 obj\n<<>>\nendobj\n");
    size_t size = std::strlen("1 0 obj\n<<>>\nendobj\n");
    EXPECT_EQ(read_json(path), "{\"title\":\"\",\"author\":\"\",\"subject\":\"\",\"keywords\":\"\",\"creator\":\"\","
                               "\"producer\":\"\",\"creation_date\":\"\",\"mod_date\":\"\",\"pages\":0,"
                               "\"file_size\":" +
                                   std::to_string(size) + ",\"pdf_version\":\"1.0\"}");
}

TEST_F(ReadFile, UnresolvedPageTreeReportsNoPages) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");  // object 2 does not exist
    b.obj(4, "<< /Title (t) /Producer (p) >>");
    b.xref_trailer("/Size 5 /Root 1 0 R /Info 4 0 R");
    std::string json = read_json(put(b.bytes()));
    EXPECT_NE(json.find("\"title\":\"t\""), std::string::npos) << json;
    EXPECT_NE(json.find(",\"pages\":0,"), std::string::npos) << json;
}

// Fallback search when the trailer names no Info dictionary.
TEST_F(ReadFile, FallbackSearchTakesTheFirstQualifyingObject) {
    PdfBuilder b = doc_with(1);
    b.obj(4, "<< /Title (only title) /Author (and author) >>");  // neither Producer nor Creator
    b.obj(5, "<< /Creator (only creator) >>");                  // none of Title, Author, Producer
    b.obj(6, "<< /Sub << /Title (t) /Producer (nested) >> >>");   // keys not at the top level
    b.obj(7, "<< /Producer (P) >>");
    b.obj(8, "<< /Title (later) /Creator (C) >>");
    b.xref_trailer("/Size 9 /Root 1 0 R");
    std::string json = read_json(put(b.bytes()));
    EXPECT_EQ(json.substr(0, json.find(",\"pages\"")),
              "{\"title\":\"\",\"author\":\"\",\"subject\":\"\",\"keywords\":\"\",\"creator\":\"\","
              "\"producer\":\"P\",\"creation_date\":\"\",\"mod_date\":\"\"");
}

TEST_F(ReadFile, FallbackPairsOfKeys) {
    struct pair_case {
        std::string dict;
        bool taken;
    };
    const pair_case cases[] = {
        {"<< /Title (x) /Creator (c) >>", true},
        {"<< /Author (x) /Creator (c) >>", true},
        {"<< /Producer (x) >>", true},
        {"<< /Title (x) /Author (y) >>", false},
        {"<< /Creator (c) >>", false},
        {"<< /Subject (s) /Keywords (k) >>", false},
        {"<< /Title (x) /Foo << /Creator (c) >> >>", false},
    };
    for (const auto& c : cases) {
        PdfBuilder b = doc_with(1);
        b.obj(4, c.dict);
        b.xref_trailer("/Size 5 /Root 1 0 R");
        std::string path = put(b.bytes());
        pdf_doc doc;
        ASSERT_EQ(doc_load(path.c_str(), &doc, 0), 0) << vellix_last_error();
        const obj_entry* e = info_obj_find(doc);
        EXPECT_EQ(e != nullptr && e->num == 4, c.taken) << c.dict;
        if (!c.taken) {
            EXPECT_EQ(e, nullptr) << c.dict;
        }
        doc = pdf_doc{};
    }
}

TEST_F(ReadFile, TrailerInfoToMissingObjectFallsBackToTheSearch) {
    PdfBuilder b = doc_with(1);
    b.obj(4, "<< /Title (found) /Producer (p) >>");
    b.xref_trailer("/Size 5 /Root 1 0 R /Info 40 0 R");
    std::string json = read_json(put(b.bytes()));
    EXPECT_EQ(json.substr(0, 20), "{\"title\":\"found\",\"au");
}

TEST_F(ReadFile, TrailerInfoToNonDictionaryGivesEmptyFieldsWithoutSearch) {
    PdfBuilder b = doc_with(1);
    b.obj(4, "<< /Title (would qualify) /Producer (p) >>");
    b.obj(5, "(just a string)");
    b.xref_trailer("/Size 6 /Root 1 0 R /Info 5 0 R");
    std::string json = read_json(put(b.bytes()));
    EXPECT_EQ(json.substr(0, json.find(",\"pages\"")),
              "{\"title\":\"\",\"author\":\"\",\"subject\":\"\",\"keywords\":\"\",\"creator\":\"\","
              "\"producer\":\"\",\"creation_date\":\"\",\"mod_date\":\"\"");
}

TEST_F(ReadFile, InfoReadNamedDoesNotSearch) {
    PdfBuilder b = doc_with(1);
    b.obj(4, "<< /Title (scan only) /Producer (p) >>");
    b.xref_trailer("/Size 5 /Root 1 0 R");
    std::string path = put(b.bytes());
    EXPECT_NE(read_json(path).find("scan only"), std::string::npos);
    pdf_doc doc;
    ASSERT_EQ(doc_load(path.c_str(), &doc, 0), 0);
    info_fields f = info_read_named(doc);
    for (const std::string& s : f) EXPECT_EQ(s, "");
    doc = pdf_doc{};
}

TEST_F(ReadFile, InfoReadNamedReadsTheTrailerInfo) {
    PdfBuilder b = doc_with(1);
    b.obj(4, "<< /Title (T) /Keywords [(a) (b)] /ModDate (D:20200202) /CreationDate (bad) >>");
    b.xref_trailer("/Size 5 /Root 1 0 R /Info 4 0 R");
    std::string path = put(b.bytes());
    pdf_doc doc;
    ASSERT_EQ(doc_load(path.c_str(), &doc, 0), 0);
    info_fields f = info_read_named(doc);
    std::vector<std::string> got(f.begin(), f.end());
    EXPECT_EQ(got, (std::vector<std::string>{"T", "", "", "a,b", "", "", "", "2020-02-02"}));
    doc = pdf_doc{};
}

TEST_F(ReadFile, IncrementalUpdateReplacesInfo) {
    PdfBuilder b = doc_with(1);
    b.obj(4, "<< /Title (old) /Producer (p1) >>");
    b.xref_trailer("/Size 5 /Root 1 0 R /Info 4 0 R");
    b.obj(4, "<< /Title (new) /Producer (p2) >>");
    b.xref_trailer("/Size 5 /Root 1 0 R /Info 4 0 R");
    std::string json = read_json(put(b.bytes()));
    EXPECT_NE(json.find("\"title\":\"new\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"producer\":\"p2\""), std::string::npos) << json;
}

TEST_F(ReadFile, UpdateWithNewInfoObjectNumber) {
    PdfBuilder b = doc_with(1);
    b.obj(4, "<< /Title (old) /Producer (p1) >>");
    b.xref_trailer("/Size 5 /Root 1 0 R /Info 4 0 R");
    b.obj(5, "<< /Title (moved) /Producer (p2) >>");
    b.xref_trailer("/Size 6 /Root 1 0 R /Info 5 0 R");
    EXPECT_NE(read_json(put(b.bytes())).find("\"title\":\"moved\""), std::string::npos);
}

TEST_F(ReadFile, XrefStreamUpdateOntoClassicFileKeepsTheNewerInfo) {
    PdfBuilder b = doc_with(1);
    b.obj(4, "<< /Title (old) /Producer (p1) >>");
    b.xref_trailer("/Size 5 /Root 1 0 R /Info 4 0 R");
    b.obj(6, "<< /Title (newer) /Producer (p2) >>");
    b.xref_stream(7, "/Size 8 /Root 1 0 R /Info 6 0 R");
    std::string json = read_json(put(b.bytes()));
    EXPECT_NE(json.find("\"title\":\"newer\""), std::string::npos) << json;
}

TEST_F(ReadFile, InfoInsideAnObjectStream) {
    PdfBuilder b = doc_with(1);
    b.object_stream(10, {{4, "<< /Title (packed) /Keywords [(a) <62>] /Producer (p) >>"}, {5, "42"}});
    b.xref_trailer("/Size 11 /Root 1 0 R /Info 4 0 R");
    std::string json = read_json(put(b.bytes()));
    EXPECT_EQ(json.substr(0, json.find(",\"creator\"")),
              "{\"title\":\"packed\",\"author\":\"\",\"subject\":\"\",\"keywords\":\"a,b\"");
}

TEST_F(ReadFile, FallbackSearchReachesObjectStreams) {
    PdfBuilder b = doc_with(1);
    b.object_stream(10, {{4, "<< /Author (x) >>"}, {5, "<< /Author (inner) /Creator (c) >>"}});
    b.xref_trailer("/Size 11 /Root 1 0 R");
    std::string json = read_json(put(b.bytes()));
    EXPECT_EQ(json.substr(0, json.find(",\"subject\"")), "{\"title\":\"\",\"author\":\"inner\"");
}

// --- failures and the result slot -------------------------------------------

TEST_F(ReadFile, LoadFailuresGiveTheLoaderMessage) {
    std::string missing = dir.file("missing.pdf");
    EXPECT_EQ(vellix_read(missing.c_str()), nullptr);
    EXPECT_EQ(std::string(vellix_last_error()), "cannot open " + missing);

    std::string empty = put("", "empty.pdf");
    EXPECT_EQ(vellix_read(empty.c_str()), nullptr);
    EXPECT_EQ(std::string(vellix_last_error()), "empty input file: " + empty);

    std::string junk = put("x", "junk.pdf");
    EXPECT_EQ(vellix_read(junk.c_str()), nullptr);
    EXPECT_EQ(std::string(vellix_last_error()), "no PDF objects found \xE2\x80\x94 not a PDF: " + junk);

    PdfBuilder enc = doc_with(1);
    enc.obj(4, "<< /Filter /Standard /V 2 /R 3 /O <00> /U <00> /P -4 >>");
    enc.xref_trailer("/Size 5 /Root 1 0 R /Encrypt 4 0 R");
    std::string encrypted = put(enc.bytes(), "enc.pdf");
    EXPECT_EQ(vellix_read(encrypted.c_str()), nullptr);
    EXPECT_EQ(std::string(vellix_last_error()), "encrypted PDFs are not supported: " + encrypted);
}

TEST_F(ReadFile, ResultSlotFollowsTheCallFlow) {
    std::string good = put(minimal_pdf(2, "<< /Title (slot) /Producer (p) >>"));
    set_error("earlier failure");
    const char* first = vellix_read(good.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(vellix_last_error(), "");
    EXPECT_EQ(g_read_json.text, first);
    std::string copy = first;

    // Other exports leave the text alone.
    vellix_cleanup();
    EXPECT_EQ(vellix_analyze(good.c_str()) != nullptr, true);
    EXPECT_EQ(std::string(first), copy);

    // A NULL path discards the previous result.
    EXPECT_EQ(vellix_read(nullptr), nullptr);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");
    EXPECT_EQ(g_read_json.text, nullptr);

    ASSERT_NE(vellix_read(good.c_str()), nullptr);
    std::string missing = dir.file("none.pdf");
    EXPECT_EQ(vellix_read(missing.c_str()), nullptr);
    EXPECT_EQ(g_read_json.text, nullptr);

    const char* again = vellix_read(good.c_str());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(std::string(again), copy);
    EXPECT_STREQ(vellix_last_error(), "");
}

// --- cost ---------------------------------------------------------------------

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

TEST_F(ReadFile, ManyObjectsWithoutTrailerInfoReadInLinearTime) {
    PdfBuilder b = doc_with(1);
    for (int i = 0; i < 100000; ++i) b.obj(10 + i, "<< /Type /Thing /Title (t) /Index " + std::to_string(i) + " >>");
    b.obj(200000, "<< /Title (last) /Producer (p) >>");
    b.xref_trailer("/Size 200001 /Root 1 0 R");
    std::string path = put(b.bytes());
    auto t0 = std::chrono::steady_clock::now();
    std::string json = read_json(path);
    EXPECT_LT(seconds_since(t0), 2.0 * TIME_SCALE);
    EXPECT_EQ(json.substr(0, 15), "{\"title\":\"last\"");
}

TEST_F(ReadFile, DictionaryHeadersSharingOneEndobjReadInLinearTime) {
    // Every header opens a dictionary before the only "endobj": each row's
    // span runs to the end, and no row holds an Info key.
    std::string body = "%PDF-1.4\n";
    for (int i = 1; i <= 50000; ++i) body += std::to_string(i) + " 0 obj << /Type /X\n";
    body += "endobj\n";
    std::string path = put(body);
    auto t0 = std::chrono::steady_clock::now();
    std::string json = read_json(path);
    EXPECT_LT(seconds_since(t0), 2.0 * TIME_SCALE);
    EXPECT_EQ(json.substr(0, 12), "{\"title\":\"\",");
}

}  // namespace
