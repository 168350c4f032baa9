// vellix_images end to end: image streams, the first page that uses each,
// their size, bits per pixel, filters and stored length.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "support/pdf_builder.h"
#include "vellix.h"

namespace {

using objects = std::vector<std::pair<int, std::string>>;

struct stream_obj {
    int num;
    std::string dict;  // inside of << >>
    std::string data;
};

// Catalog 1, page tree node 2 (with `node_extra` in its dictionary), pages
// from object 3 on (each with its extra dictionary text), then the streams
// and other objects.
std::string images_doc(const std::vector<std::string>& pages, const std::vector<stream_obj>& streams,
                       const objects& others = {}, const std::string& node_extra = "") {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (size_t i = 0; i < pages.size(); ++i) kids += std::to_string(3 + i) + " 0 R ";
    b.obj(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " " + node_extra + " >>");
    for (size_t i = 0; i < pages.size(); ++i)
        b.obj(static_cast<int>(3 + i), "<< /Type /Page /Parent 2 0 R " + pages[i] + " >>");
    for (const stream_obj& s : streams) b.stream(s.num, s.dict, s.data);
    for (const auto& [num, body] : others) b.obj(num, body);
    b.xref_trailer("/Size 30000 /Root 1 0 R");
    return b.bytes();
}

std::string images_of(const std::string& bytes) {
    TempDir dir;
    std::string path = dir.file("in.pdf");
    write_file(path, bytes);
    const char* r = vellix_images(path.c_str());
    return r ? std::string(r) : "NULL: " + std::string(vellix_last_error());
}

std::string image_json(int page, int w, int h, int bpp, const std::string& filter, int size) {
    return "{\"page\":" + std::to_string(page) + ",\"width\":" + std::to_string(w) + ",\"height\":" +
           std::to_string(h) + ",\"bpp\":" + std::to_string(bpp) + ",\"filter\":\"" + filter +
           "\",\"size_bytes\":" + std::to_string(size) + "}";
}

const char* const RGB8 = "/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceRGB /BitsPerComponent 8";

TEST(Images, ListsImagesWithTheirFirstPage) {
    std::string pdf = images_doc(
        {"/Resources << /XObject << /Im1 20 0 R >> >>", "/Resources << /XObject << /Im3 22 0 R >> >>"},
        {{20, "/Type /XObject /Subtype /Image /Width 640 /Height 480 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode",
          std::string(53211, 'j')},
         {21, "/Type /XObject /Subtype /Image /Width 16 /Height 16 /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter [/FlateDecode /DCTDecode]",
          std::string(210, 'z')},
         {22, "/Type /XObject /Subtype /Image /Width 100 /Height 50 /ColorSpace /DeviceGray /BitsPerComponent 1",
          std::string(625, 'r')},
         {23, "/Type /XObject /Subtype /Form /BBox [0 0 1 1]", "q Q"}});
    EXPECT_EQ(images_of(pdf),
              "[{\"page\":1,\"width\":640,\"height\":480,\"bpp\":24,\"filter\":\"DCTDecode\",\"size_bytes\":53211},"
              "{\"page\":0,\"width\":16,\"height\":16,\"bpp\":8,\"filter\":\"FlateDecode,DCTDecode\",\"size_bytes\":210},"
              "{\"page\":2,\"width\":100,\"height\":50,\"bpp\":1,\"filter\":\"none\",\"size_bytes\":625}]");
    EXPECT_STREQ(vellix_last_error(), "");
}

TEST(Images, ValuesOfOneImageDictionary) {
    struct row {
        std::string dict;
        int w, h, bpp;
        const char* filter;
    };
    const std::string img = "/Type /XObject /Subtype /Image ";
    const row cases[] = {
        {img + "/Width 8 /Height 4 /ColorSpace /DeviceCMYK /BitsPerComponent 8", 8, 4, 32, "none"},
        {img + "/Width 8 /Height 4 /ColorSpace /DeviceGray /BitsPerComponent 1", 8, 4, 1, "none"},
        {img + "/Width 8 /Height 4 /ColorSpace /CalRGB /BitsPerComponent 16", 8, 4, 48, "none"},
        {img + "/Width 8 /Height 4 /ColorSpace /GHS /BitsPerComponent 4", 8, 4, 4, "none"},
        // Image mask: no colour space, no bits per component.
        {img + "/Width 8 /Height 4 /ImageMask true", 8, 4, 0, "none"},
        {img + "/Width 8 /Height 4 /ColorSpace /DeviceRGB", 8, 4, 0, "none"},
        {img + "/Width 8 /Height 4 /BitsPerComponent 8", 8, 4, 0, "none"},
        // Arrays are not resolved; the bare name /ICCBased counts 3.
        {img + "/Width 8 /Height 4 /ColorSpace [/ICCBased 7 0 R] /BitsPerComponent 8", 8, 4, 0, "none"},
        {img + "/Width 8 /Height 4 /ColorSpace /ICCBased /BitsPerComponent 8", 8, 4, 24, "none"},
        {img + "/Width 8 /Height 4 /ColorSpace /Indexed /BitsPerComponent 8", 8, 4, 0, "none"},
        // A reference is read in place: its object number is the component count.
        {img + "/Width 8 /Height 4 /ColorSpace 7 0 R /BitsPerComponent 8", 8, 4, 56, "none"},
        {img + "/Width -5 /Height 12 0 R /ColorSpace /DeviceGray /BitsPerComponent 8", 0, 12, 8, "none"},
        {img + "/Height 3", 0, 3, 0, "none"},
        {img + "/Width /W /Height 3", 0, 3, 0, "none"},
        {img + "/Width 1 /Height 1 /Filter /FlateDecode", 1, 1, 0, "FlateDecode"},
        {img + "/Width 1 /Height 1 /Filter [/FlateDecode/DCTDecode]", 1, 1, 0, "FlateDecode"},
        {img + "/Width 1 /Height 1 /Filter [ /ASCII85Decode\n/LZWDecode /DCTDecode ]", 1, 1, 0,
         "ASCII85Decode,LZWDecode,DCTDecode"},
        {img + "/Width 1 /Height 1 /Filter [/Fl#61teDecode]", 1, 1, 0, "FlateDecode"},
        {img + "/Width 1 /Height 1 /Filter []", 1, 1, 0, "none"},
        {img + "/Width 1 /Height 1 /Filter 9 0 R", 1, 1, 0, "none"},
        {img + "/Width 1 /Height 1 /DecodeParms << /Columns 4 >> /Filter/JBIG2Decode", 1, 1, 0, "JBIG2Decode"},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.dict);
        std::string pdf = images_doc({"/Resources << /XObject << /I 20 0 R >> >>"}, {{20, c.dict, "0123456789"}});
        EXPECT_EQ(images_of(pdf), "[" + image_json(1, c.w, c.h, c.bpp, c.filter, 10) + "]");
    }
}

TEST(Images, OnlyStreamsWithSubtypeImageCount) {
    std::string pdf = images_doc({""}, {{20, "/Type /XObject /Subtype /Form", "q Q"},
                                        {21, "/Type /XObject /Subtype /image /Width 1", "x"},
                                        {22, "/Subtype /Image /Width 3 /Height 1", "abc"}},
                                 {{23, "<< /Type /XObject /Subtype /Image /Width 9 /Height 9 >>"}});
    EXPECT_EQ(images_of(pdf), "[" + image_json(0, 3, 1, 0, "none", 3) + "]");
}

TEST(Images, PageIsTheFirstPageWhoseResourcesReferToTheImage) {
    struct row {
        const char* what;
        std::vector<std::string> pages;
        objects others;
        std::string node_extra;
        int page;
    };
    const std::string uses = "/Resources << /XObject << /I 20 0 R >> >>";
    const row cases[] = {
        {"pages 2 and 5", {"", uses, "", "", uses}, {}, "", 2},
        {"no page", {"", ""}, {}, "", 0},
        {"inherited from the page tree node", {""}, {}, uses, 0},
        {"resources by reference", {"/Resources 24 0 R"}, {{24, "<< /XObject << /I 20 0 R >> >>"}}, "", 1},
        {"resources by reference to a missing object", {"/Resources 25 0 R"}, {}, "", 0},
        {"XObject subdictionary by reference", {"/Resources << /XObject 24 0 R >>"}, {{24, "<< /I 20 0 R >>"}}, "", 0},
        {"reference after the resource dictionary", {"/Resources << >> /Thumb 20 0 R"}, {}, "", 1},
        {"reference before /Resources", {"/Thumb 20 0 R /Resources << >>"}, {}, "", 0},
        {"names back to back", {"/Resources<</ProcSet[/PDF/ImageC]/XObject<</Sub/I 20 0 R>>>>"}, {}, "", 1},
        // Name bytes beyond letters and digits (producers write /FormXob.<hash>).
        {"name with a period", {"/Resources << /XObject << /FormXob.5f3e9a 20 0 R >> >>"}, {}, "", 1},
        {"name with other regular bytes", {"/Resources << /XObject << /Im:1*\"!~\xC3\xA9 20 0 R >> >>"}, {}, "", 1},
        {"name with escapes", {"/Resources << /XObject << /Im#20-1_b+2 20 0 R >> >>"}, {}, "", 1},
        {"reference without generation", {"/Resources << /XObject << /I 20 R >> >>"}, {}, "", 1},
        {"string, not a reference", {"/Resources << /XObject << /I (20 0 R) >> >>"}, {}, "", 0},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.what);
        std::string pdf = images_doc(c.pages, {{20, RGB8, "abcdefghijkl"}}, c.others, c.node_extra);
        EXPECT_EQ(images_of(pdf), "[" + image_json(c.page, 2, 2, 24, "none", 12) + "]");
    }
}

TEST(Images, ImageUsedOnlyInsideAFormReportsPageZero) {
    std::string pdf = images_doc({"/Resources << /XObject << /Fm 21 0 R >> >>"},
                                 {{20, RGB8, "abcdefghijkl"},
                                  {21, "/Type /XObject /Subtype /Form /Resources << /XObject << /I 20 0 R >> >>", "/I Do"}});
    EXPECT_EQ(images_of(pdf), "[" + image_json(0, 2, 2, 24, "none", 12) + "]");
}

TEST(Images, UnresolvedPageTreeGivesPageZero) {
    // A kid that names a missing object spoils the page list.
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R 99 0 R] /Count 2 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /Resources << /XObject << /I 20 0 R >> >> >>");
    b.stream(20, RGB8, "abcdefghijkl");
    b.xref_trailer("/Size 21 /Root 1 0 R");
    EXPECT_EQ(images_of(b.bytes()), "[" + image_json(0, 2, 2, 24, "none", 12) + "]");
}

TEST(Images, ReferenceSetKeepsTheFirst1024DistinctNumbers) {
    std::string many;  // 1024 distinct numbers, none of them an object of the file
    for (int i = 0; i < 1024; ++i) many += "/R" + std::to_string(i) + " " + std::to_string(5000 + i) + " 0 R ";
    std::string repeated;  // one number 2000 times: it fills one slot
    for (int i = 0; i < 2000; ++i) repeated += "/R 5000 0 R ";
    std::string existing;  // 1023 distinct existing objects and one missing number
    objects filler;
    for (int i = 0; i < 1023; ++i) {
        existing += "/F" + std::to_string(i) + " " + std::to_string(100 + i) + " 0 R ";
        filler.push_back({100 + i, "null"});
    }
    existing += "/Miss 9999 0 R ";

    struct row {
        const char* what;
        std::string first_page_resources;
        int page;
    };
    const row cases[] = {
        {"set full before the image", "/Resources << /XObject << " + many + "/I 20 0 R >> >>", 2},
        {"image as the last slot", "/Resources << /XObject << " + many.substr(0, many.rfind("/R1023")) + "/I 20 0 R >> >>", 1},
        {"repeats take one slot", "/Resources << /XObject << " + repeated + "/I 20 0 R >> >>", 1},
        {"rows and missing numbers both count", "/Resources << /XObject << " + existing + "/I 20 0 R >> >>", 2},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.what);
        std::string pdf = images_doc({c.first_page_resources, "/Resources << /XObject << /I 20 0 R >> >>"},
                                     {{20, RGB8, "abcdefghijkl"}}, filler);
        EXPECT_EQ(images_of(pdf), "[" + image_json(c.page, 2, 2, 24, "none", 12) + "]");
    }
}

TEST(Images, DocumentWithoutImagesAndFailures) {
    EXPECT_EQ(images_of(minimal_pdf(2)), "[]");
    EXPECT_EQ(vellix_images(nullptr), nullptr);
    EXPECT_STREQ(vellix_last_error(), "NULL path argument");
    TempDir dir;
    std::string missing = dir.file("nope.pdf");
    EXPECT_EQ(vellix_images(missing.c_str()), nullptr);
    EXPECT_EQ(std::string(vellix_last_error()), "cannot open " + missing);
}

// 10,000 pages and 10,000 images: page i uses images i and i+1 (the last
// page wraps to image 0), so image j first appears on page j (image 0 on
// page 1).
// Under AddressSanitizer every allocation costs far more: the sanitizer
// build runs a tenth of the size and checks no time.
TEST(Images, TenThousandPagesAndImagesInWellUnderASecond) {
#if defined(__SANITIZE_ADDRESS__)
    const int n = 1000;
    const bool timed = false;
#else
    const int n = 10000;
    const bool timed = true;
#endif
    std::vector<std::string> pages;
    std::vector<stream_obj> streams;
    std::string expected = "[";
    for (int i = 0; i < n; ++i) {
        int a = 20000 + i, b = 20000 + (i + 1) % n;
        pages.push_back("/Resources << /XObject << /Im0 " + std::to_string(a) + " 0 R /Im1 " + std::to_string(b) +
                        " 0 R >> /Font << /F1 4 0 R >> >> /Contents 5 0 R");
        streams.push_back({a, "/Type /XObject /Subtype /Image /Width " + std::to_string(i) +
                                  " /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /FlateDecode",
                           "x"});
        if (i) expected += ",";
        expected += image_json(i == 0 ? 1 : i, i, 1, 8, "FlateDecode", 1);
    }
    expected += "]";
    TempDir dir;
    std::string path = dir.file("big.pdf");
    write_file(path, images_doc(pages, streams));

    auto t0 = std::chrono::steady_clock::now();
    const char* r = vellix_images(path.c_str());
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    ASSERT_NE(r, nullptr) << vellix_last_error();
    EXPECT_EQ(std::string(r), expected);
    if (timed) {
        EXPECT_LT(ms, 1000);
    }
    std::printf("vellix_images, %d pages and %d images: %lld ms\n", n, n, static_cast<long long>(ms));
}

// Options set for one scope, back to 0 after it.
struct with_options {
    explicit with_options(unsigned o) { vellix_set_options(o); }
    ~with_options() { vellix_set_options(0); }
};

TEST(ImagesResolved, PageIsTheFirstPageWhoseResourcesReachTheImage) {
    struct row {
        const char* what;
        std::vector<std::string> pages;
        objects others;
        std::string node_extra;
        int page;
    };
    const std::string uses = "/Resources << /XObject << /I 20 0 R >> >>";
    const std::string form = "/Resources << /XObject << /Fm 24 0 R >> >>";
    const row cases[] = {
        {"pages 2 and 5", {"", uses, "", "", uses}, {}, "", 2},
        {"resources by reference", {"", "/Resources 24 0 R"}, {{24, "<< /XObject << /I 20 0 R >> >>"}}, "", 2},
        {"XObject dictionary by reference", {"/Resources << /XObject 24 0 R >>"}, {{24, "<< /I 20 0 R >>"}}, "", 1},
        {"both by reference", {"/Resources 24 0 R"}, {{24, "<< /XObject 25 0 R >>"}, {25, "<< /I 20 0 R >>"}}, "", 1},
        {"inherited from the page tree node", {""}, {}, uses, 1},
        {"inherited by reference", {""}, {{24, "<< /XObject << /I 20 0 R >> >>"}}, "/Resources 24 0 R", 1},
        {"the page's own resources hide the node's", {"/Resources << >>"}, {}, uses, 0},
        {"a reference outside /XObject does not count", {"/Resources << >> /Thumb 20 0 R"}, {}, "", 0},
        {"a font's reference does not count", {"/Resources << /Font << /F 20 0 R >> >>"}, {}, "", 0},
        {"resources reference to a missing object", {"/Resources 99 0 R"}, {}, "", 0},
        {"drawn through a form", {"", form},
         {{24, "<< /Type /XObject /Subtype /Form /Resources << /XObject << /I 20 0 R >> >> >>"}}, "", 2},
        {"through nested forms that loop back",
         {form},
         {{24, "<< /Subtype /Form /Resources << /XObject << /Fm 25 0 R >> >> >>"},
          {25, "<< /Subtype /Form /Resources 26 0 R >>"},
          {26, "<< /XObject << /Back 24 0 R /Self 25 0 R /I 20 0 R >> >>"}},
         "", 1},
        {"a form without resources", {form, uses}, {{24, "<< /Subtype /Form >>"}}, "", 2},
        {"an annotation's normal appearance", {"", "/Annots [30 0 R]"},
         {{30, "<< /Type /Annot /Subtype /Widget /AP << /N 31 0 R >> >>"},
          {31, "<< /Length 0 /Subtype /Form /Resources << /XObject << /I 20 0 R >> >> >>\nstream\n\nendstream"}},
         "", 2},
        {"an appearance state, annotations by reference", {"", "", "/Annots 29 0 R"},
         {{29, "[<< /AP << /N 32 0 R >> >>]"},
          {32, "<< /Off 31 0 R /On 33 0 R >>"},
          {31, "<< /Length 0 /Resources << >> >>\nstream\n\nendstream"},
          {33, "<< /Length 0 /Resources 24 0 R >>\nstream\n\nendstream"},
          {24, "<< /XObject << /I 20 0 R >> >>"}},
         "", 3},
        {"a down appearance is not drawn", {"/Annots [<< /AP << /D 31 0 R >> >>]"},
         {{31, "<< /Length 0 /Resources << /XObject << /I 20 0 R >> >> >>\nstream\n\nendstream"}}, "", 0},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.what);
        with_options on(VELLIX_RESOLVE | VELLIX_UNICODE);
        std::string pdf = images_doc(c.pages, {{20, RGB8, "abcdefghijkl"}}, c.others, c.node_extra);
        EXPECT_EQ(images_of(pdf), "[" + image_json(c.page, 2, 2, 24, "none", 12) + "]");
    }
}

TEST(ImagesResolved, InheritedThroughSeveralNodesAndAParentLoop) {
    // Catalog 1, root node 2 (with the resources), node 4, node 5 whose
    // /Parent loops back to itself through 6; pages 7 (under 4) and 8 (under 6).
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [4 0 R 5 0 R] /Count 2 /Resources << /XObject << /I 20 0 R >> >> >>");
    b.obj(4, "<< /Type /Pages /Kids [7 0 R] /Count 1 /Parent 2 0 R >>");
    b.obj(5, "<< /Type /Pages /Kids [8 0 R] /Count 1 /Parent 6 0 R >>");
    b.obj(6, "<< /Type /Pages /Parent 5 0 R >>");
    b.obj(7, "<< /Type /Page /Parent 8 0 R >>");  // a wrong /Parent: a page, then a loop
    b.obj(8, "<< /Type /Page /Parent 5 0 R /Resources << /XObject << /J 21 0 R >> >> >>");
    b.stream(20, RGB8, "abcdefghijkl");
    b.stream(21, RGB8, "abcdefghijk");
    b.stream(22, RGB8, "abcdefghij");
    b.xref_trailer("/Size 23 /Root 1 0 R");
    with_options on(VELLIX_RESOLVE);
    // Page 7's chain runs 8, 5, 6, 5: no resources; page 8 has its own.
    EXPECT_EQ(images_of(b.bytes()), "[" + image_json(0, 2, 2, 24, "none", 12) + "," +
                                        image_json(2, 2, 2, 24, "none", 11) + "," +
                                        image_json(0, 2, 2, 24, "none", 10) + "]");
}

TEST(ImagesResolved, ColourSpacesAndValuesByReference) {
    struct row {
        std::string dict;
        objects others;
        int w, h, bpp;
        const char* filter;
    };
    const std::string img = "/Type /XObject /Subtype /Image /Width 8 /Height 4 ";
    const row cases[] = {
        {img + "/ColorSpace 7 0 R /BitsPerComponent 8", {{7, "[/ICCBased 8 0 R]"}, {8, "<< /N 4 /Length 0 >>"}}, 8, 4, 32, "none"},
        {img + "/ColorSpace [/ICCBased 8 0 R] /BitsPerComponent 8", {{8, "<< /N 1 >>"}}, 8, 4, 8, "none"},
        {img + "/ColorSpace [/ICCBased 8 0 R] /BitsPerComponent 8", {{8, "<< /Alternate /DeviceRGB >>"}}, 8, 4, 24, "none"},
        {img + "/ColorSpace 7 0 R /BitsPerComponent 8", {{7, "/DeviceRGB"}}, 8, 4, 24, "none"},
        {img + "/ColorSpace [/Indexed /DeviceRGB 255 9 0 R] /BitsPerComponent 8", {}, 8, 4, 8, "none"},
        {img + "/ColorSpace [/Separation /Black /DeviceCMYK 9 0 R] /BitsPerComponent 8", {}, 8, 4, 8, "none"},
        {img + "/ColorSpace [/DeviceN 7 0 R /DeviceCMYK 9 0 R] /BitsPerComponent 8", {{7, "[/Cyan /Magenta /Spot]"}}, 8, 4, 24, "none"},
        {img + "/ColorSpace [/Lab << /WhitePoint [1 1 1] >>] /BitsPerComponent 8", {}, 8, 4, 24, "none"},
        {img + "/ColorSpace [/CalRGB << >>] /BitsPerComponent 16", {}, 8, 4, 48, "none"},
        {img + "/ColorSpace [/CalGray << >>] /BitsPerComponent 8", {}, 8, 4, 8, "none"},
        {img + "/ColorSpace /DeviceGray /BitsPerComponent 7 0 R", {{7, "4"}}, 8, 4, 4, "none"},
        {img + "/ColorSpace /Pattern /BitsPerComponent 8", {}, 8, 4, 0, "none"},
        {img + "/ImageMask true", {}, 8, 4, 1, "none"},
        {img + "/ImageMask true /BitsPerComponent 1 /Filter [/CCITTFaxDecode]", {}, 8, 4, 1, "CCITTFaxDecode"},
        // An ICC profile whose /Alternate names itself: the chain is cut.
        {img + "/ColorSpace 7 0 R /BitsPerComponent 8", {{7, "[/ICCBased 8 0 R]"}, {8, "<< /Alternate 7 0 R >>"}}, 8, 4, 0, "none"},
        {"/Subtype /Image /Width 7 0 R /Height 8 0 R /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter 9 0 R",
         {{7, "640"}, {8, "480"}, {9, "[/FlateDecode/DCTDecode]"}}, 640, 480, 8, "FlateDecode,DCTDecode"},
        {"/Subtype /Image /Width -5 /Height 3 /Filter /Bad#ffName", {}, 0, 3, 0, "Bad\xEF\xBF\xBDName"},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.dict);
        with_options on(VELLIX_RESOLVE | VELLIX_UNICODE);
        std::string pdf = images_doc({"/Resources << /XObject << /I 20 0 R >> >>"}, {{20, c.dict, "0123456789"}}, c.others);
        EXPECT_EQ(images_of(pdf), "[" + image_json(1, c.w, c.h, c.bpp, c.filter, 10) + "]");
    }
}

// 10,000 pages all drawing one form that draws a chain of 100 forms with an
// image at the end of it, and each page one image of its own: the shared
// forms are walked once, not once per page.
TEST(ImagesResolved, FormSharedByTenThousandPagesInLinearTime) {
#if defined(__SANITIZE_ADDRESS__)
    const int n = 1000;
    const bool timed = false;
#else
    const int n = 10000;
    const bool timed = true;
#endif
    const int chain = 100;
    std::vector<std::string> pages;
    std::vector<stream_obj> streams;
    std::string expected = "[";
    for (int i = 0; i < n; ++i) {
        pages.push_back("/Resources << /XObject << /Fm 15000 0 R /Own " + std::to_string(20000 + i) + " 0 R >> >>");
        streams.push_back({20000 + i, "/Subtype /Image /Width " + std::to_string(i) + " /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8", "x"});
        expected += image_json(i + 1, i, 1, 8, "none", 1) + ",";
    }
    for (int k = 0; k < chain; ++k) {
        std::string next = k + 1 < chain ? std::to_string(15001 + k) : "19999";
        streams.push_back({15000 + k, "/Subtype /Form /Resources << /XObject << /Next " + next + " 0 R /Top 15000 0 R >> >>", "q Q"});
    }
    streams.push_back({19999, "/Subtype /Image /Width 5 /Height 5 /ColorSpace /DeviceRGB /BitsPerComponent 8", "xyz"});
    expected += image_json(1, 5, 5, 24, "none", 3) + "]";
    TempDir dir;
    std::string path = dir.file("shared.pdf");
    write_file(path, images_doc(pages, streams));
    with_options on(VELLIX_RESOLVE | VELLIX_UNICODE);
    auto t0 = std::chrono::steady_clock::now();
    const char* r = vellix_images(path.c_str());
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    ASSERT_NE(r, nullptr) << vellix_last_error();
    EXPECT_TRUE(std::string(r) == expected) << std::string(r).substr(0, 300);
    if (timed) {
        EXPECT_LT(ms, 1000);
    }
}

}  // namespace
