// The PDF lexer: byte classes and the searches every reader asks of raw PDF
// text (white space, keywords, names, strings, dictionaries, numbers,
// references, object headers). Nothing is tokenised.
//
// Conventions, for every function below:
//  - Positions and lengths are `pos` (64-bit signed). Arguments come in ONE
//    order: (text, start, end, ...), where text[start, end) is the range
//    looked at. A position that is read and advanced is passed as a pointer
//    in the start slot.
//  - -1 means "not found" or "not of the expected form".
//  - No function reads at or beyond `end`.
#pragma once

#include <cstdint>
#include <type_traits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using pos = int64_t;

// PDF white space: NUL, HT, LF, FF, CR, space.
constexpr bool is_pdf_ws(uint8_t c) { return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32; }
// ASCII white space as isspace() in the C locale (includes VT, excludes NUL).
inline bool is_ascii_ws(uint8_t c) { return c == ' ' || (c >= 9 && c <= 13); }
inline bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }

// The first position in [i, end) of one of the bytes C, or end. Sixteen
// bytes at a time where SSE2 is there: the scanners skip long runs of
// numbers, references and white space with it.
template <char... C>
[[gnu::always_inline]] inline pos next_of(const uint8_t* t, pos i, pos end) {
#if defined(__SSE2__)
    while (end - i >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
        __m128i hit = _mm_setzero_si128();
        ((hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(C)))), ...);
        const auto bits = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (bits) return i + __builtin_ctz(bits);
        i += 16;
    }
#endif
    while (i < end && ((t[i] != static_cast<uint8_t>(C)) && ...)) ++i;
    return i;
}
inline bool is_alpha(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
// Word character: ASCII letter or digit.
inline bool is_word(uint8_t c) { return is_alpha(c) || is_digit(c); }
// Name-continuation character: word characters, '+', '-', '_'.
inline bool is_name_cont(uint8_t c) { return is_word(c) || c == '+' || c == '-' || c == '_'; }
// Value of a hexadecimal digit (either case), or -1.
inline int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// --- White space -----------------------------------------------------------

// First position >= max(p, 0) that is not PDF white space, or end.
pos ws_skip(const uint8_t* t, pos p, pos end);

// --- Keywords --------------------------------------------------------------

// First whole-word occurrence of kw at i >= max(start, 0) with i + strlen(kw)
// <= end, or -1 (also for null text, empty kw or end <= 0). Whole word: the
// byte before i (if i > 0) and the byte after kw (if before end) are not word
// characters. Linear in the range.
pos kw_find(const uint8_t* t, pos start, pos end, const char* kw);
// Whether kw occurs as a whole word (rule of kw_find) exactly at p; false for
// p < 0 or p + strlen(kw) > end.
bool kw_is(const uint8_t* t, pos p, pos end, const char* kw);

// --- Names -----------------------------------------------------------------

// Slash of the first /name at p >= start lying wholly in [.., end) and not
// continued by a name-continuation byte (a key ending at end matches). Does
// not skip strings, comments or nested dictionaries; -1 at once when
// end < start + strlen(name) + 1.
pos name_find(const uint8_t* t, pos start, pos end, const char* name);
// Like name_find, but only at nesting depth 0 or 1 counted from start ("<<"
// adds one, ">>" removes one, never below 0) and outside literal strings,
// hexadecimal strings and comments. An unterminated string or comment, or a
// '<', '>' or '(' as the last byte of the range, gives -1. Started at an
// object's "<<", depth 1 is that dictionary.
pos name_find_top(const uint8_t* t, pos start, pos end, const char* name);
// Slash of the first /name at depth 0 of the dictionary text[start, end):
// the text's own "<<" brings the depth from -1 to 0, every further "<<" and
// "[" adds one, ">>" and "]" remove one; literal strings are skipped
// (unterminated: to end); hexadecimal strings and comments are not special.
// Only positions with a byte after them are looked at. -1 when none, for
// null text, start < 0 or start + 1 >= end.
pos name_find_depth0(const uint8_t* t, pos start, pos end, const char* name);
// End of the run of name bytes (name-continuation bytes and '#') from p.
pos name_run_end(const uint8_t* t, pos p, pos end);

// --- Strings ---------------------------------------------------------------

// Position after the ")" closing the literal string whose "(" is at p
// (backslash escapes one byte, nested parentheses counted), or -1 when the
// string runs into end (a backslash as the last byte included).
pos literal_end(const uint8_t* t, pos p, pos end);
// Position after the first '>' after p (the end of a hexadecimal string
// opened at p), or -1 when there is none before end.
pos hex_end(const uint8_t* t, pos p, pos end);

// --- Dictionaries ----------------------------------------------------------

// Whether "<<" starts at p (p + 1 < end).
inline bool dict_opens(const uint8_t* t, pos p, pos end) { return p + 1 < end && t[p] == '<' && t[p + 1] == '<'; }
// Position of the ">>" closing the first "<<" at or after max(start, 0), or
// -1. A depth starts at 0; "<<" adds one, ">>" removes one (a stray ">>"
// takes it below 0) and returns when it reaches 0; literal strings are
// skipped (-1 when one reaches end). '<', '>' or '(' as the last byte before
// end gives -1. Comments and hexadecimal strings are not special.
pos dict_close(const uint8_t* t, pos start, pos end);
// Position of the keyword "stream" following the dictionary opened at start
// (its dict_close, then white space), or -1.
pos stream_kw_after(const uint8_t* t, pos start, pos end);

// --- Key values ------------------------------------------------------------

// Value of /name (name_find from start): the first byte after the key and
// the white space after it. -1 when the key is absent, ends at end, or only
// white space follows it up to end.
pos key_value(const uint8_t* t, pos start, pos end, const char* name);
// Value of /name as above, except that further name bytes after the key
// (name_run_end: "#20" of /Type#20) are skipped first and the result may
// equal end.
pos key_value_past_name(const uint8_t* t, pos start, pos end, const char* name);

// --- Numbers and references ------------------------------------------------

// Decimal integer at *p: -1 when *p is outside [0, end); white space is
// skipped; an optional '-' (not '+'); at least one digit; 32-bit wrapping
// arithmetic. On success *p moves after the digits (only then).
namespace lexer_detail {
// int_read's rule with values of the signed type S, in wrapping arithmetic
// of its unsigned twin.
template <class S>
S read_decimal(const uint8_t* t, pos* p, pos end) {
    using U = std::make_unsigned_t<S>;
    pos q = *p;
    if (q < 0 || q >= end) return -1;
    while (q < end && is_pdf_ws(t[q])) ++q;
    if (q >= end) return -1;
    bool neg = false;
    if (t[q] == '-') {
        neg = true;
        if (++q >= end) return -1;
    }
    if (!is_digit(t[q])) return -1;
    U v = 0;  // unsigned so that overflow wraps without undefined behaviour
    while (q < end && is_digit(t[q])) v = static_cast<U>(v * 10u + static_cast<U>(t[q++] - '0'));
    *p = q;
    return static_cast<S>(neg ? U{0} - v : v);
}
}  // namespace lexer_detail

// Inline: the readers call these for every number they meet.
inline int32_t int_read(const uint8_t* t, pos* p, pos end) { return lexer_detail::read_decimal<int32_t>(t, p, end); }
// A file offset at *p: the rule of int_read in 64-bit wrapping arithmetic,
// so offsets beyond 2 GiB are read as they are written.
inline pos offset_read(const uint8_t* t, pos* p, pos end) { return lexer_detail::read_decimal<pos>(t, p, end); }
// As int_read, but an optional '+' is accepted too and *p < 0 is the only
// refused start (used for the integer list of an object stream).
// Inline: an object stream's header is thousands of these.
inline int32_t int_read_signed(const uint8_t* t, pos* p, pos end) {
    pos q = *p;
    if (q < 0) return -1;
    while (q < end && is_pdf_ws(t[q])) ++q;
    if (q >= end) return -1;
    bool neg = false;
    if (t[q] == '+' || t[q] == '-') {
        neg = t[q] == '-';
        if (++q >= end) return -1;
    }
    if (!is_digit(t[q])) return -1;
    uint32_t v = 0;  // unsigned so that overflow wraps without undefined behaviour
    while (q < end && is_digit(t[q])) v = v * 10u + static_cast<uint32_t>(t[q++] - '0');
    *p = q;
    return static_cast<int32_t>(neg ? 0u - v : v);
}
// Object number (> 0) of the reference "N [G] R" starting at p: white space
// between the parts, an optional generation number, an 'R' not followed by a
// word character. -1 otherwise.
int32_t ref_read(const uint8_t* t, pos p, pos end);

// --- Object headers --------------------------------------------------------

// From p: white space, a digit run, white space, a digit run, white space
// (each run may be empty). The position where the keyword "obj" of a
// header "N G obj" is expected.
pos obj_numbers_end(const uint8_t* t, pos p, pos end);
// The start of an object's value: obj_numbers_end, then the keyword "obj"
// and white space when "obj" stands there.
pos obj_value_start(const uint8_t* t, pos p, pos end);

// --- Values ----------------------------------------------------------------

// End (exclusive) of the value that starts at p of text[.., end), or -1 when
// no rule measures it: strings, names (with '#'), arrays and dictionaries
// (strings inside honoured), numbers (optionally signed), indirect references
// carried whole, and keywords.
pos value_end(const uint8_t* t, pos p, pos end);
