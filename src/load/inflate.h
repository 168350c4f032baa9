// zlib (RFC 1950) / DEFLATE (RFC 1951) decoder into a caller buffer.
#pragma once

#include <cstdint>

// Decodes src into dst (capacity dst_cap). Returns 0 with *out_len bytes
// valid (a clean end, or invalid data after which decoding stopped), or -1
// (input ends early, output beyond dst_cap, refused header) with *out_len 0.
int inflate_decompress(const uint8_t* src, uint64_t src_len, uint8_t* dst, uint64_t dst_cap, uint64_t* out_len);
