// The per-thread options word: which conforming behaviours an export uses.
// 0 is the byte-exact default. Bits match the VELLIX_ option macros of the
// public header.
#pragma once

constexpr unsigned OPT_UNICODE = 0x01u;  // text strings decoded to UTF-8; writers take UTF-8
constexpr unsigned OPT_RESOLVE = 0x02u;  // structures read as the PDF standard defines them
constexpr unsigned OPT_KEEP_STREAMS = 0x04u;     // full rewrites copy untouched object streams
constexpr unsigned OPT_INCREMENTAL = 0x08u;      // Info/XMP writers append an update to the input's bytes
constexpr unsigned OPT_SYNC = 0x10u;             // Info and XMP writes keep the two in agreement
constexpr unsigned OPT_KEEP_SIGNATURES = 0x20u;  // full rewrites of signed documents are refused
constexpr unsigned OPT_KNOWN =
    OPT_UNICODE | OPT_RESOLVE | OPT_KEEP_STREAMS | OPT_INCREMENTAL | OPT_SYNC | OPT_KEEP_SIGNATURES;

// This thread's options; a new thread starts with 0.
unsigned options_get() noexcept;
// Replaces this thread's options with `bits` (the caller has checked them).
void options_set(unsigned bits) noexcept;
// True when every bit of `bit` is on for this thread.
inline bool option_on(unsigned bit) noexcept { return (options_get() & bit) == bit; }
