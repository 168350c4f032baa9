// Lexical scanning primitives over raw PDF bytes. Positions and lengths are
// signed 32-bit; -1 means not found / not of the expected form. No primitive
// reads at or beyond the end it is given.
#pragma once

#include <cstdint>

// PDF white space: NUL, HT, LF, FF, CR, space.
inline bool is_pdf_ws(uint8_t c) { return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32; }
// ASCII white space as isspace() in the C locale (includes VT, excludes NUL).
inline bool is_ascii_ws(uint8_t c) { return c == ' ' || (c >= 9 && c <= 13); }
inline bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }
inline bool is_alpha(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
// Word character: ASCII letter or digit.
inline bool is_word(uint8_t c) { return is_alpha(c) || is_digit(c); }
// Name-continuation character: word characters, '+', '-', '_'.
inline bool is_name_cont(uint8_t c) { return is_word(c) || c == '+' || c == '-' || c == '_'; }

int32_t find_kw(const uint8_t* buf, int32_t len, int32_t from, const char* kw);
int kw_at(const uint8_t* buf, int32_t pos, int32_t len, const char* kw);
int32_t find_name(const uint8_t* buf, int32_t len, int32_t start, int32_t limit, const char* name);
int32_t find_name_top(const uint8_t* buf, int32_t len, int32_t start, int32_t limit, const char* name);
int32_t find_dict_close(const uint8_t* buf, int32_t start, int32_t end);
int32_t dict_stream_kw(const uint8_t* buf, int32_t len, int32_t dict_pos);
int32_t value_start_after(const uint8_t* buf, int32_t len, int32_t start, const char* name);
int32_t parse_int_at(const uint8_t* buf, int32_t len, int32_t* pos);
int32_t read_int_adv(const uint8_t* buf, int32_t len, int32_t* pos);
int32_t parse_ref_at(const uint8_t* buf, int32_t len, int32_t pos);
int32_t skip_ws(const uint8_t* buf, int32_t pos, int32_t end);
