// Last-error message and export guard behaviour.
#include <gtest/gtest.h>

#include <string>

#include "core/frame.h"
#include "vellix.h"

TEST(Frame, InitAndCleanupEmptyTheMessage) {
    set_error("cannot open %s", "x.pdf");
    EXPECT_STREQ(vellix_last_error(), "cannot open x.pdf");
    EXPECT_EQ(vellix_init(), 1);
    EXPECT_STREQ(vellix_last_error(), "");
    set_error("boom");
    vellix_cleanup();
    EXPECT_STREQ(vellix_last_error(), "");
    EXPECT_EQ(vellix_last_error(), vellix_last_error());
}

TEST(Frame, LongMessageIsCutTo1023Bytes) {
    std::string path(2000, 'p');
    set_error("cannot open %s", path.c_str());
    std::string msg = vellix_last_error();
    ASSERT_EQ(msg.size(), 1023u);
    EXPECT_EQ(msg.substr(0, 12), "cannot open ");
    EXPECT_EQ(msg.back(), 'p');
}

TEST(Frame, GuardTurnsExceptionsIntoTheFailureValue) {
    clear_error();
    int r = export_guard(0, "out of memory", []() -> int { throw std::bad_alloc(); });
    EXPECT_EQ(r, 0);
    EXPECT_STREQ(g_err, "out of memory");
}

TEST(Frame, PublishMovesTextIntoSlotOrFails) {
    result_slot slot;
    strbuf b = strbuf_start();
    buf_str(&b, "{}");
    const char* t = slot_publish(slot, b, "failed to build JSON");
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t, "{}");
    EXPECT_EQ(b.data, nullptr);
    strbuf empty = strbuf_start();
    clear_error();
    EXPECT_EQ(slot_publish(slot, empty, "failed to build JSON"), nullptr);
    EXPECT_STREQ(g_err, "failed to build JSON");
}
