// A pdf_doc holding given bytes in an exactly sized heap block (no zero after
// them), for testing loader steps without a file; reads past the end show up
// under AddressSanitizer.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>

#include "load/doc.h"

inline pdf_doc doc_of(const std::string& s) {
    pdf_doc d;
    auto* p = static_cast<uint8_t*>(std::malloc(s.empty() ? 1 : s.size()));
    if (!s.empty()) std::memcpy(p, s.data(), s.size());
    d.bytes.reset(p);
    d.data = p;
    d.len = static_cast<int32_t>(s.size());
    return d;
}

// Time bounds in tests are set for optimised builds; sanitizer builds run
// several times slower. The bounds stay far below what a quadratic step
// would take on the same input.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double TIME_SCALE = 6.0;
#else
constexpr double TIME_SCALE = 1.0;
#endif
