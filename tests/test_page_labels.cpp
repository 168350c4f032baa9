// vellix_page_labels end to end: label ranges of a /PageLabels array, and
// with VELLIX_RESOLVE the number tree the PDF standard defines.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "support/pdf_builder.h"
#include "vellix.h"

namespace {

using objects = std::vector<std::pair<int, std::string>>;

// Catalog 1 holding `labels` as the value of /PageLabels (nothing when
// empty), a page tree with one page, and further objects.
std::string labels_doc(const std::string& labels, const objects& more = {}) {
    PdfBuilder b;
    std::string cat = "<< /Type /Catalog /Pages 2 0 R";
    if (!labels.empty()) cat += " /PageLabels " + labels;
    b.obj(1, cat + " >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    for (const auto& [num, body] : more) b.obj(num, body);
    b.xref_trailer("/Size 40 /Root 1 0 R");
    return b.bytes();
}

std::string labels_of(const std::string& bytes) {
    TempDir dir;
    std::string path = dir.file("in.pdf");
    write_file(path, bytes);
    const char* r = vellix_page_labels(path.c_str());
    return r ? std::string(r) : "NULL: " + std::string(vellix_last_error());
}

std::string range(int start, const std::string& style, const std::string& prefix, long long start_num) {
    return "{\"start\":" + std::to_string(start) + ",\"style\":\"" + style + "\",\"prefix\":\"" + prefix +
           "\",\"start_num\":" + std::to_string(start_num) + "}";
}

TEST(PageLabels, RangesOfALabelArray) {
    EXPECT_EQ(labels_of(labels_doc("[[0 << /S /r >>] [4 << /S /D /P (A-) >>] 9]")),
              "[{\"start\":0,\"style\":\"roman_lower\",\"prefix\":\"\",\"start_num\":1},"
              "{\"start\":4,\"style\":\"decimal\",\"prefix\":\"A-\",\"start_num\":1},"
              "{\"start\":9,\"style\":\"decimal\",\"prefix\":\"\",\"start_num\":1}]");
    EXPECT_STREQ(vellix_last_error(), "");
}

TEST(PageLabels, ArrayForms) {
    struct row {
        std::string labels;
        std::string json;
    };
    const std::string d0 = range(0, "decimal", "", 1);
    const row cases[] = {
        {"[0 10]", "[" + d0 + "," + range(10, "decimal", "", 1) + "]"},
        // Pairs written flat: the integer inside the dictionary is a range start; /S is not read.
        {"[0 << /S /r /St 3 >>]", "[" + d0 + "," + range(3, "decimal", "", 1) + "]"},
        {"[[<< /S /A >>]]", "[" + range(0, "alpha_upper", "", 1) + "]"},
        {"[[2]]", "[" + range(2, "decimal", "", 1) + "]"},
        {"[[]]", "[" + d0 + "]"},
        {"[[0 << /P (x) >>]]", "[" + range(0, "decimal", "x", 1) + "]"},
        {"[[0 << /S /Roman >>]]", "[" + d0 + "]"},
        {"[[0 << /S /a >>][1<</S/R>>][2<</S/A/St 5>>]]",
         "[" + range(0, "alpha_lower", "", 1) + "," + range(1, "roman_upper", "", 1) + "," +
             range(2, "alpha_upper", "", 5) + "]"},
        {"[[0 << /S (D) >>]]", "[" + d0 + "]"},
        {"[[0 << /St 0 >>] [1 << /St -4 >>] [2 << /St /X >>] [3 << /St 7 >>]]",
         "[" + d0 + "," + range(1, "decimal", "", 1) + "," + range(2, "decimal", "", 1) + "," +
             range(3, "decimal", "", 7) + "]"},
        {"[[0 << /P <41 2D> >>]]", "[" + range(0, "decimal", "A-", 1) + "]"},
        {"[[0 << /P (a\\(b\\)\\\\\"q\") >>]]", "[" + range(0, "decimal", "a(b)\\\\\\\"q\\\"", 1) + "]"},
        {"[[0 << /P 9 0 R >>]]", "[" + d0 + "]"},
        {"[[0 << /P (a\\000b) >>]]", "[" + range(0, "decimal", "a", 1) + "]"},  // cut at the zero byte
        {"[[0 < /S /R >>]]", "[" + d0 + "]"},
        // A "]" inside the prefix closes the range early; what follows it is
        // read at the top level, where the next "]" ends the list.
        {"[[0 << /P (a]b) >>] 5]", "[" + range(0, "decimal", "a]b", 1) + "]"},
        {"[[0 << /P (a[b) /S /R >>] 5]", "[" + range(0, "roman_upper", "a[b", 1) + "]"},
        {"[ ]", "[]"},
        {"[-3 x 4]", "[" + range(3, "decimal", "", 1) + "," + range(4, "decimal", "", 1) + "]"},
        // Number trees are not read.
        {"<< /Nums [0 << /S /r >> 4 << /S /D >>] >>", "[]"},
        {"/Labels", "[]"},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.labels);
        EXPECT_EQ(labels_of(labels_doc(c.labels)), c.json);
    }
}

TEST(PageLabels, PrefixIsCutTo127Bytes) {
    std::string long_prefix(200, 'p');
    EXPECT_EQ(labels_of(labels_doc("[[0 << /P (" + long_prefix + ") >>]]")),
              "[" + range(0, "decimal", std::string(127, 'p'), 1) + "]");
}

TEST(PageLabels, ArrayAndDictionariesByReference) {
    struct row {
        const char* what;
        std::string labels;
        objects more;
        std::string json;
    };
    const row cases[] = {
        {"bare array in the file body", "15 0 R", {{15, "[0 << /S /R >> 3]"}},
         "[" + range(0, "decimal", "", 1) + "," + range(3, "decimal", "", 1) + "]"},
        {"array object with labelled ranges", "15 0 R", {{15, "\r\n[[0 << /S /R >>] [3 << /P (B) >>]]"}},
         "[" + range(0, "roman_upper", "", 1) + "," + range(3, "decimal", "B", 1) + "]"},
        {"number tree by reference", "15 0 R", {{15, "<< /Nums [0 << /S /r >>] >>"}}, "[]"},
        {"missing object", "16 0 R", {}, "[]"},
        {"referenced object is no array", "15 0 R", {{15, "42"}}, "[]"},
        // A label dictionary given by reference inside a labelled range.
        {"label dictionary by reference", "[[0 12 0 R] [4 13 0 R]]",
         {{12, "<< /S /R /P (X-) /St 2 >>"}, {13, "<< /Type /PageLabel /S /a >>"}},
         "[" + range(0, "roman_upper", "X-", 2) + "," + range(4, "alpha_lower", "", 1) + "]"},
        {"reference to something else", "[[0 12 0 R] [4 14 0 R]]", {{12, "(text)"}},
         "[" + range(0, "decimal", "", 1) + "," + range(4, "decimal", "", 1) + "]"},
        {"number that is no reference", "[[0 7] [1 7 0]]",
         {}, "[" + range(0, "decimal", "", 1) + "," + range(1, "decimal", "", 1) + "]"},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(labels_of(labels_doc(c.labels, c.more)), c.json);
    }
}

TEST(PageLabels, ArrayAndDictionaryInAnObjectStream) {
    PdfBuilder b("1.5");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    b.object_stream(20, {{1, "<< /Type /Catalog /Pages 2 0 R /PageLabels 15 0 R >>"},
                         {15, "[[0 12 0 R] [2 << /S /A >>]]"},
                         {12, "<< /S /r /P (p) >>"}});
    b.xref_trailer("/Size 21 /Root 1 0 R");
    EXPECT_EQ(labels_of(b.bytes()), "[" + range(0, "roman_lower", "p", 1) + "," + range(2, "alpha_upper", "", 1) + "]");
}

TEST(PageLabels, NoLabelsAndFailures) {
    EXPECT_EQ(labels_of(labels_doc("")), "[]");
    EXPECT_EQ(labels_of(minimal_pdf(1)), "[]");
    EXPECT_EQ(vellix_page_labels(nullptr), nullptr);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");
    TempDir dir;
    std::string missing = dir.file("missing.pdf");
    EXPECT_EQ(vellix_page_labels(missing.c_str()), nullptr);
    EXPECT_EQ(std::string(vellix_last_error()), "cannot open " + missing);
}

// Sets this thread's options for one scope.
struct with_options {
    explicit with_options(unsigned o) : prev(vellix_set_options(o)) {}
    ~with_options() { vellix_set_options(prev); }
    unsigned prev;
};

constexpr unsigned RESOLVE = VELLIX_RESOLVE;
constexpr unsigned BOTH = VELLIX_UNICODE | VELLIX_RESOLVE;

TEST(PageLabelsResolved, NumberTreeWithKidsLimitsAndIndirectDictionaries) {
    // Root by reference, two kids with /Limits (which are bounds, not
    // entries), label dictionaries inline and by reference, one without /S.
    objects tree = {{10, "<< /Kids [11 0 R 12 0 R] >>"},
                    {11, "<< /Limits [0 3] /Nums [0 20 0 R 3 << /S /D /St 5 >>] >>"},
                    {12, "<< /Limits [7 9] /Nums [7 << /P (App-) /S /A >> 9 21 0 R] >>"},
                    {20, "<< /Type /PageLabel /S /r >>"},
                    {21, "<< /P (Index) >>"}};
    const std::string expected = "[" + range(0, "roman_lower", "", 1) + "," + range(3, "decimal", "", 5) + "," +
                                 range(7, "alpha_upper", "App-", 1) + "," + range(9, "none", "Index", 1) + "]";
    {
        with_options o(RESOLVE);
        EXPECT_EQ(labels_of(labels_doc("10 0 R", tree)), expected);
        EXPECT_STREQ(vellix_last_error(), "");
    }
    EXPECT_EQ(labels_of(labels_doc("10 0 R", tree)), "[]");  // options 0: number trees are not read
}

TEST(PageLabelsResolved, LabelDictionaries) {
    struct row {
        std::string labels;  // the value of /PageLabels
        std::string json;
    };
    const row cases[] = {
        {"<< /Nums [0 << /S /D >> 1 << /S /R >> 2 << /S /r >> 3 << /S /A >> 4 << /S /a >>] >>",
         "[" + range(0, "decimal", "", 1) + "," + range(1, "roman_upper", "", 1) + "," +
             range(2, "roman_lower", "", 1) + "," + range(3, "alpha_upper", "", 1) + "," +
             range(4, "alpha_lower", "", 1) + "]"},
        // No numbering: no /S, a name no viewer numbers with, a string.
        {"<< /Nums [0 << /P (Cover) >> 1 << /S /Roman >> 2 << /S (D) >> 3 << >>] >>",
         "[" + range(0, "none", "Cover", 1) + "," + range(1, "none", "", 1) + "," + range(2, "none", "", 1) + "," +
             range(3, "none", "", 1) + "]"},
        // First numbers beyond 32 bits kept; below 1 or not an integer: 1.
        {"<< /Nums [0 << /S /D /St 2147483648 >> 1 << /S /a /St 9000000000000 >> 2 << /S /D /St 0 >> "
         "3 << /S /D /St -4 >> 4 << /S /D /St 2.5 >> 5 << /S /R /St 3999 >>] >>",
         "[" + range(0, "decimal", "", 2147483648LL) + "," + range(1, "alpha_lower", "", 9000000000000LL) + "," +
             range(2, "decimal", "", 1) + "," + range(3, "decimal", "", 1) + "," + range(4, "decimal", "", 1) + "," +
             range(5, "roman_upper", "", 3999) + "]"},
        // Pairs that label no page: a negative or non-integer key, a value
        // that is no dictionary. A key and value by reference are read.
        {"<< /Nums [-1 << /S /R >> (x) << /S /R >> 1 (text) 2 30 0 R 3 31 0 R] >>",
         "[" + range(2, "alpha_lower", "", 1) + "]"},
        {"<< /Nums [0 << /P <FEFF0041> >>] >>", "[" + range(0, "none", "\xFE\xFF", 1) + "]"},  // bytes: cut at zero
        {"<< /Nums [0 << /P 32 0 R /S /D >>] >>", "[" + range(0, "decimal", "ref-", 1) + "]"},
        // Leaves out of order: the ranges come in the order of their pages.
        {"<< /Kids [<< /Nums [6 << /S /R >> 2 << /S /a >>] >> << /Nums [0 << /S /D >> 2 << /S /A >>] >>] >>",
         "[" + range(0, "decimal", "", 1) + "," + range(2, "alpha_lower", "", 1) + "," +
             range(2, "alpha_upper", "", 1) + "," + range(6, "roman_upper", "", 1) + "]"},
        {"<< /Kids [] >>", "[]"},
        {"<< >>", "[]"},
        {"/Labels", "[]"},
    };
    objects more = {{30, "<< /S /a >>"}, {31, "[1 2]"}, {32, "(ref-)"}};
    with_options o(RESOLVE);
    for (const row& c : cases) {
        SCOPED_TRACE(c.labels);
        EXPECT_EQ(labels_of(labels_doc(c.labels, more)), c.json);
    }
}

TEST(PageLabelsResolved, ArrayFormKeepsWorking) {
    struct row {
        std::string labels;
        std::string json;
    };
    const row cases[] = {
        {"[[0 << /S /r >>] [4 << /S /D /P (A-) >>] 9]",
         "[" + range(0, "roman_lower", "", 1) + "," + range(4, "decimal", "A-", 1) + "," + range(9, "decimal", "", 1) +
             "]"},
        {"[0 10]", "[" + range(0, "decimal", "", 1) + "," + range(10, "decimal", "", 1) + "]"},
        // Pairs written flat, as in /Nums: the dictionary belongs to the index before it.
        {"[0 << /S /r /St 3 >> 4 12 0 R 6]",
         "[" + range(0, "roman_lower", "", 3) + "," + range(4, "alpha_upper", "B-", 1) + "," +
             range(6, "decimal", "", 1) + "]"},
        {"[[<< /S /A >>] [2] [5 12 0 R]]",
         "[" + range(0, "alpha_upper", "", 1) + "," + range(2, "decimal", "", 1) + "," +
             range(5, "alpha_upper", "B-", 1) + "]"},
        {"15 0 R", "[" + range(0, "roman_upper", "", 1) + "," + range(3, "none", "B", 1) + "]"},
    };
    objects more = {{12, "<< /S /A /P (B-) >>"}, {15, "[[0 << /S /R >>] [3 << /P (B) >>]]"}};
    with_options o(RESOLVE);
    for (const row& c : cases) {
        SCOPED_TRACE(c.labels);
        EXPECT_EQ(labels_of(labels_doc(c.labels, more)), c.json);
    }
}

TEST(PageLabelsResolved, UnicodePrefixes) {
    struct row {
        std::string prefix;  // the value of /P
        std::string json;    // as a JSON text
    };
    const row cases[] = {
        {"<FEFF00DC0062002D>", "\xC3\x9C" "b-"},                // UTF-16BE
        {"<FEFFD83DDE00>", "\xF0\x9F\x98\x80"},                 // a surrogate pair
        {"(Jos\\351-)", "Jos\xC3\xA9-"},                        // PDFDocEncoding
        {"(a\\000b)", "a\\u0000b"},                             // the zero byte is text
        {"<FEFFD800>", "\xEF\xBF\xBD"},                         // a lone surrogate
        {"(" + std::string(200, 'p') + ")", std::string(200, 'p')},  // not cut
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.prefix);
        {
            with_options o(BOTH);
            EXPECT_EQ(labels_of(labels_doc("<< /Nums [0 << /S /D /P " + c.prefix + " >>] >>")),
                      "[" + range(0, "decimal", c.json, 1) + "]");
        }
        {
            // Decoding alone: the label array of the byte rules.
            with_options o(VELLIX_UNICODE);
            EXPECT_EQ(labels_of(labels_doc("[[0 << /S /D /P " + c.prefix + " >>]]")),
                      "[" + range(0, "decimal", c.json, 1) + "]");
        }
    }
}

long long labels_timed_ms(const std::string& bytes, std::string& out) {
    TempDir dir;
    std::string path = dir.file("in.pdf");
    write_file(path, bytes);
    auto t0 = std::chrono::steady_clock::now();
    const char* r = vellix_page_labels(path.c_str());
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    out = r ? r : "NULL: " + std::string(vellix_last_error());
    return ms;
}

TEST(PageLabelsResolved, HostileTreesEnd) {
    with_options o(RESOLVE);
    struct row {
        const char* what;
        objects tree;  // the root is object 10
        std::string json;
    };
    const row cases[] = {
        {"root among its own kids", {{10, "<< /Nums [0 << /S /r >>] /Kids [10 0 R 11 0 R] >>"},
                                     {11, "<< /Nums [2 << /S /D >>] /Kids [10 0 R] >>"}},
         "[" + range(0, "roman_lower", "", 1) + "," + range(2, "decimal", "", 1) + "]"},
        {"two kids naming each other", {{10, "<< /Kids [11 0 R] >>"},
                                        {11, "<< /Nums [0 << /S /a >>] /Kids [12 0 R] >>"},
                                        {12, "<< /Nums [4 << /S /A >>] /Kids [11 0 R 12 0 R] >>"}},
         "[" + range(0, "alpha_lower", "", 1) + "," + range(4, "alpha_upper", "", 1) + "]"},
        {"the same kid twice", {{10, "<< /Kids [11 0 R 11 0 R] >>"}, {11, "<< /Nums [0 << /S /R >>] >>"}},
         "[" + range(0, "roman_upper", "", 1) + "]"},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(labels_of(labels_doc("10 0 R", c.tree)), c.json);
    }

    // A chain of 100,000 nodes, each the only kid of the one before: the walk
    // stops descending after a fixed depth, keeping what it read above it.
    const int depth = 100000;
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /PageLabels 10 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    for (int i = 0; i < depth; ++i) {
        std::string body = "<< /Nums [" + std::to_string(i) + " << /S /D >>]";
        if (i + 1 < depth) body += " /Kids [" + std::to_string(11 + i) + " 0 R]";
        b.obj(10 + i, body + " >>");
    }
    b.xref_trailer("/Size " + std::to_string(10 + depth) + " /Root 1 0 R");
    std::string out;
    long long ms = labels_timed_ms(b.bytes(), out);
    ASSERT_EQ(out.substr(0, 2 + range(0, "decimal", "", 1).size()), "[" + range(0, "decimal", "", 1) + ",");
    EXPECT_EQ(out.back(), ']');
    EXPECT_EQ(out.find(range(depth - 1, "decimal", "", 1)), std::string::npos);
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(ms, 2000);
#endif
}

}  // namespace
