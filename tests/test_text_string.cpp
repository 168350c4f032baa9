// PDF text strings decoded to UTF-8, and UTF-8 values encoded for writing.
#include <gtest/gtest.h>

#include <string>

#include "syntax/text_string.h"

namespace {

std::string bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b) s += static_cast<char>(c);
    return s;
}

}  // namespace

TEST(TextString, DecodingTable) {
    struct Case {
        const char* what;
        std::string in, out;
    } cases[] = {
        {"ASCII", "Plain title", "Plain title"},
        {"empty", "", ""},
        {"UTF-16BE", bytes({0xFE, 0xFF, 0x00, 0xDC, 0x00, 'b', 0x65, 0xE5}), "\xC3\x9C" "b\xE6\x97\xA5"},
        {"UTF-16BE surrogate pair", bytes({0xFE, 0xFF, 0xD8, 0x3D, 0xDE, 0x00}), "\xF0\x9F\x98\x80"},
        {"UTF-16BE lone high surrogate", bytes({0xFE, 0xFF, 0xD8, 0x3D, 0x00, 'x'}), "\xEF\xBF\xBDx"},
        {"UTF-16BE lone low surrogate", bytes({0xFE, 0xFF, 0xDE, 0x00}), "\xEF\xBF\xBD"},
        {"UTF-16BE odd last byte", bytes({0xFE, 0xFF, 0x00, 'a', 0x00}), "a\xEF\xBF\xBD"},
        {"UTF-16BE zero is text", bytes({0xFE, 0xFF, 0x00, 'a', 0x00, 0x00, 0x00, 'b'}), std::string("a\0b", 3)},
        {"UTF-16BE language escape removed",
         bytes({0xFE, 0xFF, 0x00, 0x1B, 0x00, 'e', 0x00, 'n', 0x00, 0x1B, 0x00, 'H', 0x00, 'i'}), "Hi"},
        {"UTF-16LE", bytes({0xFF, 0xFE, 'J', 0x00, 0xE9, 0x00}), "J\xC3\xA9"},
        {"UTF-8 with mark", bytes({0xEF, 0xBB, 0xBF, 'J', 0xC3, 0xA9}), "J\xC3\xA9"},
        {"UTF-8 with mark, invalid byte", bytes({0xEF, 0xBB, 0xBF, 'a', 0xFF}), "a\xEF\xBF\xBD"},
        {"UTF-8 with mark, language escape", bytes({0xEF, 0xBB, 0xBF, 0x1B, 'd', 'e', 0x1B, 'x'}), "x"},
        {"UTF-8 without mark", "Jos\xC3\xA9", "Jos\xC3\xA9"},
        {"PDFDoc Latin-1 range", "Jos\xE9", "Jos\xC3\xA9"},
        {"PDFDoc accents 0x18-0x1F", bytes({0x18, 0x1F}), "\xCB\x98\xCB\x9C"},
        {"PDFDoc 0x80 bullet, 0x84 em dash, 0x92 trade mark",
         bytes({0x80, 0x84, 0x92}), "\xE2\x80\xA2\xE2\x80\x94\xE2\x84\xA2"},
        {"PDFDoc 0xA0 euro", bytes({0xA0}), "\xE2\x82\xAC"},
        {"PDFDoc undefined codes", bytes({0x7F, 0x9F, 0xAD}), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"PDFDoc zero byte kept", std::string("a\0b", 3), std::string("a\0b", 3)},
        {"overlong UTF-8 is PDFDoc", bytes({0xC0, 0xAF}), "\xC3\x80\xC2\xAF"},
    };
    for (const Case& c : cases) {
        std::string got = text_string_to_utf8(c.in);
        EXPECT_EQ(got, c.out) << c.what;
        EXPECT_TRUE(utf8_valid(got)) << c.what;
    }
}

TEST(TextString, Utf8Validation) {
    struct Case {
        std::string in;
        bool valid;
    } cases[] = {
        {"", true},
        {"abc", true},
        {"\xC3\xA9", true},
        {"\xF4\x8F\xBF\xBF", true},   // U+10FFFF
        {"\xF4\x90\x80\x80", false},  // above U+10FFFF
        {"\xED\xA0\x80", false},      // a surrogate
        {"\xE0\x80\xAF", false},      // overlong
        {"\xC3", false},              // cut short
        {"\x80", false},              // continuation alone
        {"\xFF", false},
    };
    for (const Case& c : cases) EXPECT_EQ(utf8_valid(c.in), c.valid) << c.in;
    EXPECT_EQ(utf8_sanitize("a\xFF" "b\xC3"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    EXPECT_EQ(utf8_sanitize("\xC3\xA9"), "\xC3\xA9");
}

TEST(TextString, EncodingForWritersRoundTrips) {
    std::string out;
    ASSERT_TRUE(utf8_to_text_string("Plain (title)", &out));
    EXPECT_EQ(out, "Plain (title)");
    ASSERT_TRUE(utf8_to_text_string("", &out));
    EXPECT_EQ(out, "");
    ASSERT_TRUE(utf8_to_text_string("tab\there", &out));  // a control is not printable ASCII
    EXPECT_EQ(out.substr(0, 2), "\xFE\xFF");
    const std::string texts[] = {"\xC3\x9C" "ber Stra\xC3\x9F" "e \xE2\x80\x94 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
                                 "\xF0\x9F\x98\x80 smile", std::string("nul\0inside", 10)};
    for (const std::string& t : texts) {
        ASSERT_TRUE(utf8_to_text_string(t, &out)) << t;
        EXPECT_EQ(out.substr(0, 2), "\xFE\xFF") << t;
        EXPECT_EQ(text_string_to_utf8(out), t);
    }
    ASSERT_TRUE(utf8_to_text_string("\xF0\x9F\x98\x80", &out));
    EXPECT_EQ(out, bytes({0xFE, 0xFF, 0xD8, 0x3D, 0xDE, 0x00}));
    out = "untouched";
    EXPECT_FALSE(utf8_to_text_string("bad \xFF", &out));
    EXPECT_EQ(out, "untouched");
}
