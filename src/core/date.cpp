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

namespace {

// n decimal digits at s[*i] into *v; false (and *i unchanged) when not there.
bool digits(std::string_view s, size_t* i, int n, int* v) {
    if (*i + static_cast<size_t>(n) > s.size()) return false;
    int x = 0;
    for (int k = 0; k < n; ++k) {
        char c = s[*i + static_cast<size_t>(k)];
        if (c < '0' || c > '9') return false;
        x = x * 10 + (c - '0');
    }
    *i += static_cast<size_t>(n);
    *v = x;
    return true;
}

std::string two(int v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02d", v);
    return b;
}

}  // namespace

std::string pdf_date_to_iso(std::string_view s) {
    size_t i = s.substr(0, 2) == "D:" ? 2 : 0;
    int year, v;
    if (!digits(s, &i, 4, &year) || year < 1000) return {};
    char b[8];
    std::snprintf(b, sizeof b, "%04d", year);
    std::string out = b;
    static const char* const SEPS[] = {"-", "-", "T", ":", ":"};
    static const int MAX[] = {12, 31, 23, 59, 60};
    static const int MIN[] = {1, 1, 0, 0, 0};
    int parts = 0;
    for (; parts < 5 && digits(s, &i, 2, &v); ++parts) {
        if (v < MIN[parts] || v > MAX[parts]) break;
        out += SEPS[parts];
        out += two(v);
    }
    if (parts == 3) out += ":00";  // hours alone: ISO 8601 times need minutes
    if (parts < 3 || i >= s.size()) return out;
    char o = s[i++];
    if (o == 'Z') return out + "Z";
    if (o != '+' && o != '-') return out;
    int oh, om = 0;
    if (!digits(s, &i, 2, &oh) || oh > 23) return out;
    if (i < s.size() && s[i] == '\'') ++i;
    if (!digits(s, &i, 2, &om) || om > 59) om = 0;
    return out + o + two(oh) + ":" + two(om);
}

std::string iso_date_to_pdf(std::string_view s) {
    size_t i = 0;
    int year, mon = 1, day = 1, h = 0, mi = 0, sec = 0;
    if (!digits(s, &i, 4, &year) || year < 1000) return {};
    auto sep = [&](char c) {
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    };
    // Missing parts are the first month, day and instant.
    auto pdf = [&](const std::string& offset) {
        return "D:" + std::to_string(year) + two(mon) + two(day) + two(h) + two(mi) + two(sec) + offset;
    };
    if (!sep('-')) return i == s.size() ? pdf("") : std::string();
    if (!digits(s, &i, 2, &mon) || mon < 1 || mon > 12) return {};
    if (!sep('-')) return i == s.size() ? pdf("") : std::string();
    if (!digits(s, &i, 2, &day) || day < 1 || day > 31) return {};
    if (i == s.size()) return pdf("");
    if (!sep('T') && !sep('t') && !sep(' ')) return {};
    if (!digits(s, &i, 2, &h) || h > 23 || !sep(':') || !digits(s, &i, 2, &mi) || mi > 59) return {};
    if (sep(':')) {
        if (!digits(s, &i, 2, &sec) || sec > 60) return {};
        if (sep('.') || sep(','))
            while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    }
    if (i == s.size()) return pdf("");
    if (sep('Z') || sep('z')) return i == s.size() ? pdf("Z") : std::string();
    char o = s[i];
    if (o != '+' && o != '-') return {};
    ++i;
    int oh, om = 0;
    if (!digits(s, &i, 2, &oh) || oh > 23) return {};
    sep(':');
    if (i < s.size() && (!digits(s, &i, 2, &om) || om > 59)) return {};
    if (i != s.size()) return {};
    return pdf(std::string(1, o) + two(oh) + "'" + two(om) + "'");
}
