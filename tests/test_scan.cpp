// Lexical primitives: keyword and name searches, dictionary bounds, integers,
// references, page classification. Every input lives in an exactly sized heap
// block so that a read past the end shows up under AddressSanitizer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "load/doc.h"
#include "syntax/dict_view.h"
#include "syntax/lexer.h"

namespace {

// Exactly sized copy of a text (no terminating zero after it).
struct Bytes {
    std::unique_ptr<uint8_t[]> p;
    pos n;
    explicit Bytes(const std::string& s) : p(new uint8_t[s.size() ? s.size() : 1]), n(static_cast<pos>(s.size())) {
        if (!s.empty()) std::memcpy(p.get(), s.data(), s.size());
    }
    const uint8_t* data() const { return p.get(); }
};

obj_entry file_row(pos dict_pos, pos stream_kw = -1, pos endobj_pos = -1) {
    obj_entry e;
    e.dict_pos = dict_pos;
    e.stream_kw = stream_kw;
    e.endobj_pos = endobj_pos;
    return e;
}

}  // namespace

TEST(Scan, CharacterClasses) {
    for (int c = 0; c < 256; ++c) {
        uint8_t b = static_cast<uint8_t>(c);
        bool pdf_ws = c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
        bool word = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        EXPECT_EQ(is_pdf_ws(b), pdf_ws) << c;
        EXPECT_EQ(is_ascii_ws(b), c == 32 || (c >= 9 && c <= 13)) << c;
        EXPECT_EQ(is_word(b), word) << c;
        EXPECT_EQ(is_name_cont(b), word || c == '+' || c == '-' || c == '_') << c;
    }
}

TEST(Scan, FindKeywordWholeWord) {
    struct Case {
        const char* text;
        int32_t from;
        const char* kw;
        int32_t want;
    } cases[] = {
        {"startxref", 0, "xref", -1},
        {"5 0 obj<<", 0, "obj", 4},
        {"endobj", 0, "obj", -1},
        {"objects", 0, "obj", -1},
        {"obj", -3, "obj", 0},
        {"obj", 0, "obj", 0},
        {"obj", 1, "obj", -1},
        {"ob", 0, "obj", -1},
        {"", 0, "obj", -1},
        {"endobj 1 0 obj", 0, "obj", 11},
        {"xobj obj", 0, "obj", 5},
        {"1 0 obj\x80", 0, "obj", 4},   // high bytes are not word characters
        {"(obj)", 0, "obj", 1},
        {"trailer\r\n<<", 0, "trailer", 0},
        {"x trailer trailer", 3, "trailer", 10},
        {"startxref\n123\n%%EOF", 0, "startxref", 0},
        {"obj_obj", 0, "obj", 0},       // underscore is not a word character
    };
    for (const Case& c : cases) {
        Bytes b(c.text);
        EXPECT_EQ(kw_find(b.data(), c.from, b.n, c.kw), c.want) << c.text << " / " << c.kw << " from " << c.from;
    }
}

TEST(Scan, FindKeywordStopsAtTheLengthGiven) {
    // The keyword continues past len: the search must not see the rest.
    Bytes b("xx endobj");
    EXPECT_EQ(kw_find(b.data(), 0, 8, "endobj"), -1);
    EXPECT_EQ(kw_find(b.data(), 0, 9, "endobj"), 3);
    // A word byte at len does not count against a match ending there.
    Bytes c("obj1");
    EXPECT_EQ(kw_find(c.data(), 0, 3, "obj"), 0);
    EXPECT_EQ(kw_find(c.data(), 0, 4, "obj"), -1);
}

TEST(Scan, FindKeywordIsLinearOnLargeInput) {
    // 16 MiB of near misses ("endobj" contains "obj" but never as a word).
    std::string s;
    s.reserve(16u << 20);
    while (s.size() < (16u << 20)) s += "endobj eee ";
    s += "obj";
    Bytes b(s);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(kw_find(b.data(), 0, b.n, "obj"), b.n - 3);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(ms, 5000);
}

TEST(Scan, KeywordAt) {
    struct Case {
        const char* text;
        int32_t pos;
        const char* kw;
        int want;
    } cases[] = {
        {"1 0 obj", 4, "obj", 1},
        {"1 0 obj", 3, "obj", 0},
        {"1 0 objx", 4, "obj", 0},
        {"endobj", 3, "obj", 0},
        {"obj", -1, "obj", 0},
        {"obj", 1, "obj", 0},        // would end beyond len
        {">>stream\r\n", 2, "stream", 1},
        {"xref\n0 1", 0, "xref", 1},
        {"startxref", 5, "xref", 0},
    };
    for (const Case& c : cases) {
        Bytes b(c.text);
        EXPECT_EQ(kw_is(b.data(), c.pos, b.n, c.kw), c.want) << c.text << " at " << c.pos;
    }
}

TEST(Scan, FindName) {
    struct Case {
        const char* text;
        int32_t start;
        int32_t limit;  // -1: the whole text
        const char* name;
        int32_t want;
    } cases[] = {
        {"/Length 12", 0, -1, "Length", 0},
        {"/Length/Foo", 0, -1, "Length", 0},
        {"/Length1 5", 0, -1, "Length", -1},
        {"/Length_2 5", 0, -1, "Length", -1},
        {"/Length+ /Length- /Length", 0, -1, "Length", 18},
        {"/Names 3 0 R", 0, -1, "N", -1},
        {"/Perms <<>> /P -4", 0, -1, "P", 12},
        {"/Type.x", 0, -1, "Type", 0},
        {"/Type#20", 0, -1, "Type", 0},
        {"/Length", 0, -1, "Length", 0},        // ends exactly at the range end
        {"/Lengt", 0, -1, "Length", -1},
        {"(/Type) /X", 0, -1, "Type", 1},       // strings are not skipped
        {"<< /A << /Type /X >> >>", 0, -1, "Type", 9},
        {"/Type /Type", 1, -1, "Type", 6},
        {"/Type /Type", 0, 5, "Type", 0},
        {"/Type /Type", 0, 4, "Type", -1},      // range too short for the key
        {"/Typ /Type", 0, -1, "Type", 5},
        {"/Length1", 0, 7, "Length", 0},        // the continuation byte lies past the range
        {"/Type", -5, -1, "Type", 0},
        {"Type", 0, -1, "Type", -1},
    };
    for (const Case& c : cases) {
        Bytes b(c.text);
        pos limit = c.limit < 0 ? b.n : c.limit;
        EXPECT_EQ(name_find(b.data(), c.start, std::min<pos>(limit, b.n), c.name), c.want) << c.text << " / " << c.name;
    }
}

TEST(Scan, FindNameTopLevelOnly) {
    struct Case {
        const char* text;
        int32_t want;
    } cases[] = {
        {"<< /Resources << /Type /Font >> >>", -1},
        {"<< (a /Type b) >>", -1},
        {"<< % /Type x\n >>", -1},
        {"<< /Type /Page >>", 3},
        {"<< /A (x\\) /Type) /Type /P >>", 18},
        {"<< /A (x(y)z) /Type /P >>", 14},
        {"<< /A <2F54797065> /Type /P >>", 19},
        {"<< /A << /B 1 >> /Type /P >>", 17},
        {"<< /Typed 1 /Type /P >>", 12},
        {"<< % c\r/Type /P >>", 7},
        {"/Type /P", 0},                         // depth 0 also counts
        {">> >> /Type", 6},                      // depth never goes below 0
        {"<< /A (abc /Type /P", -1},             // unterminated string
        {"<< /A (abc\\", -1},                    // backslash as last byte
        {"<< /A (", -1},
        {"<< /A % no line end /Type /P", -1},
        {"<< /A <414 /Type /P", -1},             // unterminated hex string
        {"<< /A <", -1},
        {"<< /A 1 >", -1},                       // lone > as last byte
        {"<< /A [1 2] /B 3 >>", -1},
    };
    for (const Case& c : cases) {
        Bytes b(c.text);
        EXPECT_EQ(name_find_top(b.data(), 0, b.n, "Type"), c.want) << c.text;
    }
    // The range ends at min(limit, len).
    Bytes b("<< /X 1 /Type /P >>");
    EXPECT_EQ(name_find_top(b.data(), 0, std::min<pos>(12, b.n), "Type"), -1);
    EXPECT_EQ(name_find_top(b.data(), 0, std::min<pos>(13, b.n), "Type"), 8);
    EXPECT_EQ(name_find_top(b.data(), 0, std::min<pos>(100, 12), "Type"), -1);
}

TEST(Scan, FindDictClose) {
    struct Case {
        const char* text;
        int32_t start;
        int32_t want;
    } cases[] = {
        {"<< /A (x>>y) >>", 0, 13},
        {"<< /A 1 >>", 0, 8},
        {"<< /A << /B 2 >> >>", 0, 17},
        {"1 0 obj << /A 1 >> endobj", 0, 16},
        {"<< /A (x(y)z) >>", 0, 14},
        {"<< /A (\\)) >>", 0, 11},
        {"<< /A <41> >>", 0, 11},
        {"<< /A <<", 0, -1},
        {"<< /A 1 >", 0, -1},                 // lone > as the last byte
        {"<< /A 1 <", 0, -1},
        {"<< /A (x", 0, -1},
        {"<< /A (", 0, -1},
        {"<< /A (x)", 0, -1},                 // the string ends exactly at end
        {"<< /A (x\\", 0, -1},
        {"<< /A (x\\)", 0, -1},
        {"no dictionary", 0, -1},
        {"<< /A 1 >> << /B 2 >>", 10, 19},    // from start the first << is the second
        {"<< /A 1 >> << /B 2 >>", 3, -1},     // a stray >> first makes the count negative
        {"<< % >> \n >>", 0, 5},              // comments are not special
        {">> << /A 1 >> >>", 0, -1},
    };
    for (const Case& c : cases) {
        Bytes b(c.text);
        EXPECT_EQ(dict_close(b.data(), c.start, b.n), c.want) << c.text;
    }
    Bytes b("<< /A 1 >> tail");
    EXPECT_EQ(dict_close(b.data(), 0, 9), -1);
    EXPECT_EQ(dict_close(b.data(), 0, 10), 8);
}

TEST(Scan, DictStreamKeyword) {
    struct Case {
        const char* text;
        int32_t dict_pos;
        int32_t want;
    } cases[] = {
        {"<< /Length 3 >>\r\nstream\r\nabc", 0, 17},
        {"<< /Length 3 >>stream\nabc", 0, 15},
        {"<< >> endobj", 0, -1},
        {"<< >> streamx", 0, -1},
        {"<< >> % stream", 0, -1},
        {"<< /A (x", 0, -1},
        {"<< >>", 0, -1},
        {"1 0 obj << >> stream", 8, 14},
    };
    for (const Case& c : cases) {
        Bytes b(c.text);
        EXPECT_EQ(stream_kw_after(b.data(), c.dict_pos, b.n), c.want) << c.text;
    }
    // NUL and FF count as white space.
    std::string s("<< >>\x00\x0c stream", 15);
    Bytes b(s);
    EXPECT_EQ(stream_kw_after(b.data(), 0, b.n), 8);
}

TEST(Scan, ValueStartAfter) {
    struct Case {
        const char* text;
        const char* name;
        int32_t want;
    } cases[] = {
        {"/Type /Page", "Type", 6},
        {"/Type/Page", "Type", 5},
        {"/Type#20x  (v)", "Type", 11},       // rest of an escaped name skipped
        {"/Length \r\n 12", "Length", 11},
        {"/Length", "Length", 7},              // value would start at len
        {"/Length   ", "Length", 10},
        {"/Other 1", "Type", -1},
    };
    for (const Case& c : cases) {
        Bytes b(c.text);
        EXPECT_EQ(key_value_past_name(b.data(), 0, b.n, c.name), c.want) << c.text;
    }
}

TEST(Scan, ParseIntAt) {
    struct Case {
        const char* text;
        int32_t pos;
        int32_t want;
        int32_t want_pos;  // position afterwards (unchanged on failure)
    } cases[] = {
        {"  -17 ", 0, -17, 5},
        {"- 5", 0, -1, 0},
        {"+5", 0, -1, 0},
        {"12.5", 0, 12, 2},
        {"0", 0, 0, 1},
        {"007x", 0, 7, 3},
        {"-", 0, -1, 0},
        {"   ", 0, -1, 0},
        {"", 0, -1, 0},
        {"12", 2, -1, 2},
        {"12", 5, -1, 5},
        {"12", -1, -1, -1},
        {"\x0c\r\n\t 42", 0, 42, 7},
        {"\x0b" "42", 0, -1, 0},              // VT is not PDF white space
        {"2147483647", 0, 2147483647, 10},
        {"4294967297", 0, 1, 10},             // 32-bit wrap-around
        {"x", 0, -1, 0},
    };
    for (const Case& c : cases) {
        Bytes b(c.text);
        pos at = c.pos;
        EXPECT_EQ(int_read(b.data(), &at, b.n), c.want) << c.text;
        EXPECT_EQ(at, c.want_pos) << c.text;
    }
    // A NUL counts as white space.
    std::string s("\0 9", 3);
    Bytes b(s);
    pos at = 0;
    EXPECT_EQ(int_read(b.data(), &at, b.n), 9);
    EXPECT_EQ(at, 3);
}

TEST(Scan, ReadIntAdvWalksAList) {
    Bytes b(" 10 +20\n-30 4x");
    pos at = 0;
    EXPECT_EQ(int_read_signed(b.data(), &at, b.n), 10);
    EXPECT_EQ(at, 3);
    EXPECT_EQ(int_read_signed(b.data(), &at, b.n), 20);
    EXPECT_EQ(int_read_signed(b.data(), &at, b.n), -30);
    EXPECT_EQ(int_read_signed(b.data(), &at, b.n), 4);
    EXPECT_EQ(at, 13);
    EXPECT_EQ(int_read_signed(b.data(), &at, b.n), -1);  // 'x' is not a digit

    struct Case {
        const char* text;
        int32_t want;
    } cases[] = {
        {"", -1}, {"  ", -1}, {"+", -1}, {"-", -1}, {"+ 1", -1}, {"--1", -1}, {"a", -1}, {"7", 7},
    };
    for (const Case& c : cases) {
        Bytes t(c.text);
        pos p = 0;
        EXPECT_EQ(int_read_signed(t.data(), &p, t.n), c.want) << c.text;
    }
}

TEST(Scan, ParseRefAt) {
    struct Case {
        const char* text;
        int32_t want;
    } cases[] = {
        {"7 0 R/", 7},
        {"7 0 RG", -1},
        {"0 0 R", -1},
        {"12 0 R", 12},
        {"12 R", 12},
        {"12 5R", 12},
        {"12R", 12},
        {"  3\n0\r\nR >>", 3},
        {"-3 0 R", -1},
        {"7 0 r", -1},
        {"7 0", -1},
        {"7 0 ", -1},
        {"7 ", -1},
        {"7", -1},
        {"7 0 obj", -1},
        {"7 0 R]", 7},
        {"7 0 R_", 7},                         // underscore is not a word character
        {"(7 0 R)", -1},
    };
    for (const Case& c : cases) {
        Bytes b(c.text);
        EXPECT_EQ(ref_read(b.data(), 0, b.n), c.want) << c.text;
    }
}

TEST(Scan, ObjTypeOfFileRows) {
    struct Case {
        const char* text;
        int want;
    } cases[] = {
        {"<< /Type /Pages /Kids [] >>", 2},
        {"<</Type/Page>>", 1},
        {"<< /Type /Catalog >>", 0},
        {"<< /Type /PageLabel >>", 0},
        {"<< /Res << /Type /Page >> >>", 0},
        {"<< /Type /Pagesx >>", 0},
        {"<< /Type /Page_ >>", 1},
        {"<< /Type/Pages>>", 2},
        {"<< /Title (/Type /Page) >>", 0},
        {"<< /Type 5 /Type /Page >>", 1},        // the first /Type has no name: look further
        {"<< /Type /Font /Type /Pages >>", 2},
        {"<< /Type /PageLabel /Type /Page >>", 0},  // a longer word ends the search
        // After a /Type that is not a page the search resumes with a fresh
        // depth count, so a dictionary one level down is then searched.
        {"<< /Type /Catalog /X << /Type /Page >> >>", 1},
        {"<< /X << /Type /Page >> >>", 0},
        {"<< /Type /Page", 1},                   // value reaches the end of the text
        {"<< /Type /Pages", 2},
        {"<< /Type /Pag", 0},
        {"<< /Type", 0},
        {"", 0},
    };
    for (const Case& c : cases) {
        Bytes b(c.text);
        EXPECT_EQ(obj_page_type(b.data(), b.n, file_row(0)), c.want) << c.text;
    }
}

TEST(Scan, ObjTypeUsesTheRowsDictionarySpan) {
    //                0         1         2         3         4
    //                0123456789012345678901234567890123456789012345
    Bytes b("1 0 obj << /X 1 >> endobj 2 0 obj << /Type /Page >> endobj");
    // Without an end the span runs to len and sees the next object.
    EXPECT_EQ(obj_page_type(b.data(), b.n, file_row(8)), 1);
    // endobj_pos bounds it.
    EXPECT_EQ(obj_page_type(b.data(), b.n, file_row(8, -1, 19)), 0);
    // stream_kw takes precedence over endobj_pos.
    EXPECT_EQ(obj_page_type(b.data(), b.n, file_row(8, 19, b.n)), 0);
    EXPECT_EQ(obj_page_type(b.data(), b.n, file_row(34, -1, 52)), 1);
    // The span ends before the final letter: /Pag is not /Page.
    EXPECT_EQ(obj_page_type(b.data(), b.n, file_row(34, -1, 47)), 0);
    // No dictionary.
    EXPECT_EQ(obj_page_type(b.data(), b.n, file_row(-1)), 0);
    // Positions beyond the file are not followed.
    EXPECT_EQ(obj_page_type(b.data(), b.n, file_row(b.n + 10)), 0);
    EXPECT_EQ(obj_page_type(b.data(), b.n, file_row(34, -1, b.n + 10)), 1);
}

TEST(Scan, ObjTypeOfObjectStreamRows) {
    Bytes text("<</Type/Pages/Count 1>>");
    Bytes file("unrelated /Type /Page");
    obj_entry e;
    e.in_objstm = 1;
    e.objstm_text = text.data();
    e.objstm_len = text.n;
    e.dict_pos = 10;  // ignored for rows from object streams
    EXPECT_EQ(obj_page_type(file.data(), file.n, e), 2);
    e.objstm_len = 11;  // "<</Type/Pag"
    EXPECT_EQ(obj_page_type(file.data(), file.n, e), 0);
    e.objstm_len = 12;  // "<</Type/Page"
    EXPECT_EQ(obj_page_type(file.data(), file.n, e), 1);
}

TEST(Scan, SkipWhiteSpace) {
    std::string s("\0\t\n\x0c\r x\x0b", 8);
    Bytes b(s);
    EXPECT_EQ(ws_skip(b.data(), 0, b.n), 6);
    EXPECT_EQ(ws_skip(b.data(), 6, b.n), 6);
    EXPECT_EQ(ws_skip(b.data(), 7, b.n), 7);  // VT stops it
    EXPECT_EQ(ws_skip(b.data(), 0, 4), 4);
    EXPECT_EQ(ws_skip(b.data(), 8, b.n), 8);
}

TEST(Scan, StringEnds) {
    struct Case {
        const char* text;
        pos (*f)(const uint8_t*, pos, pos);
        pos want;
    } cases[] = {
        {"(abc) x", literal_end, 5},
        {"(a(b)c) x", literal_end, 7},
        {"(a\\)b) x", literal_end, 6},    // an escaped ")" does not close
        {"(a\\\\)b", literal_end, 5},     // an escaped backslash does not escape the ")"
        {"(abc", literal_end, -1},
        {"(ab\\", literal_end, -1},       // backslash as the last byte
        {"(", literal_end, -1},
        {"<4142> x", hex_end, 6},
        {"<41 42", hex_end, -1},
        {"<", hex_end, -1},
        {"<>", hex_end, 2},
    };
    for (const Case& c : cases) {
        Bytes b(c.text);
        EXPECT_EQ(c.f(b.data(), 0, b.n), c.want) << c.text;
    }
}

TEST(Scan, NameRunAndObjectHeader) {
    Bytes name("/Type#20x-_+1 /P");
    EXPECT_EQ(name_run_end(name.data(), 1, name.n), 13);
    EXPECT_EQ(name_run_end(name.data(), 1, 6), 6);  // stops at the end given
    struct Case {
        const char* text;
        pos numbers_end;  // where "obj" is expected
        pos value;        // start of the value
    } cases[] = {
        {"12 0 obj << >>", 5, 9},
        {" 12  0\r\nobj\n[1]", 8, 12},
        {"12 0 objx", 5, 5},       // "objx" is not the keyword
        {"12 0 <<", 5, 5},         // no keyword: the value starts where it was expected
        {"12 obj 5", 3, 7},        // a missing generation number is not required
        {"12 0 obj", 5, 8},
    };
    for (const Case& c : cases) {
        Bytes b(c.text);
        EXPECT_EQ(obj_numbers_end(b.data(), 0, b.n), c.numbers_end) << c.text;
        EXPECT_EQ(obj_value_start(b.data(), 0, b.n), c.value) << c.text;
    }
}

TEST(Scan, OffsetsReadBeyondThe32BitRange) {
    struct Case {
        const char* text;
        pos offset;
        int32_t number;  // int_read of the same text: 32-bit wrapping
    } cases[] = {
        {"  4294967396 ", 4294967396LL, 100},
        {"2147483648", 2147483648LL, INT32_MIN},
        {"17", 17, 17},
        {"-5", -5, -5},
        {"+5", -1, -1},
        {" x", -1, -1},
    };
    for (const Case& c : cases) {
        Bytes b(c.text);
        pos p = 0, q = 0;
        EXPECT_EQ(offset_read(b.data(), &p, b.n), c.offset) << c.text;
        EXPECT_EQ(int_read(b.data(), &q, b.n), c.number) << c.text;
        EXPECT_EQ(p, q) << c.text;  // both stop after the digits, or stay put
    }
}

TEST(Scan, DictViewLookups) {
    //              0         1         2         3         4         5
    //              012345678901234567890123456789012345678901234567890123456
    Bytes b("<< /Len 12 /Ref 7 0 R /Bad 7 0 RG /Filter#20 /X /N /F#6Fo >>");
    const dict_view d{b.data(), 0, b.n};
    EXPECT_EQ(d.key("Ref"), 11);
    EXPECT_EQ(d.key("Re"), -1);                 // a longer name is not the key
    EXPECT_EQ(d.value("Len"), 8);
    EXPECT_EQ(d.int_value("Len", -7), 12);
    EXPECT_EQ(d.int_value("Missing", -7), -7);
    EXPECT_EQ(d.int_value("Ref", -7), 7);
    EXPECT_EQ(d.ref("Ref"), 7);
    EXPECT_EQ(d.ref("Bad"), -1);                // "RG" is no reference
    EXPECT_EQ(d.ref("Len"), -1);
    EXPECT_EQ(d.value("Filter"), 41);           // the escape is where the value would be
    EXPECT_EQ(d.value_past_name("Filter"), 45); // the rest of the name is skipped
    EXPECT_TRUE(d.name_is("Filter", "X"));
    EXPECT_TRUE(d.name_is("N", "Foo"));         // "#6F" decodes to "o"
    EXPECT_FALSE(d.name_is("N", "Fo#"));
    EXPECT_FALSE(d.name_is("Len", "12"));       // not a name
    // The view's end hides what lies beyond it.
    const dict_view cut{b.data(), 0, 10};
    EXPECT_EQ(cut.value("Len"), 8);
    EXPECT_EQ(cut.int_value("Len", -7), 12);
    const dict_view tight{b.data(), 0, 7};
    EXPECT_EQ(tight.value("Len"), -1);          // key ends at the end
    EXPECT_EQ(tight.int_value("Len", -7), -7);
}
