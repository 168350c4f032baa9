// Date normalisation between PDF dates and report / caller dates.
#pragma once

#include <time.h>

#include <string>
#include <string_view>

#include "core/strbuf.h"

constexpr int DATE_BUF = 32;

// "YYYY-MM-DD" from a PDF date text, or null when it starts with no usable date.
cstr normalize_pdf_date(const char* text);
// Caller date -> PDF date in out (32 bytes). 0 on success, 1 on rejection.
int normalize_write_date(const char* text, char out[DATE_BUF]);
// A PDF date ("D:YYYYMMDDHHmmSSOHH'mm'", the prefix optional, later parts
// optional) as ISO 8601 with its offset ("YYYY-MM-DDTHH:mm:SS+HH:mm", as far
// as the date goes); empty when it starts with no usable year.
std::string pdf_date_to_iso(std::string_view s);
// ISO 8601 ("YYYY[-MM[-DD[THH:mm[:SS[.s]][Z|+HH:mm|-HH:mm]]]]") as a PDF date
// with its offset ("D:YYYYMMDDHHmmSS+HH'mm'", or "Z"; none when the text
// has none); empty when it is not such a date.
std::string iso_date_to_pdf(std::string_view s);
// Current UTC time as "D:YYYYMMDDHHMMSSZ" (clock_now's seconds).
void today_pdf_date(char out[DATE_BUF]);

// The wall clock written dates and file identifiers are made from
// (CLOCK_REALTIME), unless clock_fix has fixed it for this thread.
void clock_now(struct timespec* t);
// Test aid, per thread: clock_now gives *t from now on; null restores the
// real clock. Lets two writes of one document be compared byte for byte.
void clock_fix(const struct timespec* t);
