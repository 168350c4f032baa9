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
    int32_t n;
    explicit Bytes(const std::string& s) : p(new uint8_t[s.size() ? s.size() : 1]), n(static_cast<int32_t>(s.size())) {
        if (!s.empty()) std::memcpy(p.get(), s.data(), s.size());
    }
    const uint8_t* data() const { return p.get(); }
};

using Decoder = cstr (*)(const uint8_t*, int32_t, int32_t);

struct DecodeCase {
    std::string in;
    bool null;        // expect a null result
    std::string out;  // expected bytes, zero bytes included
};

// A non-empty result is the decoder's buffer, so the bytes after an embedded
// zero are still there to compare; the terminating zero is checked too.
void check_decode(Decoder f, const DecodeCase& c) {
    Bytes b(c.in);
    cstr r = f(b.data(), b.n, 0);
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
    for (const DecodeCase& c : cases) check_decode(parse_literal_string, c);
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
    for (const DecodeCase& c : cases) check_decode(parse_hex_string, c);
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
    for (const DecodeCase& c : cases) check_decode(decode_pdf_name, c);
}

TEST(Codecs, DecodersStopAtEndAndStartAtPos) {
    Bytes b("xx(abc)yy<4142>/Na#20me");
    cstr lit = parse_literal_string(b.data(), 5, 2);  // end inside the string
    EXPECT_STREQ(lit.get(), "ab");
    cstr hex = parse_hex_string(b.data(), 12, 9);
    EXPECT_STREQ(hex.get(), "A");
    cstr name = decode_pdf_name(b.data(), b.n, 16);
    EXPECT_STREQ(name.get(), "Na me");
    cstr cut = decode_pdf_name(b.data(), b.n - 3, 16);  // "#20" not wholly in range
    EXPECT_STREQ(cut.get(), "Na");
    EXPECT_EQ(parse_literal_string(b.data(), 2, 2), nullptr);   // pos == end
    EXPECT_EQ(parse_hex_string(b.data(), b.n, -1), nullptr);
    cstr none = decode_pdf_name(b.data(), 16, 16);
    ASSERT_NE(none, nullptr);
    EXPECT_STREQ(none.get(), "");
}

TEST(Codecs, ResultBlocksAreSmallForShortValues) {
    // A decoded value's block grows with the value, not a fixed large block.
    Bytes lit("(x)");
    cstr r = parse_literal_string(lit.data(), lit.n, 0);
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r.get(), "x");
    EXPECT_LT(malloc_usable_size(r.get()), 4096u);
    Bytes empty("()");
    cstr e = parse_literal_string(empty.data(), empty.n, 0);
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e.get(), "");
}

TEST(Codecs, LongLiteralGrowsItsBuffer) {
    std::string body(3u << 20, 'a');
    body[1000] = '\\';
    body[1001] = 'n';
    Bytes b("(" + body + ")");
    cstr r = parse_literal_string(b.data(), b.n, 0);
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
    cstr r = parse_literal_string(b.data(), b.n, 0);
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
        cstr t = dict_type_name(b.data(), b.n, 0);
        cstr s = dict_subtype_name(b.data(), b.n, 0);
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
    EXPECT_EQ(dict_type_name(two.data(), 10, 0), nullptr);
    cstr later = dict_type_name(two.data(), two.n, 0);
    ASSERT_NE(later, nullptr);
    EXPECT_STREQ(later.get(), "Page");
    // The search begins at start.
    Bytes twice("/Type /A /Type /B");
    cstr second = dict_type_name(twice.data(), twice.n, 1);
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(second.get(), "B");
}
