// Overlapping calls from several threads give the results of the same calls
// made one by one: the last-error message and result texts are per thread.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/pdf_builder.h"
#include "vellix.h"

namespace {

std::string fixture(int i) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 6 0 R /PageLabels << /Nums [0 << /S /r >>] >> >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 4 0 R >> /XObject << /Im1 5 0 R >> >> >>");
    b.obj(4, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    b.stream(5, "/Type /XObject /Subtype /Image /Width 1 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceGray",
             "\x7f");
    b.obj(6, "<< /Type /Outlines /First 7 0 R /Last 7 0 R /Count 1 >>");
    b.obj(7, "<< /Title (Chapter " + std::to_string(i) + ") /Parent 6 0 R /Dest [3 0 R /Fit] >>");
    b.obj(8, "<< /Title (File " + std::to_string(i) + ") /Author (Thread) /Producer (P) >>");
    b.xref_trailer("/Size 9 /Root 1 0 R /Info 8 0 R");
    return b.bytes();
}

// One call: returns its result text (or "!" + message on failure).
using call = std::function<std::string(const std::string& path, const std::string& out)>;

std::string text_or_error(const char* t) {
    if (t) return t;
    std::string e = "!";
    e += vellix_last_error();
    return e;
}

std::vector<call> calls() {
    return {
        [](const std::string& p, const std::string&) { return text_or_error(vellix_read(p.c_str())); },
        [](const std::string& p, const std::string&) { return text_or_error(vellix_fonts(p.c_str())); },
        [](const std::string& p, const std::string&) { return text_or_error(vellix_images(p.c_str())); },
        [](const std::string& p, const std::string&) { return text_or_error(vellix_bookmarks(p.c_str())); },
        [](const std::string& p, const std::string&) { return text_or_error(vellix_security(p.c_str())); },
        [](const std::string& p, const std::string&) { return text_or_error(vellix_analyze(p.c_str())); },
        [](const std::string& p, const std::string&) { return text_or_error(vellix_page_labels(p.c_str())); },
        [](const std::string& p, const std::string& o) {
            if (!vellix_write(p.c_str(), o.c_str(), "New", nullptr, nullptr, nullptr)) return text_or_error(nullptr);
            std::string r = text_or_error(vellix_read(o.c_str()));
            // ModDate is the current time: keep only the fields that do not depend on it.
            return r.substr(0, r.find("\"creation_date\""));
        },
        [](const std::string& p, const std::string&) {
            return text_or_error(vellix_read((p + ".missing").c_str()));
        },
    };
}

}  // namespace

TEST(Threads, OverlappingCallsMatchSequentialResults) {
    TempDir d;
    constexpr int kThreads = 8;
    std::vector<std::string> paths;
    for (int i = 0; i < kThreads; ++i) {
        paths.push_back(d.file("in" + std::to_string(i) + ".pdf"));
        write_file(paths.back(), fixture(i));
    }
    std::vector<call> cs = calls();

    // Expected results, made one by one on this thread.
    std::vector<std::vector<std::string>> expected(kThreads);
    for (int t = 0; t < kThreads; ++t)
        for (size_t c = 0; c < cs.size(); ++c)
            expected[t].push_back(cs[c](paths[t], d.file("seq" + std::to_string(t) + ".pdf")));

    for (int t = 0; t < kThreads; ++t) {
        for (size_t c = 0; c + 1 < cs.size(); ++c) ASSERT_NE(expected[t][c].substr(0, 1), "!") << expected[t][c];
        ASSERT_NE(expected[t][0].find("File " + std::to_string(t)), std::string::npos) << expected[t][0];
        ASSERT_EQ(expected[t].back().substr(0, 12), "!cannot open");
    }

    std::vector<std::vector<std::string>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::string out = d.file("par" + std::to_string(t) + ".pdf");
            // Each thread starts at a different call so different exports overlap.
            for (int round = 0; round < 5; ++round)
                for (size_t k = 0; k < cs.size(); ++k) {
                    size_t c = (k + static_cast<size_t>(t)) % cs.size();
                    std::string r = cs[c](paths[t], out);
                    if (round == 0) got[t].resize(cs.size());
                    if (round == 0 || got[t][c] == r) got[t][c] = r;
                    else got[t][c] = "MISMATCH between rounds: " + r;
                }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t)
        for (size_t c = 0; c < cs.size(); ++c) EXPECT_EQ(got[t][c], expected[t][c]) << "thread " << t << " call " << c;
}

TEST(Threads, ResultTextsAndMessagesArePerThread) {
    TempDir d;
    std::string p = d.file("a.pdf");
    write_file(p, fixture(1));
    const char* mine = vellix_read(p.c_str());
    ASSERT_NE(mine, nullptr);
    std::string before = mine;
    std::thread other([&] {
        EXPECT_EQ(vellix_read(d.file("missing.pdf").c_str()), nullptr);
        EXPECT_NE(std::string(vellix_last_error()).find("cannot open"), std::string::npos);
    });
    other.join();
    EXPECT_STREQ(vellix_last_error(), "");
    EXPECT_EQ(std::string(mine), before);  // the other thread's call did not free this thread's text
}
