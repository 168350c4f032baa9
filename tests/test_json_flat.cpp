// Flat JSON objects: the accepted grammar, escapes, pair order and growth.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/json_flat.h"

namespace {

using pairs = std::vector<std::pair<std::string, std::string>>;

struct parsed {
    int result;
    pairs got;
};

parsed parse(const std::string& text) {
    jsonobj obj;
    jsonobj_guard guard{&obj};
    parsed p{json_parse_flat(text.c_str(), &obj), {}};
    EXPECT_LE(obj.count, obj.cap);
    for (int32_t i = 0; i < obj.count; ++i) {
        EXPECT_NE(obj.keys[i], nullptr);
        EXPECT_NE(obj.values[i], nullptr);
        p.got.emplace_back(obj.keys[i], obj.values[i]);
    }
    return p;
}

struct grammar_case {
    std::string text;
    int result;
    pairs want;
};

TEST(JsonParseFlat, Grammar) {
    const grammar_case cases[] = {
        {"{}", 1, {}},
        {"  {\n}\t", 1, {}},
        {" \r\n\t{ \r\n\t\"a\" \r\n\t: \r\n\t\"b\" \r\n\t, \"c\":\"d\" \r\n\t}", 1, {{"a", "b"}, {"c", "d"}}},
        {"", 0, {}},
        {"   ", 0, {}},
        {"[]", 0, {}},
        {"\"a\"", 0, {}},
        {"{\"a\":\"1\",\"a\":\"2\"}", 1, {{"a", "1"}, {"a", "2"}}},
        {"{\"a\":1}", 0, {}},
        {"{\"a\":null}", 0, {}},
        {"{\"a\":true}", 0, {}},
        {"{\"a\":{\"b\":\"c\"}}", 0, {}},
        {"{\"a\":[\"x\"]}", 0, {}},
        {"{\"a\":\"b\",}", 0, {{"a", "b"}}},
        {"{\"a\":\"b\"", 0, {{"a", "b"}}},
        {"{\"a\":\"b\" \"c\":\"d\"}", 0, {{"a", "b"}}},
        {"{\"a\":\"b\"}xyz", 1, {{"a", "b"}}},
        {"{\"a\":\"b\"}}}", 1, {{"a", "b"}}},
        {"{\"\":\"\"}", 1, {{"", ""}}},
        {"{\"a\":\"b\",\"c\":5}", 0, {{"a", "b"}}},
        {"{\"a\"\"b\"}", 0, {}},
        {"{\"a\":}", 0, {}},
        {"{a:\"b\"}", 0, {}},
        {"{'a':'b'}", 0, {}},
        {"{,}", 0, {}},
        {"{\"a\":\"b\",,\"c\":\"d\"}", 0, {{"a", "b"}}},
        // unterminated strings, also right after a backslash
        {"{\"a", 0, {}},
        {"{\"a\":\"b", 0, {}},
        {"{\"a\":\"b\\", 0, {}},
        {"{\"a\\", 0, {}},
        // form feed and vertical tab are not white space
        {"\f{}", 0, {}},
        {"{\v}", 0, {}},
        {"{\"a\":\f\"b\"}", 0, {}},
        {"{\"a\":\"b\"\v}", 0, {{"a", "b"}}},
    };
    for (const auto& c : cases) {
        parsed p = parse(c.text);
        EXPECT_EQ(p.result, c.result) << c.text;
        EXPECT_EQ(p.got, c.want) << c.text;
    }
}

TEST(JsonParseFlat, EscapesDifferBetweenKeysAndValues) {
    parsed p = parse(R"({"k\n\t\r\"\\\/\u00e9":"v\n\t\r\"\\\/\u00e9\b\f"})");
    ASSERT_EQ(p.result, 1);
    ASSERT_EQ(p.got.size(), 1u);
    EXPECT_EQ(p.got[0].first, "kntr\"\\/u00e9");
    EXPECT_EQ(p.got[0].second, "v\n\t\r\"\\/u00e9bf");
}

TEST(JsonParseFlat, RawBytesInsideQuotesAreKept) {
    std::string text = "{\"t\\u\":\"a\tb\nc\x01\xc3\xa9\xff\"}";
    parsed p = parse(text);
    ASSERT_EQ(p.result, 1);
    ASSERT_EQ(p.got.size(), 1u);
    EXPECT_EQ(p.got[0].first, "tu");
    EXPECT_EQ(p.got[0].second, "a\tb\nc\x01\xc3\xa9\xff");
}

TEST(JsonParseFlat, ArraysGrowFrom8To16To32) {
    std::string text = "{";
    jsonobj obj;
    jsonobj_guard guard{&obj};
    std::vector<int32_t> caps;
    for (int i = 0; i < 17; ++i) {
        if (i) text += ",";
        text += "\"k" + std::to_string(i) + "\":\"v" + std::to_string(i) + "\"";
        ASSERT_EQ(json_parse_flat((text + "}").c_str(), &obj), 1);
        EXPECT_EQ(obj.count, i + 1);
        caps.push_back(obj.cap);
        jsonobj_free(&obj);
    }
    EXPECT_EQ(caps[0], 8);
    EXPECT_EQ(caps[7], 8);
    EXPECT_EQ(caps[8], 16);
    EXPECT_EQ(caps[15], 16);
    EXPECT_EQ(caps[16], 32);

    ASSERT_EQ(json_parse_flat((text + "}").c_str(), &obj), 1);
    for (int i = 0; i < 17; ++i) {
        EXPECT_EQ(std::string(obj.keys[i]), "k" + std::to_string(i));
        EXPECT_EQ(std::string(obj.values[i]), "v" + std::to_string(i));
    }
}

TEST(JsonobjFree, EmptiesAndIsHarmlessTwice) {
    jsonobj obj;
    jsonobj_free(&obj);
    ASSERT_EQ(json_parse_flat("{\"a\":\"b\"}", &obj), 1);
    jsonobj_free(&obj);
    EXPECT_EQ(obj.keys, nullptr);
    EXPECT_EQ(obj.values, nullptr);
    EXPECT_EQ(obj.count, 0);
    EXPECT_EQ(obj.cap, 0);
    jsonobj_free(&obj);
}

TEST(JsonParseFlat, LongStringsAndManyPairs) {
    std::string big(1 << 20, 'x');
    std::string text = "{\"k\":\"" + big + "\\\"\"";
    for (int i = 0; i < 1000; ++i) text += ",\"p\":\"" + std::to_string(i) + "\"";
    text += "}";
    parsed p = parse(text);
    ASSERT_EQ(p.result, 1);
    ASSERT_EQ(p.got.size(), 1001u);
    EXPECT_EQ(p.got[0].second, big + "\"");
    EXPECT_EQ(p.got[1000].second, "999");
}

}  // namespace
