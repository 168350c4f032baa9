// The per-thread options word.
#include <gtest/gtest.h>

#include <string>
#include <thread>

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
