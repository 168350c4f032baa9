// zlib (RFC 1950) / DEFLATE (RFC 1951) decoder into a caller buffer.
#pragma once

#include <cstdint>

// Decodes src into dst (capacity dst_cap). Returns 0 with *out_len bytes
// valid (a clean end, or invalid data after which decoding stopped), or -1
// (input ends early, output beyond dst_cap, refused header) with *out_len 0.
int inflate_decompress(const uint8_t* src, uint64_t src_len, uint8_t* dst, uint64_t dst_cap, uint64_t* out_len);

// Scratch bytes that inflate_measure needs.
constexpr uint64_t INFLATE_MEASURE_SCRATCH = 1u << 20;
// Learns what inflate_decompress would give with a large enough capacity,
// without storing the output: src is decoded through a sliding window in
// scratch (INFLATE_MEASURE_SCRATCH bytes). Returns 0 with *out_len the length
// inflate_decompress reports for every capacity from *out_len up to 1 GiB, or
// -1 (with *out_len 0) when it fails for every capacity up to `limit`.
int inflate_measure(const uint8_t* src, uint64_t src_len, uint64_t limit, uint8_t* scratch, uint64_t* out_len);
