// Comparison of the Info fields of two files.
#include <gtest/gtest.h>

#include <string>

#include "support/pdf_builder.h"
#include "vellix.h"

namespace {

std::string with_info(const TempDir& d, const std::string& name, const std::string& info) {
    write_file(d.path() / name, minimal_pdf(1, info));
    return d.file(name);
}

std::string compare(const std::string& a, const std::string& b) {
    const char* t = vellix_compare(a.c_str(), b.c_str());
    EXPECT_NE(t, nullptr) << vellix_last_error();
    return t ? t : "";
}

}  // namespace

TEST(Compare, GroupsFieldsInKeyOrder) {
    TempDir d;
    std::string a = with_info(d, "a.pdf", "<< /Title (Outline) /Author (Ann) /Producer (P) >>");
    std::string b = with_info(d, "b.pdf", "<< /Title (Final) /Subject (Q3) /Producer (P) >>");
    EXPECT_EQ(compare(a, b),
              "{\"added\":{\"subject\":\"Q3\"},\"removed\":{\"author\":\"Ann\"},\"changed\":{\"title\":{\"from\":"
              "\"Outline\",\"to\":\"Final\"}},\"same\":[\"keywords\",\"creator\",\"producer\",\"creation_date\","
              "\"mod_date\"]}");
    EXPECT_STREQ(vellix_last_error(), "");
}

TEST(Compare, SelfAndEmptyFilesAreAllSame) {
    TempDir d;
    std::string a = with_info(d, "a.pdf", "<< /Title (T) /Author (A) /Producer (P) >>");
    std::string none = with_info(d, "n.pdf", "");
    const std::string all_same =
        "\"same\":[\"title\",\"author\",\"subject\",\"keywords\",\"creator\",\"producer\",\"creation_date\","
        "\"mod_date\"]}";
    EXPECT_EQ(compare(a, a), "{\"added\":{},\"removed\":{},\"changed\":{}," + all_same);
    EXPECT_EQ(compare(none, none), "{\"added\":{},\"removed\":{},\"changed\":{}," + all_same);
}

TEST(Compare, DatesCompareByDayAndCaseMatters) {
    TempDir d;
    std::string a = with_info(d, "a.pdf", "<< /Title (Report) /CreationDate (D:20240115103000Z) /ModDate (junk) >>");
    std::string b = with_info(d, "b.pdf", "<< /Title (report ) /CreationDate (D:20240115235959+01'00') >>");
    std::string json = compare(a, b);
    EXPECT_NE(json.find("\"changed\":{\"title\":{\"from\":\"Report\",\"to\":\"report \"}}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"same\":[\"author\",\"subject\",\"keywords\",\"creator\",\"producer\",\"creation_date\","
                        "\"mod_date\"]"),
              std::string::npos)
        << json;
}

TEST(Compare, Failures) {
    TempDir d;
    std::string good = with_info(d, "a.pdf", "<< /Title (T) >>");
    ASSERT_NE(vellix_compare(good.c_str(), good.c_str()), nullptr);
    EXPECT_EQ(vellix_compare(nullptr, good.c_str()), nullptr);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");
    std::string missing = d.file("missing.pdf");
    EXPECT_EQ(vellix_compare(missing.c_str(), good.c_str()), nullptr);
    EXPECT_EQ(std::string(vellix_last_error()), "cannot open " + missing);
    std::string missing2 = d.file("missing2.pdf");
    EXPECT_EQ(vellix_compare(missing.c_str(), missing2.c_str()), nullptr);
    EXPECT_EQ(std::string(vellix_last_error()), "cannot open " + missing);  // the second is not opened
    EXPECT_EQ(vellix_compare(good.c_str(), missing2.c_str()), nullptr);
    EXPECT_EQ(std::string(vellix_last_error()), "cannot open " + missing2);
}
