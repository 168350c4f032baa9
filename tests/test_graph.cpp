// The object graph: references followed, top-level entries, array elements,
// names ending at delimiters, guards against loops.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "load/doc.h"
#include "load/graph.h"
#include "support/pdf_builder.h"

namespace {

std::string txt(pdf_val v) {
    pos e = v.value_end();
    return e < 0 ? std::string("?") : std::string(reinterpret_cast<const char*>(v.text + v.start), static_cast<size_t>(e - v.start));
}

pdf_val val_of(const std::string& s) {
    static std::vector<std::string> kept;
    kept.push_back(s);
    return {reinterpret_cast<const uint8_t*>(kept.back().data()), 0, static_cast<pos>(kept.back().size())};
}

TEST(Graph, TopLevelEntriesOnly) {
    // /Title inside the nested dictionary and inside the string must not be taken.
    pdf_val d = val_of("<< /Sub << /Title (inner) >> /Note (x /Title y) /BaseFont /Arial,Bold/Title(outer)>>");
    EXPECT_EQ(txt(dict_get_raw(d, "Title")), "(outer)");
    EXPECT_EQ(val_name(dict_get_raw(d, "BaseFont")), "Arial,Bold");
    std::vector<std::string> keys;
    dict_each(d, [&](std::string_view k, pdf_val) {
        keys.emplace_back(k);
        return true;
    });
    EXPECT_EQ(keys, (std::vector<std::string>{"Sub", "Note", "BaseFont", "Title"}));
    EXPECT_FALSE(dict_get_raw(d, "Missing"));
    EXPECT_FALSE(dict_get_raw(val_of("[ /Title (a) ]"), "Title"));
}

TEST(Graph, KeysAndNamesAreHexDecoded) {
    pdf_val d = val_of("<</Ti#74le/A#20B % comment /Title (no)\n /X 1>>");
    EXPECT_EQ(val_name(dict_get_raw(d, "Title")), "A B");
    int64_t x = 0;
    EXPECT_TRUE(val_int(dict_get_raw(d, "X"), &x));
    EXPECT_EQ(x, 1);
}

TEST(Graph, ArrayElements) {
    std::vector<std::string> got;
    array_each(val_of("[12 0 R/XYZ 0 792 null<</D[1 0 R]>>(s)<414243>[1 2] -3.5 1 0 0 1]"), [&](pdf_val v) {
        got.push_back(txt(v));
        return true;
    });
    EXPECT_EQ(got, (std::vector<std::string>{"12 0 R", "/XYZ", "0", "792", "null", "<</D[1 0 R]>>", "(s)", "<414243>",
                                             "[1 2]", "-3.5", "1", "0", "0", "1"}));
}

TEST(Graph, StringsKeepZeroBytes) {
    std::string s;
    ASSERT_TRUE(val_string(val_of("(a\\000b)"), &s));
    EXPECT_EQ(s, std::string("a\0b", 3));
    ASSERT_TRUE(val_string(val_of("<FEFF0041>"), &s));
    EXPECT_EQ(s, std::string("\xFE\xFF\x00\x41", 4));
    EXPECT_FALSE(val_string(val_of("/Name"), &s));
}

TEST(Graph, ReferencesFollowedAndLoopsCut) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R /Title 4 0 R /Loop 5 0 R >>")
        .obj(4, "(by reference)")
        .obj(5, "6 0 R")
        .obj(6, "5 0 R")
        .object_stream(7, {{8, "<< /In (stream) >>"}})
        .xref_trailer("/Root 1 0 R /Size 9");
    auto path = std::filesystem::temp_directory_path() / "vellix_graph.pdf";
    b.write(path);
    pdf_doc doc;
    ASSERT_EQ(doc_load(path.c_str(), &doc, 0), 0);
    pdf_val page = graph_object(doc, 3);
    EXPECT_EQ(txt(dict_get(doc, page, "Title")), "(by reference)");
    EXPECT_FALSE(dict_get(doc, page, "Loop"));  // 5 -> 6 -> 5 ... ends
    EXPECT_EQ(txt(dict_get(doc, graph_object(doc, 8), "In")), "(stream)");
    EXPECT_FALSE(graph_object(doc, 99));

    visit_set seen(doc);
    EXPECT_TRUE(seen.first_visit(3));
    EXPECT_FALSE(seen.first_visit(3));
    EXPECT_FALSE(seen.first_visit(99));
    page_index pages(doc);
    EXPECT_EQ(pages.of(3), 1);
    EXPECT_EQ(pages.of(2), 0);
    std::filesystem::remove(path);
}

}  // namespace
