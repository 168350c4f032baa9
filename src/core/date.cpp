// PDF dates <-> report dates and caller dates.
#include "core/date.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

bool is_dec(char c) { return c >= '0' && c <= '9'; }

// Calendar and clock fields of a caller date, as scanned.
struct date_fields {
    long year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Every field in range. Time fields are bounded below too, so a written PDF
// date never holds a minus sign.
bool date_fields_ok(const date_fields& f) {
    return f.year >= 1000 && f.year <= 9999 && f.month >= 1 && f.month <= 12 && f.day >= 1 &&
           f.day <= 31 && f.hour >= 0 && f.hour <= 23 && f.minute >= 0 && f.minute <= 59 &&
           f.second >= 0 && f.second <= 60;
}

// "YYYY-MM-DD" with an optional "T", "t" or " " and "hh:mm[:ss]" after it.
// False when the text is not of this form (fewer than ten bytes consumed).
bool scan_iso(const char* text, date_fields& f) {
    int used = 0;
    if (std::sscanf(text, "%ld-%ld-%ld%n", &f.year, &f.month, &f.day, &used) != 3 || used < 10)
        return false;
    char sep = text[used];
    if (sep != 'T' && sep != 't' && sep != ' ') return true;
    const char* clock = text + used + 1;
    if (std::sscanf(clock, "%ld:%ld:%ld", &f.hour, &f.minute, &f.second) == 3) return true;
    f.second = 0;
    if (std::sscanf(clock, "%ld:%ld", &f.hour, &f.minute) == 2) return true;
    f.hour = f.minute = 0;
    return true;
}

// "YYYYMMDD" optionally followed by up to six clock digits "hhmmss".
bool scan_compact(const char* text, date_fields& f) {
    int used = 0;
    if (std::sscanf(text, "%4ld%2ld%2ld%n", &f.year, &f.month, &f.day, &used) != 3 || used != 8)
        return false;
    // Whatever the clock scan assigns counts; unassigned fields stay 0.
    if (is_dec(text[8])) std::sscanf(text + 8, "%2ld%2ld%2ld", &f.hour, &f.minute, &f.second);
    return true;
}

}  // namespace

cstr normalize_pdf_date(const char* text) {
    if (!text) return nullptr;
    const char* p = text;
    if (*p == 'D') {
        if (p[1] != ':') return nullptr;
        p += 2;
    }
    for (int i = 0; i < 8; ++i)
        if (!is_dec(p[i])) return nullptr;
    char out[16];
    std::snprintf(out, sizeof out, "%.4s-%.2s-%.2s", p, p + 4, p + 6);
    return cstr_dup(out);
}

int normalize_write_date(const char* text, char out[DATE_BUF]) {
    if (!text) return 1;
    if (text[0] == 'D' && text[1] == ':') {
        for (int i = 2; i < 16; ++i)
            if (!is_dec(text[i])) return 1;  // stops at the terminating zero too
        std::snprintf(out, DATE_BUF, "%s", text);
        return 0;
    }
    date_fields f;
    if (!scan_iso(text, f)) {
        f = date_fields{};
        if (!scan_compact(text, f)) return 1;
    }
    if (!date_fields_ok(f)) return 1;
    std::snprintf(out, DATE_BUF, "D:%04ld%02ld%02ld%02ld%02ld%02ldZ", f.year, f.month, f.day, f.hour,
                  f.minute, f.second);
    return 0;
}

namespace {
thread_local bool t_clock_fixed = false;
thread_local struct timespec t_clock{};
}  // namespace

void clock_now(struct timespec* t) {
    if (t_clock_fixed)
        *t = t_clock;
    else
        clock_gettime(CLOCK_REALTIME, t);
}

void clock_fix(const struct timespec* t) {
    t_clock_fixed = t != nullptr;
    if (t) t_clock = *t;
}

void today_pdf_date(char out[DATE_BUF]) {
    std::time_t now = t_clock_fixed ? t_clock.tv_sec : std::time(nullptr);
    std::tm parts{};
    if (now == static_cast<std::time_t>(-1) || !gmtime_r(&now, &parts) ||
        std::strftime(out, DATE_BUF, "D:%Y%m%d%H%M%SZ", &parts) == 0)
        std::snprintf(out, DATE_BUF, "%s", "D:20260101000000Z");
}
