// The per-thread options word.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "support/pdf_builder.h"
#include "vellix.h"

TEST(Options, SetReturnsThePreviousSetAndRefusesUnknownBits) {
    ASSERT_EQ(vellix_set_options(0), 0u);
    EXPECT_EQ(vellix_get_options(), 0u);
    EXPECT_EQ(vellix_set_options(VELLIX_UNICODE), 0u);
    EXPECT_EQ(vellix_set_options(VELLIX_UNICODE | VELLIX_RESOLVE), VELLIX_UNICODE);
    EXPECT_STREQ(vellix_last_error(), "");

    EXPECT_EQ(vellix_set_options(VELLIX_RESOLVE | 0x40u | 0x80000000u), static_cast<unsigned>(-1));
    EXPECT_STREQ(vellix_last_error(), "unknown option bits 0x80000040");
    EXPECT_EQ(vellix_get_options(), VELLIX_UNICODE | VELLIX_RESOLVE);  // nothing changed

    vellix_init();  // does not touch the options
    EXPECT_EQ(vellix_get_options(), VELLIX_UNICODE | VELLIX_RESOLVE);
    EXPECT_EQ(vellix_set_options(0), VELLIX_UNICODE | VELLIX_RESOLVE);
}

TEST(Options, EachThreadHasItsOwn) {
    vellix_set_options(VELLIX_UNICODE);
    unsigned seen_at_start = 99, seen_after = 99;
    std::thread t([&] {
        seen_at_start = vellix_get_options();
        vellix_set_options(VELLIX_RESOLVE);
        seen_after = vellix_get_options();
    });
    t.join();
    EXPECT_EQ(seen_at_start, 0u);
    EXPECT_EQ(seen_after, VELLIX_RESOLVE);
    EXPECT_EQ(vellix_get_options(), VELLIX_UNICODE);
    vellix_set_options(0);
}

// Two threads reading the same file with a UTF-16 title at the same time,
// one with options 0 and one with VELLIX_UNICODE: each gets the text of its
// own options on every call.
TEST(Options, ThreadsReadWithTheirOwnOptions) {
    TempDir tmp;
    std::string path = tmp.file("utf16.pdf");
    write_file(path, minimal_pdf(1, "<< /Title <FEFF00DC0062006500720020D83DDE00> /Producer (P) >>"));
    const std::string bytes_title = "\"title\":\"\xFE\xFF\"";                       // the byte rules
    const std::string text_title = "\"title\":\"\xC3\x9C" "ber \xF0\x9F\x98\x80\"";  // "Über 😀"
    std::atomic<bool> go{false};
    auto reader = [&](unsigned options, const std::string& want, int* mismatches) {
        vellix_set_options(options);
        while (!go) std::this_thread::yield();
        for (int i = 0; i < 300; ++i) {
            const char* r = vellix_read(path.c_str());
            if (!r || std::string(r).find(want) == std::string::npos) ++*mismatches;
        }
    };
    int bad_bytes = 0, bad_text = 0;
    std::thread a(reader, 0u, bytes_title, &bad_bytes);
    std::thread b(reader, static_cast<unsigned>(VELLIX_UNICODE), text_title, &bad_text);
    go = true;
    a.join();
    b.join();
    EXPECT_EQ(bad_bytes, 0);
    EXPECT_EQ(bad_text, 0);
    EXPECT_EQ(vellix_get_options(), 0u);  // this thread's options are untouched
}
