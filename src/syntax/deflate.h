// zlib (RFC 1950) / DEFLATE (RFC 1951) encoder: one block of fixed Huffman
// codes after a greedy match search. Small and fast rather than tight; it
// serves data that repeats a lot (cross-reference rows after a predictor).
#pragma once

#include <cstdint>
#include <string>

// The zlib stream of src[0, n). May throw std::bad_alloc.
std::string deflate_compress(const uint8_t* src, uint64_t n);
