// The flows every export shares: a null pointer argument in any position
// fails the same way, with the documented failure value and message, and
// replaces whatever message an earlier call left.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/frame.h"
#include "support/pdf_builder.h"
#include "vellix.h"

namespace {

struct call_case {
    const char* name;
    std::function<bool()> call;  // true when the call returned what the test expects
};

TEST(ExportFlows, NullArgumentInEveryPositionFailsAlike) {
    TempDir d;
    std::string in = d.file("in.pdf");
    write_file(in, minimal_pdf(1, "<< /Title (T) >>"));
    const char* p = in.c_str();
    std::string out_s = d.file("out.pdf");
    const char* o = out_s.c_str();
    const char* j = "{\"title\":\"x\"}";
    const char* x = "{\"dc:title\":\"x\"}";
    const char* text = nullptr;
    const call_case cases[] = {
        {"read", [] { return !vellix_read(nullptr); }},
        {"read_xmp", [] { return !vellix_read_xmp(nullptr); }},
        {"fonts", [] { return !vellix_fonts(nullptr); }},
        {"images", [] { return !vellix_images(nullptr); }},
        {"bookmarks", [] { return !vellix_bookmarks(nullptr); }},
        {"security", [] { return !vellix_security(nullptr); }},
        {"analyze", [] { return !vellix_analyze(nullptr); }},
        {"page_labels", [] { return !vellix_page_labels(nullptr); }},
        {"compare a", [&] { return !vellix_compare(nullptr, p); }},
        {"compare b", [&] { return !vellix_compare(p, nullptr); }},
        {"write in", [&] { return vellix_write(nullptr, o, "t", nullptr, nullptr, nullptr) == 0; }},
        {"write out", [&] { return vellix_write(p, nullptr, "t", nullptr, nullptr, nullptr) == 0; }},
        {"clear in", [&] { return vellix_clear(nullptr, o) == 0; }},
        {"clear out", [&] { return vellix_clear(p, nullptr) == 0; }},
        {"write_full in", [&] { return vellix_write_full(nullptr, o, j) == 0; }},
        {"write_full out", [&] { return vellix_write_full(p, nullptr, j) == 0; }},
        {"write_full json", [&] { return vellix_write_full(p, o, nullptr) == 0; }},
        {"write_xmp in", [&] { return vellix_write_xmp(nullptr, o, x) == 0; }},
        {"write_xmp out", [&] { return vellix_write_xmp(p, nullptr, x) == 0; }},
        {"write_xmp json", [&] { return vellix_write_xmp(p, o, nullptr) == 0; }},
        {"clear_xmp in", [&] { return vellix_clear_xmp(nullptr, o) == 0; }},
        {"clear_xmp out", [&] { return vellix_clear_xmp(p, nullptr) == 0; }},
        {"batch_read dir", [&] { return vellix_batch_read(nullptr, &text) == 0; }},
        {"batch_read out", [&] { return vellix_batch_read(d.path().c_str(), nullptr) == 0; }},
        {"batch_clear in", [&] { return vellix_batch_clear(nullptr, o) == -1; }},
        {"batch_clear out", [&] { return vellix_batch_clear(d.path().c_str(), nullptr) == -1; }},
    };
    for (const call_case& c : cases) {
        set_error("earlier failure");
        EXPECT_TRUE(c.call()) << c.name;
        EXPECT_STREQ(vellix_last_error(), "NULL path argument") << c.name;
    }
    EXPECT_FALSE(std::filesystem::exists(out_s));
    EXPECT_EQ(text, nullptr);
}

// Success leaves the message empty for every kind of flow, whatever an
// earlier call left in it.
TEST(ExportFlows, SuccessLeavesNoMessage) {
    TempDir d;
    std::string in = d.file("in.pdf");
    write_file(in, minimal_pdf(1, "<< /Title (T) >>"));
    std::string out = d.file("out.pdf"), copies = d.file("copies");
    const char* text = nullptr;
    const call_case cases[] = {
        {"read", [&] { return vellix_read(in.c_str()) != nullptr; }},
        {"compare", [&] { return vellix_compare(in.c_str(), in.c_str()) != nullptr; }},
        {"write", [&] { return vellix_write(in.c_str(), out.c_str(), "t", nullptr, nullptr, nullptr) == 1; }},
        {"write_xmp", [&] { return vellix_write_xmp(in.c_str(), out.c_str(), "{\"dc:title\":\"x\"}") == 1; }},
        {"batch_read", [&] { return vellix_batch_read(d.path().c_str(), &text) == 1; }},
        {"batch_clear", [&] { return vellix_batch_clear(d.path().c_str(), copies.c_str()) >= 1; }},
    };
    for (const call_case& c : cases) {
        set_error("earlier failure");
        EXPECT_TRUE(c.call()) << c.name << ": " << vellix_last_error();
        EXPECT_STREQ(vellix_last_error(), "") << c.name;
    }
}

}  // namespace
