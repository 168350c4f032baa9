// Report dates from PDF dates, PDF dates from caller dates, and the clock.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

#include "core/date.h"

namespace {

struct read_case {
    const char* in;
    const char* want;  // null: no usable date
};

TEST(NormalizePdfDate, TakesTheFirstEightDigits) {
    const read_case cases[] = {
        {"D:20240115103000+01'00'", "2024-01-15"},
        {"20240115", "2024-01-15"},
        {"D:20240115", "2024-01-15"},
        {"D:20241315", "2024-13-15"},  // no range check
        {"D:00000000", "0000-00-00"},
        {"202401159999garbage", "2024-01-15"},
        {"D:2024011", nullptr},  // seven digits
        {"D20240115", nullptr},  // D without colon
        {"d:20240115", nullptr},
        {"2024-01-15", nullptr},
        {"D:", nullptr},
        {"D", nullptr},
        {"", nullptr},
        {" 20240115", nullptr},
        {"D:2024 0115", nullptr},
    };
    for (const auto& c : cases) {
        cstr got = normalize_pdf_date(c.in);
        if (c.want) {
            ASSERT_NE(got, nullptr) << c.in;
            EXPECT_STREQ(got.get(), c.want) << c.in;
        } else {
            EXPECT_EQ(got, nullptr) << c.in << " gave " << got.get();
        }
    }
}

struct write_case {
    const char* in;
    const char* want;  // null: rejected
};

TEST(NormalizeWriteDate, AcceptedAndRejectedForms) {
    const write_case cases[] = {
        // ISO form with the three clock variants and without a usable clock
        {"2024-01-15", "D:20240115000000Z"},
        {"2024-01-15T10:30:00", "D:20240115103000Z"},
        {"2024-01-15 10:30", "D:20240115103000Z"},
        {"2024-01-15t10:30:45", "D:20240115103045Z"},
        {"2024-01-15T10", "D:20240115000000Z"},
        {"2024-01-15T", "D:20240115000000Z"},
        {"2024-01-15 and text", "D:20240115000000Z"},
        {"2024-01-15X10:30:00", "D:20240115000000Z"},
        {"2024-01-15T10:30:00+02:00", "D:20240115103000Z"},
        // compact form, with a clock of any length up to six digits
        {"20240115", "D:20240115000000Z"},
        {"20240115103000", "D:20240115103000Z"},
        {"2024011510", "D:20240115100000Z"},
        {"202401151", "D:20240115010000Z"},
        {"20240115T1030", "D:20240115000000Z"},
        // PDF form is copied as it is, suffix and all
        {"D:20240115103000+01'00'", "D:20240115103000+01'00'"},
        {"D:20241399999999", "D:20241399999999"},
        {"D:2024", nullptr},
        {"D:2024011510300", nullptr},
        {"D:2024011510300x", nullptr},
        // range checks
        {"2024-13-01", nullptr},
        {"2024-00-10", nullptr},
        {"2024-01-00", nullptr},
        {"2024-01-32", nullptr},
        {"2024-02-31", "D:20240231000000Z"},
        {"0999-01-01", nullptr},
        {"10000-01-01", nullptr},
        {"1000-01-01", "D:10000101000000Z"},
        {"9999-12-31T23:59:60", "D:99991231235960Z"},
        {"2024-01-15T24:00:00", nullptr},
        {"2024-01-15T23:60:00", nullptr},
        {"2024-01-15T23:59:61", nullptr},
        {"2024-01-15T23:59:60", "D:20240115235960Z"},
        // a written PDF date never carries a minus sign
        {"2024-01-15T-1:00:00", nullptr},
        {"2024-01-15T10:-5", nullptr},
        {"2024-01-15 10:30:-1", nullptr},
        {"2024011510-1", nullptr},
        {"20240115-1", "D:20240115000000Z"},
        // numbers far beyond 32 bits never wrap into range
        {"4294969320-01-15", nullptr},
        {"2024-4294967297-15", nullptr},
        {"2024-01-15T4294967296:00", nullptr},
        // other shapes
        {"2024-1-15", nullptr},  // nine bytes; the compact scan reads a negative month
        {"2024/01/15", nullptr},
        {"", nullptr},
        {"yesterday", nullptr},
        {"2024011", nullptr},
    };
    for (const auto& c : cases) {
        char out[DATE_BUF];
        std::memset(out, '#', sizeof out);
        int r = normalize_write_date(c.in, out);
        if (c.want) {
            ASSERT_EQ(r, 0) << c.in;
            EXPECT_STREQ(out, c.want) << c.in;
        } else {
            EXPECT_EQ(r, 1) << c.in << " gave " << std::string(out, strnlen(out, sizeof out));
        }
    }
}

TEST(NormalizeWriteDate, NullIsRejected) {
    char out[DATE_BUF];
    EXPECT_EQ(normalize_write_date(nullptr, out), 1);
}

TEST(NormalizeWriteDate, LongPdfFormIsCutTo31Bytes) {
    std::string in = "D:20240115103000" + std::string(100, 'z');
    char out[DATE_BUF];
    ASSERT_EQ(normalize_write_date(in.c_str(), out), 0);
    EXPECT_EQ(std::string(out), in.substr(0, 31));
}

TEST(TodayPdfDate, IsTheCurrentUtcTime) {
    std::time_t before = std::time(nullptr);
    char out[DATE_BUF];
    today_pdf_date(out);
    std::time_t after = std::time(nullptr);
    ASSERT_EQ(std::strlen(out), 17u);
    EXPECT_EQ(std::string(out, 2), "D:");
    EXPECT_EQ(out[16], 'Z');
    for (int i = 2; i < 16; ++i) EXPECT_TRUE(out[i] >= '0' && out[i] <= '9') << out;

    // The text names a second between the two clock readings.
    std::tm parts{};
    ASSERT_EQ(std::sscanf(out, "D:%4d%2d%2d%2d%2d%2dZ", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                          &parts.tm_hour, &parts.tm_min, &parts.tm_sec),
              6);
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    std::time_t t = timegm(&parts);
    EXPECT_GE(t, before);
    EXPECT_LE(t, after);

    // What it writes is accepted by the writer's own date check unchanged.
    char back[DATE_BUF];
    ASSERT_EQ(normalize_write_date(out, back), 0);
    EXPECT_STREQ(back, out);
}

}  // namespace
