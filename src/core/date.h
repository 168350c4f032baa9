// Date normalisation between PDF dates and report / caller dates.
#pragma once

#include <time.h>

#include "core/strbuf.h"

constexpr int DATE_BUF = 32;

// "YYYY-MM-DD" from a PDF date text, or null when it starts with no usable date.
cstr normalize_pdf_date(const char* text);
// Caller date -> PDF date in out (32 bytes). 0 on success, 1 on rejection.
int normalize_write_date(const char* text, char out[DATE_BUF]);
// Current UTC time as "D:YYYYMMDDHHMMSSZ" (clock_now's seconds).
void today_pdf_date(char out[DATE_BUF]);

// The wall clock written dates and file identifiers are made from
// (CLOCK_REALTIME), unless clock_fix has fixed it for this thread.
void clock_now(struct timespec* t);
// Test aid, per thread: clock_now gives *t from now on; null restores the
// real clock. Lets two writes of one document be compared byte for byte.
void clock_fix(const struct timespec* t);
