// Flat JSON objects: the accepted grammar, escapes and pair order.
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
    parsed p{json_parse_flat(text.c_str(), &obj) ? 1 : 0, {}};
    for (const json_pair& kv : obj) p.got.emplace_back(kv.key, kv.value);
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

// Standard escapes, as any JSON encoder writes them (Python's json.dumps
// escapes every non-ASCII character by default).
TEST(JsonParseFlat, StandardEscapes) {
    struct escape_case {
        std::string value;  // the JSON text between the value's quotes
        int result;
        std::string want;
    };
    const escape_case cases[] = {
        {R"(\n\t\r\"\\\/\b\f)", 1, "\n\t\r\"\\/\b\f"},
        {R"(Jos\u00e9)", 1, "Jos\xc3\xa9"},
        {R"(\u00C9\u00e9)", 1, "\xc3\x89\xc3\xa9"},
        {R"(\u0041\u007f\u0080\u07ff\u0800\uffff)", 1, "A\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf"},
        {R"(\u65e5\u672c)", 1, "\xe6\x97\xa5\xe6\x9c\xac"},
        {R"(\ud83d\ude00!)", 1, "\xf0\x9f\x98\x80!"},     // a surrogate pair is one character
        {R"(\udbff\udfff)", 1, "\xf4\x8f\xbf\xbf"},
        {R"(\ud83d)", 0, ""},                               // high surrogate alone
        {R"(\ud83dx)", 0, ""},
        {R"(\ud83d\u0041)", 0, ""},                         // high surrogate, then no low one
        {R"(\ude00)", 0, ""},                               // low surrogate alone
        {R"(\u0000)", 0, ""},                               // NUL cannot be carried on
        {R"(\u12)", 0, ""},
        {R"(\u12g4)", 0, ""},
        {R"(\x41)", 0, ""},                                 // not a JSON escape
        {R"(\q)", 0, ""},
    };
    for (const auto& c : cases) {
        const std::string text = "{\"k\\u00e9\":\"" + c.value + "\"}";
        jsonobj obj;
        EXPECT_EQ(json_parse_flat(text.c_str(), &obj, json_escapes::standard) ? 1 : 0, c.result) << text;
        if (c.result) {
            ASSERT_EQ(obj.size(), 1u) << text;
            EXPECT_EQ(obj[0].key, "k\xc3\xa9") << text;
            EXPECT_EQ(obj[0].value, c.want) << text;
        }
    }
}

TEST(JsonParseFlat, RawBytesInsideQuotesAreKept) {
    std::string text = "{\"t\\u\":\"a\tb\nc\x01\xc3\xa9\xff\"}";
    parsed p = parse(text);
    ASSERT_EQ(p.result, 1);
    ASSERT_EQ(p.got.size(), 1u);
    EXPECT_EQ(p.got[0].first, "tu");
    EXPECT_EQ(p.got[0].second, "a\tb\nc\x01\xc3\xa9\xff");
}

TEST(JsonParseFlat, EveryPairInInputOrderAndEarlierContentsDiscarded) {
    jsonobj obj;
    ASSERT_TRUE(json_parse_flat("{\"old\":\"x\"}", &obj));
    std::string text = "{";
    for (int i = 0; i < 17; ++i) {
        if (i) text += ",";
        text += "\"k" + std::to_string(i % 5) + "\":\"v" + std::to_string(i) + "\"";
    }
    ASSERT_TRUE(json_parse_flat((text + "}").c_str(), &obj));
    ASSERT_EQ(obj.size(), 17u);
    for (int i = 0; i < 17; ++i) {
        EXPECT_EQ(obj[i].key, "k" + std::to_string(i % 5));
        EXPECT_EQ(obj[i].value, "v" + std::to_string(i));
    }
    EXPECT_FALSE(json_parse_flat("[]", &obj));
    EXPECT_TRUE(obj.empty());
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
