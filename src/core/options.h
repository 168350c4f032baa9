// The per-thread options word: which conforming behaviours an export uses.
// 0 is the byte-exact default. Bits match the VELLIX_ option macros of the
// public header.
#pragma once

constexpr unsigned OPT_UNICODE = 0x01u;  // text strings decoded to UTF-8; writers take UTF-8
constexpr unsigned OPT_RESOLVE = 0x02u;  // structures read as the PDF standard defines them
constexpr unsigned OPT_KNOWN = OPT_UNICODE | OPT_RESOLVE;

// This thread's options; a new thread starts with 0.
unsigned options_get() noexcept;
// Replaces this thread's options with `bits` (the caller has checked them).
void options_set(unsigned bits) noexcept;
// True when every bit of `bit` is on for this thread.
inline bool option_on(unsigned bit) noexcept { return (options_get() & bit) == bit; }
