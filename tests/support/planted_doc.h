// A document with metadata planted in many places, for the tests of the
// reports and writers that find or remove it.
#pragma once

#include <string>

#include "support/pdf_builder.h"

// Identifiers of the planted document's trailer (both elements ID_A).
inline constexpr char ID_A[] = "0123456789abcdef0123456789abcdef";
inline constexpr char ID_B[] = "fedcba9876543210fedcba9876543210";

// An XMP packet whose dc:title is title.
std::string xmp_packet(const std::string& title);

// Catalog 1 (XMP 10, /PieceInfo), pages 2, page 3 (XMP 12, /PieceInfo),
// image 13 (XMP 15), font 14 (XMP 16), an XMP stream nothing names (17),
// Info 4 with a UTF-16 author, and object stream 20 holding an Info-like
// dictionary (5) nothing names.
PdfBuilder planted();
