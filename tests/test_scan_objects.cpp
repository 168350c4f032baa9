// Object discovery by scanning: candidates, stream extents and the removal of
// false rows. Every input lives in an exactly sized heap block so that a read
// past the end shows up under AddressSanitizer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "load/doc.h"
#include "load/dict_closer.h"
#include "load/load_steps.h"
#include "syntax/lexer.h"
#include "support/doc_bytes.h"

namespace {

pdf_doc scanned(const std::string& s) {
    pdf_doc d = doc_of(s);
    scan_objects(&d);
    return d;
}

std::vector<int32_t> nums(const pdf_doc& d) {
    std::vector<int32_t> v;
    for (const obj_entry& e : d.objs) v.push_back(e.num);
    return v;
}

int32_t pos_of(const std::string& s, const std::string& what, size_t from = 0) {
    size_t p = s.find(what, from);
    return p == std::string::npos ? -1 : static_cast<int32_t>(p);
}

std::string stream_data(const pdf_doc& d, const obj_entry& e) {
    return std::string(reinterpret_cast<const char*>(d.data) + e.data_start, static_cast<size_t>(e.stream_len));
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

TEST(ScanObjects, PlainAndDictionaryObjects) {
    std::string s = "%PDF-1.4\n1 0 obj<</Type/Catalog>>endobj\n12 3 obj 42 endobj\n";
    pdf_doc d = scanned(s);
    ASSERT_EQ(d.objs.size(), 2u);
    const obj_entry& a = d.objs[0];
    EXPECT_EQ(a.num, 1);
    EXPECT_EQ(a.gen, 0);
    EXPECT_EQ(a.obj_pos, 9);
    EXPECT_EQ(a.dict_pos, pos_of(s, "<<"));
    EXPECT_EQ(a.stream_kw, -1);
    EXPECT_EQ(a.has_stream, 0);
    EXPECT_EQ(a.endobj_pos, pos_of(s, "endobj"));
    EXPECT_EQ(a.data_start, -1);
    EXPECT_EQ(a.data_end, -1);
    EXPECT_EQ(a.stream_len, -1);
    EXPECT_EQ(a.in_objstm, 0);
    const obj_entry& b = d.objs[1];
    EXPECT_EQ(b.num, 12);
    EXPECT_EQ(b.gen, 3);
    EXPECT_EQ(b.obj_pos, pos_of(s, "12 3"));
    EXPECT_EQ(b.dict_pos, -1);
    EXPECT_EQ(b.endobj_pos, pos_of(s, "endobj", 40));
}

TEST(ScanObjects, HeaderRules) {
    struct Case {
        const char* text;
        std::vector<int32_t> nums;
    };
    const Case cases[] = {
        {"1 0 obj 5 endobj", {1}},                    // object number at position 0
        {"x\n1 0 obj 5 endobj", {1}},                 // line break before the number
        {"x/7 0 obj 5 endobj", {7}},                  // a slash before the number is not a word character
        {"xa12 0 obj 5 endobj", {}},                  // a letter directly before the number
        {"x 12 0obj 5 endobj", {}},                   // "0obj" is not the keyword
        {"x 120 obj 5 endobj", {}},                   // a single number
        {"x 0 0 obj 5 endobj", {}},                   // object number 0
        {"x 3 0 objects endobj", {}},                 // not a whole word
        {"x 3 0 obj", {}},                            // no endobj after the value
        {"x 3 0 obj\n", {}},                          // nothing after the keyword but white space
        {"x 4\x0b\x0b""2\x0bobj 5 endobj", {4}},     // vertical tab counts as white space backwards
        {"x 2 65535 obj null endobj", {2}},
        {"x 4294967297 0 obj 5 endobj", {1}},         // 32-bit wrap-around of the number
        {"x 2147483648 0 obj 5 endobj", {}},          // wraps to a negative number
        {" 1 0 obj 5 endobj", {1}},
        {"1 0 obj", {}},
        {"obj endobj", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nums(scanned(c.text)), c.nums) << c.text;
    }
    // Generation numbers read with wrap-around, too.
    pdf_doc d = scanned("x 9 4294967298 obj 1 endobj");
    ASSERT_EQ(d.objs.size(), 1u);
    EXPECT_EQ(d.objs[0].gen, 2);
}

TEST(ScanObjects, NulIsNotWhiteSpaceBackwards) {
    // Backwards the numbers are separated by ASCII white space, which has
    // VT but not NUL; forwards NUL is PDF white space.
    std::string s("x 4\0" "2 obj 5 endobj", 16);
    EXPECT_TRUE(scanned(s).objs.empty());
    s = std::string("x 4 2 obj\0<< >> endobj", 23);
    pdf_doc d = scanned(s);
    ASSERT_EQ(d.objs.size(), 1u);
    EXPECT_EQ(d.objs[0].dict_pos, 10);
}

TEST(ScanObjects, HexStringObjectIsAPlainValue) {
    // A single "<" after obj is a hexadecimal string: no dictionary, and the
    // stream of the next object stays with that object.
    std::string s = "1 0 obj <48656C6C6F> endobj\n2 0 obj << /Length 3 >>\nstream\nabc\nendstream\nendobj\n";
    pdf_doc d = scanned(s);
    ASSERT_EQ(nums(d), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(d.objs[0].dict_pos, -1);
    EXPECT_EQ(d.objs[0].has_stream, 0);
    EXPECT_EQ(d.objs[0].stream_kw, -1);
    EXPECT_EQ(d.objs[0].endobj_pos, pos_of(s, "endobj"));
    EXPECT_EQ(d.objs[1].has_stream, 1);
    EXPECT_EQ(stream_data(d, d.objs[1]), "abc");
}

TEST(ScanObjects, StreamDataStart) {
    struct Case {
        std::string after_kw;  // bytes after "stream"
        int32_t offset;        // data_start relative to the end of "stream"
    };
    const Case cases[] = {
        {"\r\nabc\nendstream", 2}, {"\nabc\nendstream", 1},   {"\rabc\nendstream", 1},
        {"  \t\nabc\nendstream", 4}, {" \r\nabc\nendstream", 3}, {"\tabc\nendstream", 1},
        {"\r\rabc\nendstream", 1},
    };
    for (const Case& c : cases) {
        std::string s = "7 0 obj << /Length 3 >> stream" + c.after_kw + " endobj";
        pdf_doc d = scanned(s);
        ASSERT_EQ(d.objs.size(), 1u) << c.after_kw;
        EXPECT_EQ(d.objs[0].stream_kw, pos_of(s, "stream"));
        EXPECT_EQ(d.objs[0].data_start, pos_of(s, "stream") + 6 + c.offset) << c.after_kw;
    }
}

TEST(ScanObjects, DeclaredLengthIsUsedWhenEndstreamFollows) {
    std::string s = "7 0 obj << /Length 5 >> stream\r\nhello\nendstream endobj";
    pdf_doc d = scanned(s);
    ASSERT_EQ(d.objs.size(), 1u);
    const obj_entry& e = d.objs[0];
    EXPECT_EQ(e.data_start, pos_of(s, "hello"));
    EXPECT_EQ(e.data_end, e.data_start + 5);
    EXPECT_EQ(e.stream_len, 5);
    EXPECT_EQ(e.endobj_pos, pos_of(s, "endobj"));
    // A length that includes bytes which look like "endstream" is trusted.
    s = "7 0 obj << /Length 15 >> stream\nab\nendstream\ncd\nendstream endobj";
    d = scanned(s);
    ASSERT_EQ(d.objs.size(), 1u);
    EXPECT_EQ(stream_data(d, d.objs[0]), "ab\nendstream\ncd");
}

TEST(ScanObjects, LengthForms) {
    struct Case {
        std::string dict;
        std::string data;  // expected stream bytes
    };
    // The data is "hello" followed by "\r\n" before endstream; a wrong or
    // unusable length falls back to the endstream search, which drops the
    // end-of-line marker.
    const Case cases[] = {
        {"/Length 5", "hello"},
        {"/Length 99", "hello"},
        {"/Length 3", "hello"},
        {"/Length 7", "hello\r\n"},  // white space up to endstream is skipped after the length
        {"/Length -5", "hello"},
        {"/Length /Foo", "hello"},
        {"/Length [2 5]", "hello"},
        {"/Length [ -1 ]", "hello"},
        {"/Length [ ] /Length 5", "hello"},
        {"/Length -1 /Length 5", "hello"},
        {"/Length1 3 /Length 5", "hello"},
        {"/Filter /X", "hello"},  // no /Length at all: measured by the search
        {"/Length 2147483647", "hello"},
    };
    for (const Case& c : cases) {
        std::string s = "7 0 obj << " + c.dict + " >> stream\nhello\r\nendstream\nendobj\n";
        pdf_doc d = scanned(s);
        ASSERT_EQ(d.objs.size(), 1u) << c.dict;
        EXPECT_EQ(stream_data(d, d.objs[0]), c.data) << c.dict;
        EXPECT_EQ(d.objs[0].endobj_pos, pos_of(s, "endobj")) << c.dict;
    }
}

TEST(ScanObjects, IndirectLength) {
    // The data is "abc\n" and another line end before endstream: the length
    // 3 gives "abc", the endstream search gives "abc\n".
    struct Case {
        std::string length_obj;  // written before the stream
        std::string data;
    };
    const Case cases[] = {
        {"8 0 obj 3 endobj", "abc"},
        {"8 0 obj\n  3\nendobj", "abc"},
        {"8 0 obj -3 endobj", "abc\n"},
        {"8 0 obj (3) endobj", "abc\n"},
        {"8 0 obj << /Length 0 >> stream\nendstream endobj", "abc\n"},  // a stream cannot hold a length
        {"9 0 obj 3 endobj", "abc\n"},                                   // object 8 is missing
    };
    for (const Case& c : cases) {
        std::string s = c.length_obj + "\n7 0 obj << /Length 8 0 R >> stream\nabc\n\nendstream\nendobj\n";
        pdf_doc d = scanned(s);
        const obj_entry* st = nullptr;
        for (const obj_entry& e : d.objs)
            if (e.num == 7) st = &e;
        ASSERT_NE(st, nullptr) << c.length_obj;
        EXPECT_EQ(stream_data(d, *st), c.data) << c.length_obj;
    }
    // The first row of that number decides, even when a later one differs.
    std::string s = "8 0 obj 3 endobj 8 0 obj 9 endobj\n7 0 obj << /Length 8 0 R >> stream\nabc\n\nendstream\nendobj\n";
    pdf_doc d = scanned(s);
    ASSERT_EQ(d.objs.size(), 3u);
    EXPECT_EQ(stream_data(d, d.objs[2]), "abc");
    s = "8 0 obj 9 endobj 8 0 obj 3 endobj\n7 0 obj << /Length 8 0 R >> stream\nabc\n\nendstream\nendobj\n";
    d = scanned(s);
    ASSERT_EQ(d.objs.size(), 3u);
    EXPECT_EQ(stream_data(d, d.objs[2]), "abc\n");
    // A reference to an object written later in the file works as well, and
    // the generation number of the reference is not checked.
    s = "7 0 obj << /Length 8 5 R >> stream\nab\nendstream ab\nendstream\nendobj\n8 0 obj 15 endobj";
    d = scanned(s);
    ASSERT_EQ(d.objs.size(), 2u);
    EXPECT_EQ(stream_data(d, d.objs[0]), "ab\nendstream ab");
    // "8 0 RG" is no reference: 8 is the length itself.
    s = "7 0 obj << /Length 8 0 RG >> stream\nabcdefgh\nendstream\nendobj\n8 0 obj 2 endobj";
    d = scanned(s);
    EXPECT_EQ(stream_data(d, d.objs[0]), "abcdefgh");
}

TEST(ScanObjects, EndstreamSearchTrimsOneLineEnd) {
    struct Case {
        std::string body;
        std::string data;
    };
    const Case cases[] = {
        {"abc\r\nendstream", "abc"},   {"abc\nendstream", "abc"},     {"abc\rendstream", "abc"},
        {"abc\n\nendstream", "abc\n"}, {"abc endstream", "abc "},     {"abcendstream", "abcendstream x"},
        {"\nendstream", ""},
    };
    for (const Case& c : cases) {
        std::string tail = c.body == "abcendstream" ? " x\nendstream" : "";
        std::string s = "7 0 obj << >> stream\n" + c.body + tail + "\nendobj";
        pdf_doc d = scanned(s);
        ASSERT_EQ(d.objs.size(), 1u) << c.body;
        EXPECT_EQ(stream_data(d, d.objs[0]), c.data) << c.body;
    }
    // The search starts one byte after the data start: an empty stream is
    // only found through its declared length.
    EXPECT_TRUE(scanned("7 0 obj << >> stream\r\nendstream endobj").objs.empty());
    pdf_doc d = scanned("7 0 obj << /Length 0 >> stream\r\nendstream endobj");
    ASSERT_EQ(d.objs.size(), 1u);
    EXPECT_EQ(d.objs[0].data_end, d.objs[0].data_start);
    EXPECT_EQ(d.objs[0].stream_len, 0);
}

TEST(ScanObjects, RowsInsideStreamDataAreRemoved) {
    std::string inner = "3 0 obj << /Type /Page >> endobj\n4 0 obj 1 endobj";
    std::string s = "1 0 obj 1 endobj\n2 0 obj << /Length " + std::to_string(inner.size()) + " >>\nstream\n" + inner +
                    "\nendstream\nendobj\n5 0 obj 2 endobj\n";
    pdf_doc d = scanned(s);
    EXPECT_EQ(nums(d), (std::vector<int32_t>{1, 2, 5}));
}

TEST(ScanObjects, StreamWithoutEndRemovesEverythingAfterIt) {
    std::string s = "1 0 obj 1 endobj\n2 0 obj << /Length 4 >>\nstream\nabcd\n3 0 obj 3 endobj\n4 0 obj 4 endobj\n";
    pdf_doc d = scanned(s);
    EXPECT_EQ(nums(d), (std::vector<int32_t>{1}));
}

TEST(ScanObjects, StreamWithoutEndobjIsRemoved) {
    std::string s = "1 0 obj 1 endobj\n2 0 obj << /Length 4 >>\nstream\nabcd\nendstream\n";
    EXPECT_EQ(nums(scanned(s)), (std::vector<int32_t>{1}));
}

TEST(ScanObjects, RemovalKeepsTheOrderOfTheRest) {
    // A row hidden in stream data comes before two revisions of object 5.
    // Removing it must not move the newest revision ahead of the old one.
    std::string inner = "9 0 obj 1 endobj";
    std::string s = "2 0 obj << /Length " + std::to_string(inner.size()) + " >>\nstream\n" + inner +
                    "\nendstream\nendobj\n5 0 obj (old) endobj\n6 0 obj 6 endobj\n5 0 obj (new) endobj\n";
    pdf_doc d = scanned(s);
    ASSERT_EQ(nums(d), (std::vector<int32_t>{2, 5, 6, 5}));
    EXPECT_LT(d.objs[1].obj_pos, d.objs[3].obj_pos);
    // Removed broken streams keep the others in order as well.
    s = "1 0 obj 1 endobj\n"
        "4 0 obj << /Length 2 >> stream\nab\nendstream\nendobj\n"
        "9 0 obj << /Length 2 >> stream\nxx\nendstream\n"  // no endobj after it: removed
        "5 0 obj (a)\n";                                    // no endobj either: never a row
    EXPECT_EQ(nums(scanned(s)), (std::vector<int32_t>{1, 4}));
}

TEST(ScanObjects, StableRemovalPicksNewestRevisionOrder) {
    // Many rows, several removed in the middle: the survivors keep file order.
    std::string s;
    std::vector<int32_t> expect;
    for (int i = 1; i <= 40; ++i) {
        if (i % 7 == 0) {
            // A stream whose data hides an object header.
            std::string inner = std::to_string(100 + i) + " 0 obj 1 endobj";
            s += std::to_string(i) + " 0 obj << /Length " + std::to_string(inner.size()) + " >>\nstream\n" + inner +
                 "\nendstream\nendobj\n";
        } else {
            s += std::to_string(i) + " 0 obj " + std::to_string(i) + " endobj\n";
        }
        expect.push_back(i);
    }
    EXPECT_EQ(nums(scanned(s)), expect);
}

TEST(ScanObjects, DictionaryWithoutEndobjIsDiscarded) {
    EXPECT_TRUE(scanned("1 0 obj << /A 1 >>").objs.empty());
    EXPECT_TRUE(scanned("1 0 obj << /A 1").objs.empty());
    // An unclosed dictionary finds a later endobj.
    pdf_doc d = scanned("1 0 obj << /A 1 endobj");
    ASSERT_EQ(d.objs.size(), 1u);
    EXPECT_EQ(d.objs[0].stream_kw, -1);
}

TEST(ScanObjects, DictCloserMatchesTheDirectSearch) {
    // Random texts over the bytes that matter to the dictionary walk; every
    // "<<" queried in file order (as the scan does) and then again in a
    // scattered order must give the answer of find_dict_close.
    std::mt19937 rng(12345);
    const char alphabet[] = "<<>>()\\ a";
    for (int round = 0; round < 3000; ++round) {
        size_t n = 1 + rng() % 60;
        std::string s;
        for (size_t k = 0; k < n; ++k) s += alphabet[rng() % (sizeof alphabet - 1)];
        pdf_doc d = doc_of(s);
        std::vector<int32_t> starts;
        for (int32_t i = 0; i + 1 < d.len; ++i)
            if (s[i] == '<' && s[i + 1] == '<') starts.push_back(i);
        dict_closer c;
        c.attach(d.data, d.len);
        for (int32_t p : starts) {
            ASSERT_EQ(c.close(p), dict_close(d.data, p, d.len)) << s << " @" << p;
            ASSERT_EQ(c.stream_kw(p), stream_kw_after(d.data, p, d.len)) << s << " @" << p;
        }
        std::shuffle(starts.begin(), starts.end(), rng);
        for (int32_t p : starts) ASSERT_EQ(c.close(p), dict_close(d.data, p, d.len)) << s << " @" << p;
    }
}

TEST(ScanObjects, LinearOnHostileFiles) {
    // Each of these would take quadratic time with a fresh forward search per
    // candidate; they must scan in well under a second.
    struct Case {
        const char* name;
        std::string unit;
        bool closed = false;  // all dictionaries closed at the end of the file
    };
    const Case cases[] = {
        {"dictionaries nested to the end", "1 0 obj << /A\n", true},
        {"headers without endobj", "1 0 obj\n"},
        {"unclosed dictionaries", "1 0 obj <<\n"},
        {"nested dictionaries", "1 0 obj << /A\n"},
        {"unclosed strings in dictionaries", "1 0 obj << (\n"},
        {"streams without endstream", "1 0 obj <<>> stream\n"},
        {"length references", "1 0 obj << /Length 1 0 R >> stream\n"},
    };
    for (const Case& c : cases) {
        std::string s;
        s.reserve(4 << 20);
        size_t count = 0;
        for (; s.size() < (4u << 20); ++count) s += c.unit;
        if (c.closed)
            for (size_t k = 0; k < count; ++k) s += ">>";
        pdf_doc d = doc_of(s);
        auto t0 = std::chrono::steady_clock::now();
        scan_objects(&d);
        EXPECT_LT(seconds_since(t0), 2.0 * TIME_SCALE) << c.name;
    }
}

TEST(ScanObjects, ManyObjectsScanQuickly) {
    std::string s = "%PDF-1.4\n";
    for (int i = 1; i <= 100000; ++i)
        s += std::to_string(i) + " 0 obj\n<< /Type /Thing /Length 3 /N " + std::to_string(i) +
             " >>\nstream\nabc\nendstream\nendobj\n";
    pdf_doc d = doc_of(s);
    auto t0 = std::chrono::steady_clock::now();
    scan_objects(&d);
    double t = seconds_since(t0);
    EXPECT_EQ(d.objs.size(), 100000u);
    EXPECT_LT(t, 1.0 * TIME_SCALE);
}
