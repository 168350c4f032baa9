// vellix_bookmarks end to end: the outline tree with titles, destination
// pages and children, over broken, cyclic and very deep outlines; with
// VELLIX_RESOLVE destinations reached through actions, names and trees.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "support/pdf_builder.h"
#include "vellix.h"

namespace {

using objects = std::vector<std::pair<int, std::string>>;

// Catalog 1 (with catalog_extra), page tree 2, pages 3 .. 2 + pages, then
// the given objects. By default the catalog names outline root 99.
std::string outline_doc(int pages, const objects& items, const std::string& catalog_extra = "/Outlines 99 0 R") {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R " + catalog_extra + " >>");
    std::string kids;
    for (int i = 0; i < pages; ++i) kids += std::to_string(3 + i) + " 0 R ";
    b.obj(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    for (int i = 0; i < pages; ++i) b.obj(3 + i, "<< /Type /Page /Parent 2 0 R >>");
    for (const auto& [num, body] : items) b.obj(num, body);
    b.xref_trailer("/Size 200000 /Root 1 0 R");
    return b.bytes();
}

std::string bookmarks_of(const std::string& bytes) {
    TempDir dir;
    std::string path = dir.file("in.pdf");
    write_file(path, bytes);
    const char* r = vellix_bookmarks(path.c_str());
    return r ? std::string(r) : "NULL: " + std::string(vellix_last_error());
}

// A document whose outline is the single item 100 with the given body.
std::string one_item(const std::string& item_body, const objects& more = {}, int pages = 3) {
    objects items = {{99, "<< /Type /Outlines /First 100 0 R /Last 100 0 R /Count 1 >>"}, {100, item_body}};
    items.insert(items.end(), more.begin(), more.end());
    return outline_doc(pages, items);
}

TEST(Bookmarks, NestedOutlineWithPages) {
    std::string pdf = outline_doc(
        7, {{99, "<< /Type /Outlines /First 100 0 R /Last 102 0 R /Count 3 >>"},
            {100, "<< /Title (Introduction) /Parent 99 0 R /Next 101 0 R /Dest [3 0 R /XYZ 0 792 0] >>"},
            {101, "<< /Title (Chapter 1) /Parent 99 0 R /Prev 100 0 R /Next 102 0 R /First 103 0 R /Last 104 0 R "
                  "/Count 2 /Dest [5 0 R /Fit] >>"},
            {102, "<< /Title (Index) /Parent 99 0 R /Prev 101 0 R /Dest /IndexDest >>"},
            {103, "<< /Title (Section 1.1) /Parent 101 0 R /Next 104 0 R /Dest [6 0 R /Fit] >>"},
            {104, "<< /Title (Section 1.2) /Parent 101 0 R /Prev 103 0 R /Dest [9 0 R /FitH 700] >>"}});
    EXPECT_EQ(bookmarks_of(pdf),
              "[{\"title\":\"Introduction\",\"page\":1},{\"title\":\"Chapter 1\",\"page\":3,\"children\":"
              "[{\"title\":\"Section 1.1\",\"page\":4},{\"title\":\"Section 1.2\",\"page\":7}]},"
              "{\"title\":\"Index\",\"page\":0}]");
    EXPECT_STREQ(vellix_last_error(), "");
}

TEST(Bookmarks, DestinationToPage) {
    struct row {
        std::string dest;  // text after /Dest
        int page;
    };
    // Pages are objects 3, 4, 5.
    const row cases[] = {
        {"[5 0 R /XYZ 0 792 0]", 3},
        {"[50 0 R /Fit]", 50},  // no page has that number: the number itself
        {"[2 /Fit]", 2},        // a page index, as in remote destinations
        {"[ 4 0 R ]", 2},
        {"\r\n[4 0 R /Fit]", 2},
        {"[0 /Fit]", 0},
        {"[-3 /Fit]", 0},
        {"[/XYZ 4 0 R]", 0},
        {"[4", 2},
        {"/Chap1", 0},
        {"(Chap1)", 0},
        {"<< /D [4 0 R] >>", 0},
        // By reference: an array object in the file body, a dictionary, nothing.
        {"60 0 R", 2},
        {"61 0 R", 0},
        {"62 0 R", 0},
        {"63 0 R", 50},
    };
    objects dests = {{60, "[4 0 R /Fit]"}, {61, "<< /D [4 0 R /Fit] >>"}, {63, "  [ 50 /XYZ null null 0 ]"}};
    for (const row& c : cases) {
        SCOPED_TRACE(c.dest);
        EXPECT_EQ(bookmarks_of(one_item("<< /Title (T) /Dest " + c.dest + " >>", dests)),
                  "[{\"title\":\"T\",\"page\":" + std::to_string(c.page) + "}]");
    }
    // Only an action: not examined.
    EXPECT_EQ(bookmarks_of(one_item("<< /Title (T) /A << /S /GoTo /D [4 0 R /Fit] >> >>")),
              "[{\"title\":\"T\",\"page\":0}]");
}

TEST(Bookmarks, IndirectDestinationInAnObjectStream) {
    PdfBuilder b("1.5");
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 99 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    b.obj(4, "<< /Type /Page /Parent 2 0 R >>");
    b.object_stream(20, {{99, "<< /Type /Outlines /First 100 0 R >>"},
                         {100, "<< /Title (A) /Dest 60 0 R /Next 101 0 R >>"},
                         {101, "<< /Title (B) /Dest 61 0 R >>"},
                         {60, " [4 0 R /Fit]"},
                         {61, "<< /D [4 0 R /Fit] >>"}});
    b.xref_trailer("/Size 200 /Root 1 0 R");
    EXPECT_EQ(bookmarks_of(b.bytes()), "[{\"title\":\"A\",\"page\":2},{\"title\":\"B\",\"page\":0}]");
}

TEST(Bookmarks, UnresolvedPageTreeGivesTheFirstInteger) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 99 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R 98 0 R] /Count 2 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    b.obj(99, "<< /First 100 0 R >>");
    b.obj(100, "<< /Title (T) /Dest [3 0 R /Fit] >>");
    b.xref_trailer("/Size 101 /Root 1 0 R");
    EXPECT_EQ(bookmarks_of(b.bytes()), "[{\"title\":\"T\",\"page\":3}]");
}

TEST(Bookmarks, Titles) {
    struct row {
        std::string title;  // text after /Title
        std::string json;
    };
    const row cases[] = {
        {"(Hello \\(x\\) \\101)", "Hello (x) A"},
        {"<48656C6C6F>", "Hello"},
        {"<FEFF00410042>", "\xFE\xFF"},  // UTF-16: cut at the first zero byte
        {"(Tab\there \"q\" back\\\\slash)", "Tab\\there \\\"q\\\" back\\\\slash"},
        {"(\xC3\xA9t\xC3\xA9)", "\xC3\xA9t\xC3\xA9"},
        {"7 0 R", ""},
        {"/Name", ""},
        {"<< /X 1 >>", ""},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.title);
        EXPECT_EQ(bookmarks_of(one_item("<< /Title " + c.title + " /Dest [3 0 R] >>")),
                  "[{\"title\":\"" + c.json + "\",\"page\":1}]");
    }
    EXPECT_EQ(bookmarks_of(one_item("<< /Dest [3 0 R] >>")), "[{\"title\":\"\",\"page\":1}]");
}

TEST(Bookmarks, MissingOutlineGivesEmptyArray) {
    EXPECT_EQ(bookmarks_of(outline_doc(1, {}, "")), "[]");
    EXPECT_EQ(bookmarks_of(outline_doc(1, {}, "/Outlines << /First 100 0 R >>")), "[]");
    EXPECT_EQ(bookmarks_of(outline_doc(1, {{100, "<< /Title (A) >>"}})), "[]");  // root 99 missing
    EXPECT_EQ(bookmarks_of(outline_doc(1, {{99, "<< /Type /Outlines /Count 0 >>"}})), "[]");
    EXPECT_EQ(bookmarks_of(outline_doc(1, {{99, "<< /First 100 0 R >>"}})), "[]");  // first item missing
    EXPECT_EQ(bookmarks_of(outline_doc(1, {{99, "<< /First 100 0 R >>"}, {100, "42"}})), "[]");
}

TEST(Bookmarks, BrokenAndCyclicStructure) {
    struct row {
        const char* what;
        objects items;
        std::string json;
    };
    const std::string root = "<< /Type /Outlines /First 100 0 R >>";
    const row cases[] = {
        {"dangling /First", {{99, root}, {100, "<< /Title (A) /First 150 0 R >>"}},
         R"([{"title":"A","page":0,"children":[]}])"},
        {"dangling /Next ends the chain", {{99, root}, {100, "<< /Title (A) /Next 150 0 R >>"}},
         R"([{"title":"A","page":0}])"},
        {"/Next loops back to an earlier sibling",
         {{99, root}, {100, "<< /Title (A) /Next 101 0 R >>"}, {101, "<< /Title (B) /Next 102 0 R >>"},
          {102, "<< /Title (C) /Next 100 0 R >>"}},
         R"([{"title":"A","page":0},{"title":"B","page":0},{"title":"C","page":0}])"},
        {"item reachable from two parents",
         {{99, root}, {100, "<< /Title (P1) /First 110 0 R /Next 101 0 R >>"},
          {101, "<< /Title (P2) /First 110 0 R >>"}, {110, "<< /Title (X) >>"}},
         R"([{"title":"P1","page":0,"children":[{"title":"X","page":0}]},{"title":"P2","page":0,"children":[]}])"},
        {"child that is its own parent",
         {{99, root}, {100, "<< /Title (A) /First 100 0 R >>"}}, R"([{"title":"A","page":0,"children":[]}])"},
        // B's /Next runs back into A, still being written: the children loop
        // goes on past A to A's own next sibling C, which lands among A's
        // children; A's chain then stops at C, already written.
        {"child chain running into its ancestor",
         {{99, root}, {100, "<< /Title (A) /First 101 0 R /Next 102 0 R >>"}, {101, "<< /Title (B) /Next 100 0 R >>"},
          {102, "<< /Title (C) >>"}},
         R"([{"title":"A","page":0,"children":[{"title":"B","page":0},{"title":"C","page":0}]}])"},
        {"child without dictionary",
         {{99, root}, {100, "<< /Title (A) /First 101 0 R /Next 102 0 R >>"}, {101, "(not an item)"},
          {102, "<< /Title (C) >>"}},
         R"([{"title":"A","page":0,"children":[]},{"title":"C","page":0}])"},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(bookmarks_of(outline_doc(1, c.items)), c.json);
    }
}

TEST(Bookmarks, LongSiblingChainIsWrittenWhole) {
    // More children than the loop budget: the chain itself has no bound.
    const int n = 5000;
    objects items = {{99, "<< /First 100 0 R >>"}, {100, "<< /Title (P) /First 1000 0 R >>"}};
    std::string expected = R"([{"title":"P","page":0,"children":[)";
    for (int i = 0; i < n; ++i) {
        std::string next = i + 1 < n ? " /Next " + std::to_string(1001 + i) + " 0 R" : " /Next 1000 0 R";
        items.push_back({1000 + i, "<< /Title (c" + std::to_string(i) + ")" + next + " >>"});
        expected += (i ? "," : "") + std::string(R"({"title":"c)") + std::to_string(i) + R"(","page":0})";
    }
    expected += "]}]";
    EXPECT_EQ(bookmarks_of(outline_doc(1, items)), expected);
}

// A chain of nested /First items, each optionally its own /Next (a loop that
// writes nothing more), and the text expected for it.
std::pair<std::string, std::string> nested_outline(int depth, bool self_next) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 99 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    b.obj(99, "<< /First 100 0 R >>");
    std::string expected = "[";
    for (int i = 0; i < depth; ++i) {
        int num = 100 + i;
        std::string body = "<< /Title (" + std::to_string(i) + ") /Dest [3 0 R]";
        if (i + 1 < depth) body += " /First " + std::to_string(num + 1) + " 0 R";
        if (self_next) body += " /Next " + std::to_string(num) + " 0 R";
        b.obj(num, body + " >>");
        expected += R"({"title":")" + std::to_string(i) + R"(","page":1)";
        expected += i + 1 < depth ? R"(,"children":[)" : "}";
    }
    for (int i = 1; i < depth; ++i) expected += "]}";
    expected += "]";
    b.xref_trailer("/Size " + std::to_string(100 + depth) + " /Root 1 0 R");
    return {b.bytes(), expected};
}

long long timed_ms(const std::string& path, std::string& out) {
    auto t0 = std::chrono::steady_clock::now();
    const char* r = vellix_bookmarks(path.c_str());
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    out = r ? r : "NULL: " + std::string(vellix_last_error());
    return ms;
}

// Under AddressSanitizer every allocation costs far more, so the sanitizer
// build runs shallower outlines and checks no time (a recursive walk would
// still exhaust the stack at that depth).
#if defined(__SANITIZE_ADDRESS__)
constexpr bool SANITIZED = true;
constexpr int DEEP = 20000;
#else
constexpr bool SANITIZED = false;
constexpr int DEEP = 100000;
#endif
constexpr long long TIME_BOUND_MS = 1000;
// The standard reading does more per item; its bound still catches any cost
// that grows faster than the outline (which would take minutes here).
constexpr long long RESOLVED_TIME_BOUND_MS = 3000;

TEST(Bookmarks, DeeplyNestedItemsGiveValidJson) {
    auto [pdf, expected] = nested_outline(DEEP, false);
    TempDir dir;
    std::string path = dir.file("deep.pdf");
    write_file(path, pdf);
    std::string out;
    long long ms = timed_ms(path, out);
    EXPECT_TRUE(out == expected) << out.substr(0, 200);
    if (!SANITIZED) {
        EXPECT_LT(ms, TIME_BOUND_MS);
    }
    std::printf("vellix_bookmarks, %d nested items: %lld ms\n", DEEP, ms);
}

TEST(Bookmarks, DeepOutlineWhoseEveryChainLoopsEndsQuickly) {
    // Every item is its own /Next: each children loop comes back to a child
    // already written and can write nothing more.
    auto [pdf, expected] = nested_outline(DEEP / 2, true);
    TempDir dir;
    std::string path = dir.file("loops.pdf");
    write_file(path, pdf);
    std::string out;
    long long ms = timed_ms(path, out);
    EXPECT_TRUE(out == expected) << out.substr(0, 200);
    if (!SANITIZED) {
        EXPECT_LT(ms, TIME_BOUND_MS);
    }
}

// Sets this thread's options for one scope.
struct with_options {
    explicit with_options(unsigned o) : prev(vellix_set_options(o)) {}
    ~with_options() { vellix_set_options(prev); }
    unsigned prev;
};

constexpr unsigned RESOLVE = VELLIX_RESOLVE;
constexpr unsigned BOTH = VELLIX_UNICODE | VELLIX_RESOLVE;

// Pages are objects 3, 4, 5. Named destinations: the catalog's /Dests
// dictionary 70 and the /Names /Dests tree 80 with two kids.
const std::string NAMED = "/Outlines 99 0 R /Dests 70 0 R /Names << /Dests 80 0 R >>";
const objects NAMED_OBJECTS = {
    {60, "[4 0 R /Fit]"},
    {61, "<< /D [4 0 R /Fit] >>"},
    {62, "63 0 R"},
    {63, "[5 0 R /XYZ null null 0]"},
    {70, "<< /Chap1 [5 0 R /Fit] /ViaDict << /D [3 0 R] >> /Indirect 60 0 R /Both [3 0 R] /Loop /Loop "
         "/Ping (Pong) /Remote [1 /Fit] >>"},
    {80, "<< /Kids [81 0 R 82 0 R] >>"},
    {81, "<< /Limits [(Both) (kid)] /Names [(Both) [5 0 R] (alpha) [4 0 R] (kid) 83 0 R] >>"},
    {82, "<< /Limits [(pong) (tree1)] /Names [(Pong) [5 0 R] <74726565> [5 0 R /Fit]] >>"},
    {83, "<< /D [3 0 R /Fit] >>"},
};

TEST(BookmarksResolved, Destinations) {
    struct row {
        std::string entries;  // the item's destination entries
        int page;
    };
    const row cases[] = {
        {"/Dest [5 0 R /XYZ 0 792 0]", 3},
        {"/Dest 60 0 R", 2},                 // an array object
        {"/Dest 61 0 R", 2},                 // a dictionary object with /D
        {"/Dest 62 0 R", 3},                 // a reference to a reference
        {"/Dest << /D [4 0 R] >>", 2},
        {"/Dest << /D 60 0 R >>", 2},
        {"/Dest [50 0 R /Fit]", 0},          // no page
        {"/Dest [2 /Fit]", 0},               // a page number of another file
        {"/Dest [/XYZ 4 0 R]", 0},
        {"/Dest []", 0},
        // Names and strings, through the dictionary first, then the tree.
        {"/Dest /Chap1", 3},
        {"/Dest (Chap1)", 3},
        {"/Dest /ViaDict", 1},
        {"/Dest /Indirect", 2},
        {"/Dest /Both", 1},
        {"/Dest (alpha)", 2},
        {"/Dest /alpha", 2},
        {"/Dest (kid)", 1},                  // a destination dictionary by reference
        {"/Dest <74726565>", 3},             // hexadecimal key "tree"
        {"/Dest /Ping", 3},                  // a name naming a string naming a tree entry
        {"/Dest /Remote", 0},
        {"/Dest /Missing", 0},
        {"/Dest /Loop", 0},                  // a name naming itself
        // Actions.
        {"/A << /S /GoTo /D [4 0 R /Fit] >>", 2},
        {"/A << /S /GoTo /D (kid) >>", 1},
        {"/A << /S /GoTo /D /Chap1 >>", 3},
        {"/A 90 0 R", 3},
        {"/A << /S /GoToR /F (other.pdf) /D [0 /Fit] >>", 0},
        {"/A << /S /URI /URI (https://example.org/) >>", 0},
        {"/Dest [3 0 R] /A << /S /GoTo /D [5 0 R] >>", 1},  // /Dest wins
        {"", 0},
    };
    objects more = {{90, "<< /Type /Action /S /GoTo /D 63 0 R >>"}};
    with_options o(RESOLVE);
    for (const row& c : cases) {
        SCOPED_TRACE(c.entries);
        objects items = {{99, "<< /Type /Outlines /First 100 0 R >>"}, {100, "<< /Title (T) " + c.entries + " >>"},
                         {90, more[0].second}};
        items.insert(items.end(), NAMED_OBJECTS.begin(), NAMED_OBJECTS.end());
        EXPECT_EQ(bookmarks_of(outline_doc(3, items, NAMED)),
                  "[{\"title\":\"T\",\"page\":" + std::to_string(c.page) + "}]");
    }
}

TEST(BookmarksResolved, NamesWithoutTheirTables) {
    with_options o(RESOLVE);
    // No /Dests and no /Names: every name gives 0; a dictionary /Dests with
    // an inline tree; a /Names tree whose kids loop.
    EXPECT_EQ(bookmarks_of(one_item("<< /Title (T) /Dest /Chap1 >>")), R"([{"title":"T","page":0}])");
    objects items = {{99, "<< /First 100 0 R >>"}, {100, "<< /Title (T) /Dest (b) >>"},
                     {80, "<< /Kids [81 0 R 80 0 R] >>"}, {81, "<< /Kids [80 0 R 81 0 R] /Names [(b) [4 0 R]] >>"}};
    EXPECT_EQ(bookmarks_of(outline_doc(3, items, "/Outlines 99 0 R /Names << /Dests 80 0 R >>")),
              R"([{"title":"T","page":2}])");
    items = {{99, "<< /First 100 0 R >>"}, {100, "<< /Title (T) /Dest (c) >>"}};
    EXPECT_EQ(bookmarks_of(outline_doc(3, items, "/Outlines 99 0 R /Names << /Dests << /Names [(c) [5 0 R]] >> >>")),
              R"([{"title":"T","page":3}])");
}

TEST(BookmarksResolved, Titles) {
    struct row {
        std::string title;   // text after /Title
        unsigned options;
        std::string json;
    };
    const row cases[] = {
        {"7 0 R", RESOLVE, "By ref"},
        {"8 0 R", BOTH, "\xC3\x9C" "ber"},
        {"<FEFF00DC0062006500720020D83DDE00>", BOTH, "\xC3\x9C" "ber \xF0\x9F\x98\x80"},
        {"<FEFF00DC0062006500720020D83DDE00>", RESOLVE, "\xFE\xFF"},       // bytes: cut at the zero byte
        {"<FEFF00DC0062006500720020D83DDE00>", VELLIX_UNICODE, "\xC3\x9C" "ber \xF0\x9F\x98\x80"},
        {"(Jos\\351)", BOTH, "Jos\xC3\xA9"},
        {"(Jos\\351)", VELLIX_UNICODE, "Jos\xC3\xA9"},
        {"(a\\000b)", BOTH, "a\\u0000b"},
        {"<FFFE41004200>", BOTH, "AB"},
        {"(\xC3\xA9t\xC3\xA9)", BOTH, "\xC3\xA9t\xC3\xA9"},
        {"/Name", BOTH, ""},
        {"9 0 R", BOTH, ""},                 // a reference to no string
    };
    objects strings = {{7, "(By ref)"}, {8, "<FEFF00DC00620065 0072>"}, {9, "<< /X 1 >>"}};
    for (const row& c : cases) {
        SCOPED_TRACE(c.title + " options " + std::to_string(c.options));
        with_options o(c.options);
        EXPECT_EQ(bookmarks_of(one_item("<< /Title " + c.title + " /Dest [3 0 R] >>", strings)),
                  "[{\"title\":\"" + c.json + "\",\"page\":1}]");
    }
}

TEST(BookmarksResolved, Structure) {
    struct row {
        const char* what;
        std::string catalog;
        objects items;
        std::string json;
    };
    const std::string root = "<< /Type /Outlines /First 100 0 R >>";
    const std::string by_ref = "/Outlines 99 0 R";
    const row cases[] = {
        {"nested, outline root inline in the catalog",
         "/Outlines << /First 100 0 R >>",
         {{100, "<< /Title (A) /First 101 0 R /Next 102 0 R >>"}, {101, "<< /Title (A1) /Dest [4 0 R] >>"},
          {102, "<< /Title (B) /Dest [5 0 R] >>"}},
         R"([{"title":"A","page":0,"children":[{"title":"A1","page":2}]},{"title":"B","page":3}])"},
        {"/Next loops back to an earlier sibling", by_ref,
         {{99, root}, {100, "<< /Title (A) /Next 101 0 R >>"}, {101, "<< /Title (B) /Next 100 0 R >>"}},
         R"([{"title":"A","page":0},{"title":"B","page":0}])"},
        {"item reachable from two parents", by_ref,
         {{99, root}, {100, "<< /Title (P1) /First 110 0 R /Next 101 0 R >>"},
          {101, "<< /Title (P2) /First 110 0 R >>"}, {110, "<< /Title (X) >>"}},
         R"([{"title":"P1","page":0,"children":[{"title":"X","page":0}]},{"title":"P2","page":0,"children":[]}])"},
        // The chain of B runs back into its parent A: it ends there, and A's
        // own sibling C stays at the top level.
        {"child chain running into its ancestor", by_ref,
         {{99, root}, {100, "<< /Title (A) /First 101 0 R /Next 102 0 R >>"}, {101, "<< /Title (B) /Next 100 0 R >>"},
          {102, "<< /Title (C) >>"}},
         R"([{"title":"A","page":0,"children":[{"title":"B","page":0}]},{"title":"C","page":0}])"},
        {"an item naming the outline root as its child", by_ref,
         {{99, root}, {100, "<< /Title (A) /First 99 0 R >>"}}, R"([{"title":"A","page":0,"children":[]}])"},
        {"child without dictionary", by_ref,
         {{99, root}, {100, "<< /Title (A) /First 101 0 R /Next 102 0 R >>"}, {101, "(not an item)"},
          {102, "<< /Title (C) >>"}},
         R"([{"title":"A","page":0,"children":[]},{"title":"C","page":0}])"},
        {"no /Outlines", "", {}, "[]"},
        {"outline root that is no dictionary", by_ref, {{99, "[100 0 R]"}}, "[]"},
    };
    with_options o(BOTH);
    for (const row& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(bookmarks_of(outline_doc(3, c.items, c.catalog)), c.json);
    }
}

TEST(BookmarksResolved, DeepOutlinesGiveValidJsonQuickly) {
    with_options o(BOTH);
    for (bool self_next : {false, true}) {
        auto [pdf, expected] = nested_outline(DEEP, self_next);
        TempDir dir;
        std::string path = dir.file("deep.pdf");
        write_file(path, pdf);
        std::string out;
        long long ms = timed_ms(path, out);
        EXPECT_TRUE(out == expected) << out.substr(0, 200);
        if (!SANITIZED) {
            EXPECT_LT(ms, RESOLVED_TIME_BOUND_MS);
        }
    }
}

TEST(BookmarksResolved, ManyNamedDestinationsAreLookedUpInLinearTime) {
    // n bookmarks, each through its own name of an n-entry name tree (and
    // as many in /Dests): a search per bookmark would cost n * n.
    const int n = SANITIZED ? 5000 : 40000;
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 99 0 R /Dests 97 0 R /Names << /Dests 98 0 R >> >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    b.obj(4, "<< /Type /Page /Parent 2 0 R >>");
    std::string tree = "<< /Names [", dests = "<<", expected = "[";
    for (int i = 0; i < n; ++i) {
        tree += "(t" + std::to_string(i) + ") [4 0 R /Fit] ";
        dests += "/d" + std::to_string(i) + " [3 0 R] ";
    }
    b.obj(97, dests + ">>");
    b.obj(98, tree + "] >>");
    b.obj(99, "<< /First 1000 0 R >>");
    for (int i = 0; i < n; ++i) {
        std::string key = i % 2 ? "(t" + std::to_string(i) + ")" : "/d" + std::to_string(i);
        std::string next = i + 1 < n ? " /Next " + std::to_string(1001 + i) + " 0 R" : "";
        b.obj(1000 + i, "<< /Title (" + std::to_string(i) + ") /Dest " + key + next + " >>");
        expected += (i ? "," : "") + std::string(R"({"title":")") + std::to_string(i) + R"(","page":)" +
                    (i % 2 ? "2" : "1") + "}";
    }
    expected += "]";
    b.xref_trailer("/Size " + std::to_string(1000 + n) + " /Root 1 0 R");
    TempDir dir;
    std::string path = dir.file("names.pdf");
    write_file(path, b.bytes());
    with_options o(RESOLVE);
    std::string out;
    long long ms = timed_ms(path, out);
    EXPECT_TRUE(out == expected) << out.substr(0, 200);
    if (!SANITIZED) {
        EXPECT_LT(ms, RESOLVED_TIME_BOUND_MS);
    }
}

TEST(BookmarksResolved, DeepNameTreeEnds) {
    // A /Kids chain 100,000 deep under the /Names /Dests tree, the name at its
    // bottom: the walk stops descending, so the name is not found.
    const int depth = 100000;
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 99 0 R /Names << /Dests 1000 0 R >> >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    b.obj(99, "<< /First 100 0 R >>");
    b.obj(100, "<< /Title (T) /Dest (bottom) /Next 101 0 R >>");
    b.obj(101, "<< /Title (U) /Dest (top) >>");
    for (int i = 0; i < depth; ++i) {
        std::string body = i + 1 < depth ? "<< /Kids [" + std::to_string(1001 + i) + " 0 R]"
                                         : "<< /Names [(bottom) [3 0 R]]";
        if (i == 0) body += " /Names [(top) [3 0 R]]";
        b.obj(1000 + i, body + " >>");
    }
    b.xref_trailer("/Size " + std::to_string(1000 + depth) + " /Root 1 0 R");
    TempDir dir;
    std::string path = dir.file("deeptree.pdf");
    write_file(path, b.bytes());
    with_options o(RESOLVE);
    std::string out;
    long long ms = timed_ms(path, out);
    EXPECT_EQ(out, R"([{"title":"T","page":0},{"title":"U","page":1}])");
    if (!SANITIZED) {
        EXPECT_LT(ms, RESOLVED_TIME_BOUND_MS);
    }
}

TEST(Bookmarks, Failures) {
    EXPECT_EQ(vellix_bookmarks(nullptr), nullptr);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");
    TempDir dir;
    std::string missing = dir.file("missing.pdf");
    EXPECT_EQ(vellix_bookmarks(missing.c_str()), nullptr);
    EXPECT_EQ(std::string(vellix_last_error()), "cannot open " + missing);
}

}  // namespace
