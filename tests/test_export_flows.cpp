// The flows every export shares: a null pointer argument in any position
// fails the same way, with the documented failure value and message, and
// replaces whatever message an earlier call left.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/frame.h"
#include "support/json_check.h"
#include "support/pdf_builder.h"
#include "syntax/text_string.h"
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
        {"traces", [] { return !vellix_traces(nullptr); }},
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

// A file whose texts hold bytes that are not UTF-8 wherever a report takes
// text from (Info, a font name, an image filter, a bookmark title, a page-label
// prefix, the XMP packet): under VELLIX_UNICODE every text export returns
// valid UTF-8 JSON; with options 0 the bytes pass through as they are.
TEST(ExportFlows, UnicodeTextsAreValidUtf8WhateverTheFileHolds) {
    TempDir d;
    const std::string bad = "\xFF\xC3(\xE9\xED\xA0\x80";  // invalid and cut-short sequences, a surrogate
    std::string packet = "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
                         "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
                         "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:format>" + bad +
                         "</dc:format></rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 6 0 R /PageLabels << /Nums [0 << /S /D /P (\\377\\303) >>] >>"
             " /Metadata 8 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 4 0 R >> /XObject << /Im1 5 0 R >> >> >>");
    b.obj(4, "<< /Type /Font /Subtype /Type1 /BaseFont /AB#FF#C3Font >>");
    b.stream(5, "/Type /XObject /Subtype /Image /Width 1 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceGray"
                " /Filter /Fl#FFate",
             "\x7f");
    b.obj(6, "<< /Type /Outlines /First 7 0 R /Last 7 0 R /Count 1 >>");
    b.obj(7, "<< /Title (\\377\\376\\351) /Parent 6 0 R /Dest [3 0 R /Fit] >>");
    b.stream(8, "/Type /Metadata /Subtype /XML", packet);
    b.obj(9, "<< /Title (" + bad + ") /Producer (\\377) >>");
    b.xref_trailer("/Size 10 /Root 1 0 R /Info 9 0 R");
    std::string path = d.file("bytes.pdf");
    write_file(path, b.bytes());
    const char* p = path.c_str();
    struct report {
        const char* name;
        std::function<const char*()> call;
    } reports[] = {
        {"read", [&] { return vellix_read(p); }},
        {"read_xmp", [&] { return vellix_read_xmp(p); }},
        {"fonts", [&] { return vellix_fonts(p); }},
        {"images", [&] { return vellix_images(p); }},
        {"bookmarks", [&] { return vellix_bookmarks(p); }},
        {"security", [&] { return vellix_security(p); }},
        {"analyze", [&] { return vellix_analyze(p); }},
        {"page_labels", [&] { return vellix_page_labels(p); }},
        {"traces", [&] { return vellix_traces(p); }},
        {"compare", [&] { return vellix_compare(p, p); }},
        {"batch_read", [&] {
             const char* t = nullptr;
             return vellix_batch_read(d.path().c_str(), &t) ? t : nullptr;
         }},
    };
    int raw_texts = 0;
    for (const report& r : reports) {
        vellix_set_options(VELLIX_UNICODE | VELLIX_RESOLVE);
        const char* t = r.call();
        vellix_set_options(0);
        ASSERT_NE(t, nullptr) << r.name << ": " << vellix_last_error();
        EXPECT_EQ(json_fault(t), "") << r.name;
        EXPECT_TRUE(utf8_valid(t)) << r.name << ": " << t;
        const char* raw = r.call();
        ASSERT_NE(raw, nullptr) << r.name;
        raw_texts += !utf8_valid(raw);
    }
    EXPECT_GE(raw_texts, 3);  // the fixture does hold such bytes where the byte rules pass them on
}
