// PDF literal/hex string and name decoding, literal-string encoding, and the
// /Type and /Subtype lookups.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <memory>
#include <string>

#include "syntax/codecs.h"

namespace {

// Exactly sized copy of a text, so reads past `end` show up under ASan.
struct Bytes {
    std::unique_ptr<uint8_t[]> p;
    pos n;
    explicit Bytes(const std::string& s) : p(new uint8_t[s.size() ? s.size() : 1]), n(static_cast<pos>(s.size())) {
        if (!s.empty()) std::memcpy(p.get(), s.data(), s.size());
    }
    const uint8_t* data() const { return p.get(); }
};

using Decoder = cstr (*)(const uint8_t*, pos, pos);

struct DecodeCase {
    std::string in;
    bool null;        // expect a null result
    std::string out;  // expected bytes, zero bytes included
};

// A non-empty result is the decoder's buffer, so the bytes after an embedded
// zero are still there to compare; the terminating zero is checked too.
void check_decode(Decoder f, const DecodeCase& c) {
    Bytes b(c.in);
    cstr r = f(b.data(), 0, b.n);
    if (c.null) {
        EXPECT_EQ(r, nullptr) << c.in;
        return;
    }
    ASSERT_NE(r, nullptr) << c.in;
    std::string want = c.out + std::string(1, '\0');
    EXPECT_EQ(std::string(r.get(), want.size()), want) << c.in;
}

std::string escape(const std::string& s) {
    strbuf b;
    pdf_escape_literal(&b, s.c_str());
    return std::string(b.data ? b.data : "", b.len);
}

}  // namespace

TEST(Codecs, LiteralStrings) {
    using namespace std::string_literals;
    const DecodeCase cases[] = {
        {"(Hello)", false, "Hello"},
        {"(x(y)z)", false, "x(y)z"},
        {"(a\\)b)", false, "a)b"},
        {"(a\\(b)", false, "a(b"},
        {"()", false, ""},
        {"(", false, ""},
        {"Hello)", true, ""},
        {"", true, ""},
        {" (x)", true, ""},                        // no white space is skipped
        {"(\\101)", false, "A"},
        {"(x\\0y)", false, "x\0y"s},
        {"(\\777)", false, "\xff"},
        {"(\\59)", false, "\x05" "9"},
        {"(\\0123)", false, "\n3"},                // at most three digits
        {"(\\7", false, "\x07"},                   // octal cut short by end
        {"(\\q)", false, "q"},
        {"(\\8\\9)", false, "89"},
        {"(\\n\\r\\t\\b\\f\\\\)", false, "\n\r\t\b\f\\"},
        {"(ab\\\ncd)", false, "abcd"},
        {"(ab\\\r\ncd)", false, "abcd"},
        {"(ab\\\rcd)", false, "abcd"},
        {"(ab\\\r", false, "ab"},
        {"(ab\r\ncd)", false, "ab\r\ncd"},
        {"(abc", false, "abc"},
        {"(abc\\", false, "abc"},                  // lone backslash at the end dropped
        {"(a(b)c", false, "a(b)c"},                // unbalanced: runs to end
        {"(a\0b)"s, false, "a\0b"s},
        {"(\xfe\xff\x00\x41)"s, false, "\xfe\xff\x00\x41"s},
        {"(x) tail)", false, "x"},
    };
    for (const DecodeCase& c : cases) check_decode(literal_decode, c);
}

TEST(Codecs, HexStrings) {
    using namespace std::string_literals;
    const DecodeCase cases[] = {
        {"<48656C6C6F>", false, "Hello"},
        {"<48 65 6c>", false, "Hel"},
        {"<486>", false, "H\x60"},
        {"<>", false, ""},
        {"<", false, ""},
        {"<4X1>", false, "A"},
        {"<FEFF0041>", false, "\xfe\xff\x00\x41"s},
        {"<4142", false, "AB"},                    // no closing bracket
        {"<41>42>", false, "A"},
        {"<\r\n4\t1\n>", false, "A"},
        {"<zz>", false, ""},
        {"48>", true, ""},
        {"", true, ""},
    };
    for (const DecodeCase& c : cases) check_decode(hex_decode, c);
}

TEST(Codecs, Names) {
    const DecodeCase cases[] = {
        {"A#20B", false, "A B"},
        {"Font#2", false, "Font"},
        {"Font#", false, "Font"},
        {"A#G1", false, "A"},
        {"A#1G", false, "A"},
        {"Arial,Bold", false, "Arial"},
        {"Helvetica-Bold", false, "Helvetica-Bold"},
        {"a+b_c-d", false, "a+b_c-d"},
        {"Type/Page", false, "Type"},
        {"Image>>", false, "Image"},
        {"Font.x", false, "Font"},
        {"Caf\xc3\xa9", false, "Caf"},             // bytes from 0x80 up end the name
        {"#41#42", false, "AB"},
        {"#c3#a9x", false, "\xc3\xa9x"},
        {" Font", false, ""},
        {"", false, ""},
    };
    for (const DecodeCase& c : cases) check_decode(name_decode, c);
}

TEST(Codecs, DecodersStopAtEndAndStartAtPos) {
    Bytes b("xx(abc)yy<4142>/Na#20me");
    cstr lit = literal_decode(b.data(), 2, 5);  // end inside the string
    EXPECT_STREQ(lit.get(), "ab");
    cstr hex = hex_decode(b.data(), 9, 12);
    EXPECT_STREQ(hex.get(), "A");
    cstr name = name_decode(b.data(), 16, b.n);
    EXPECT_STREQ(name.get(), "Na me");
    cstr cut = name_decode(b.data(), 16, b.n - 3);  // "#20" not wholly in range
    EXPECT_STREQ(cut.get(), "Na");
    EXPECT_EQ(literal_decode(b.data(), 2, 2), nullptr);   // pos == end
    EXPECT_EQ(hex_decode(b.data(), -1, b.n), nullptr);
    cstr none = name_decode(b.data(), 16, 16);
    ASSERT_NE(none, nullptr);
    EXPECT_STREQ(none.get(), "");
}

TEST(Codecs, ResultBlocksAreSmallForShortValues) {
    // A decoded value's block grows with the value, not a fixed large block.
    Bytes lit("(x)");
    cstr r = literal_decode(lit.data(), 0, lit.n);
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r.get(), "x");
    EXPECT_LT(malloc_usable_size(r.get()), 4096u);
    Bytes empty("()");
    cstr e = literal_decode(empty.data(), 0, empty.n);
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e.get(), "");
}

TEST(Codecs, LongLiteralGrowsItsBuffer) {
    std::string body(3u << 20, 'a');
    body[1000] = '\\';
    body[1001] = 'n';
    Bytes b("(" + body + ")");
    cstr r = literal_decode(b.data(), 0, b.n);
    ASSERT_NE(r, nullptr);
    std::string want = body.substr(0, 1000) + "\n" + body.substr(1002);
    EXPECT_EQ(std::strlen(r.get()), want.size());
    EXPECT_EQ(std::string(r.get()), want);
}

TEST(Codecs, EscapeLiteral) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"x(y)z\\", "(x\\(y\\)z\\\\)"},
        {"a\tb\nc\rd", "(a\tb\nc\rd)"},
        {"\x1f", "(\\037)"},
        {"\x01\x1b", "(\\001\\033)"},
        {"\x08\x0b\x0c", "(\\010\\013\\014)"},
        {"caf\xc3\xa9 \x7f", "(caf\xc3\xa9 \x7f)"},
        {"", "()"},
        {"plain text", "(plain text)"},
    };
    for (const Case& c : cases) EXPECT_EQ(escape(c.in), c.out) << c.in;

    // Appends to what the buffer already holds and returns its storage.
    strbuf b = strbuf_start();
    buf_str(&b, "/Title ");
    char* r = pdf_escape_literal(&b, "A");
    EXPECT_EQ(r, b.data);
    EXPECT_STREQ(b.data, "/Title (A)");
}

TEST(Codecs, EscapedTextDecodesBack) {
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    std::string enc = escape(all);
    Bytes b(enc);
    cstr r = literal_decode(b.data(), 0, b.n);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r.get()), all);
}

TEST(Codecs, TypeAndSubtypeNames) {
    struct Case {
        const char* dict;
        const char* type;     // nullptr: no name
        const char* subtype;
    } cases[] = {
        {"<< /Type /Font /Subtype /Type1 >>", "Font", "Type1"},
        {"<</Type/XObject/Subtype/Image>>", "XObject", "Image"},
        {"<< /Type (Font) /Subtype 3 0 R >>", nullptr, nullptr},
        {"<< /Type /A#20B >>", "A B", nullptr},
        {"<< /Type / >>", "", nullptr},
        {"<< /Type#20x /Font >>", "Font", nullptr},
        {"<< /R << /Type /Inner >> /Type /Outer >>", "Inner", nullptr},  // first occurrence anywhere
        {"<< /T (/Type /InString) >>", "InString", nullptr},
        {"<< /Types /X /Subtyped /Y >>", nullptr, nullptr},
        {"<< /Subtype /Image", nullptr, "Image"},
        {"<< /Type", nullptr, nullptr},              // value would start at end
        {"<< /Type   ", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        Bytes b(c.dict);
        cstr t = dict_name(dict_view{b.data(), 0, b.n}, "Type");
        cstr s = dict_name(dict_view{b.data(), 0, b.n}, "Subtype");
        if (c.type) {
            ASSERT_NE(t, nullptr) << c.dict;
            EXPECT_STREQ(t.get(), c.type) << c.dict;
        } else {
            EXPECT_EQ(t, nullptr) << c.dict;
        }
        if (c.subtype) {
            ASSERT_NE(s, nullptr) << c.dict;
            EXPECT_STREQ(s.get(), c.subtype) << c.dict;
        } else {
            EXPECT_EQ(s, nullptr) << c.dict;
        }
    }
    // The region end hides the keys of later objects.
    Bytes two("<< /A 1 >> endobj << /Type /Page >>");
    EXPECT_EQ(dict_name(dict_view{two.data(), 0, 10}, "Type"), nullptr);
    cstr later = dict_name(dict_view{two.data(), 0, two.n}, "Type");
    ASSERT_NE(later, nullptr);
    EXPECT_STREQ(later.get(), "Page");
    // The search begins at start.
    Bytes twice("/Type /A /Type /B");
    cstr second = dict_name(dict_view{twice.data(), 1, twice.n}, "Type");
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(second.get(), "B");
}
