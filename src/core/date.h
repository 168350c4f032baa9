// Date normalisation between PDF dates and report / caller dates.
#pragma once

#include "core/strbuf.h"

constexpr int DATE_BUF = 32;

// "YYYY-MM-DD" from a PDF date text, or null when it starts with no usable date.
cstr normalize_pdf_date(const char* text);
// Caller date -> PDF date in out (32 bytes). 0 on success, 1 on rejection.
int normalize_write_date(const char* text, char out[DATE_BUF]);
// Current UTC time as "D:YYYYMMDDHHMMSSZ".
void today_pdf_date(char out[DATE_BUF]);
