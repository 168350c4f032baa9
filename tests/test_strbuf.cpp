// Output buffer growth and ownership, and the JSON string writer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/strbuf.h"

namespace {

std::string contents(const strbuf& b) { return b.data ? std::string(b.data, b.len) : std::string(); }

std::string json(const std::string& s) {
    strbuf b;
    json_str_append(&b, s.c_str());
    return contents(b);
}

}  // namespace

TEST(Strbuf, StartTakesTheFirstBlock) {
    strbuf b = strbuf_start();
    ASSERT_NE(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.cap, STRBUF_FIRST_BLOCK);
    EXPECT_EQ(b.data[0], 0);
}

TEST(Strbuf, ZeroLengthAppendToZeroedBufferAllocates) {
    strbuf b;
    EXPECT_EQ(b.data, nullptr);
    char* r = buf_bytes(&b, "", 0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r, b.data);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.cap, STRBUF_FIRST_BLOCK);
    EXPECT_EQ(b.data[0], 0);
    EXPECT_EQ(buf_bytes(&b, nullptr, 0), b.data);
}

TEST(Strbuf, GrowthDoublesAndKeepsTheTerminator) {
    struct Case {
        uint64_t first, second;  // two appends
        uint64_t cap;            // capacity afterwards
    } cases[] = {
        {256, 0, 512},                   // one more byte is needed for the zero
        {255, 0, 256},                   // fits exactly
        {255, 1, 512},
        {0x100000, 0x200000, 0x400000},
        {10, 0x500000, 0x800000},        // doubled repeatedly in one growth
    };
    for (const Case& c : cases) {
        std::string a(c.first, 'a'), z(c.second, 'z');
        strbuf b = strbuf_start();
        buf_bytes(&b, a.data(), a.size());
        buf_bytes(&b, z.data(), z.size());
        ASSERT_NE(b.data, nullptr);
        EXPECT_EQ(b.cap, c.cap) << c.first << "+" << c.second;
        EXPECT_EQ(b.len, c.first + c.second);
        EXPECT_EQ(b.data[b.len], 0);
        EXPECT_EQ(contents(b), a + z);
    }
}

TEST(Strbuf, FailureIsSticky) {
    // After a failed growth nothing more is stored, so no builder can publish
    // the tail of a text; reset() starts afresh.
    strbuf b = strbuf_start();
    buf_str(&b, "head");
    EXPECT_EQ(buf_bytes(&b, "x", UINT64_MAX), nullptr);  // the size overflows
    EXPECT_TRUE(b.failed);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(buf_str(&b, "tail"), nullptr);
    EXPECT_EQ(json_str_append(&b, "tail"), nullptr);
    EXPECT_EQ(buf_int(&b, 7), nullptr);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);
    strbuf moved(std::move(b));
    EXPECT_TRUE(moved.failed);
    EXPECT_EQ(buf_str(&moved, "tail"), nullptr);
    moved.reset();
    EXPECT_NE(buf_str(&moved, "fresh"), nullptr);
    EXPECT_EQ(contents(moved), "fresh");
}

TEST(Strbuf, BytesAreKeptAsGivenIncludingZeros) {
    strbuf b;
    const char raw[] = {'a', 0, '\xff', 'b'};
    buf_bytes(&b, raw, sizeof raw);
    buf_str(&b, "-");
    buf_int(&b, -2147483647LL - 1);
    buf_int(&b, 42);
    EXPECT_EQ(contents(b), std::string(raw, 4) + "--214748364842");
}

TEST(Strbuf, ReleaseHandsOverAndZeroes) {
    strbuf b = strbuf_start();
    buf_str(&b, "text");
    char* p = b.release();
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.cap, 0u);
    EXPECT_STREQ(p, "text");
    std::free(p);

    // A released or reset buffer starts afresh on the next append.
    buf_str(&b, "again");
    EXPECT_EQ(b.cap, STRBUF_FIRST_BLOCK);
    EXPECT_EQ(contents(b), "again");
    b.reset();
    EXPECT_EQ(b.data, nullptr);

    strbuf src = strbuf_start();
    buf_str(&src, "moved");
    strbuf dst(std::move(src));
    EXPECT_EQ(src.data, nullptr);
    EXPECT_EQ(contents(dst), "moved");
    strbuf other = strbuf_start();
    other = std::move(dst);
    EXPECT_EQ(dst.data, nullptr);
    EXPECT_EQ(contents(other), "moved");
}

TEST(Strbuf, CstrDupCopies) {
    const char* s = "abc";
    cstr c = cstr_dup(s);
    ASSERT_NE(c, nullptr);
    EXPECT_NE(c.get(), s);
    EXPECT_STREQ(c.get(), "abc");
    cstr e = cstr_dup("");
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e.get(), "");
}

TEST(Strbuf, JsonStrings) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"", "\"\""},
        {"x\"y\\z\n", "\"x\\\"y\\\\z\\n\""},
        {"\t\f\b\r", "\"\\t\\f\\b\\r\""},
        {"\x01\x0b\x1f\x1b", "\"\\u0001\\u000b\\u001f\\u001b\""},
        {"\x07\x0e", "\"\\u0007\\u000e\""},
        {"a/b\x7f", "\"a/b\x7f\""},
        {"caf\xc3\xa9", "\"caf\xc3\xa9\""},
        {"\x80\xff\xfe", "\"\x80\xff\xfe\""},     // invalid UTF-8 copied unchanged
        {"plain text", "\"plain text\""},
    };
    for (const Case& c : cases) EXPECT_EQ(json(c.in), c.out) << c.in;
}

TEST(Strbuf, JsonStringOfCountedBytesKeepsZeros) {
    strbuf b;
    json_str_append_n(&b, "a\0b\"", 4);
    EXPECT_EQ(contents(b), "\"a\\u0000b\\\"\"");
}

TEST(Strbuf, JsonStringAppendsAndReturnsStorage) {
    strbuf b = strbuf_start();
    buf_str(&b, "{\"title\":");
    char* r = json_str_append(&b, "T");
    EXPECT_EQ(r, b.data);
    buf_str(&b, "}");
    EXPECT_EQ(contents(b), "{\"title\":\"T\"}");

    // Long values with escapes spread through them cross a growth.
    std::string big;
    std::string want = "\"";
    for (int i = 0; i < 300000; ++i) {
        big += "ab\"\x01";
        want += "ab\\\"\\u0001";
    }
    want += "\"";
    EXPECT_EQ(json(big), want);
}
