// vellix_page_labels end to end: label ranges of a /PageLabels array.
#include <gtest/gtest.h>

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

std::string range(int start, const std::string& style, const std::string& prefix, int start_num) {
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

}  // namespace
