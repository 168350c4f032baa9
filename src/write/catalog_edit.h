// The catalog edit of an XMP write: its /Metadata references taken out and,
// for a replaced packet, one to the written stream put in.
#pragma once

#include <cstdint>
#include <string>

#include "load/doc.h"

// True when the catalog row can be rewritten: a dictionary without a stream,
// in the file body or from an object stream.
bool catalog_rewritable(const obj_entry* e);

// The catalog's text (a file-body catalog from its dictionary up to endobj,
// one from an object stream whole) without its Metadata references and, when
// xmp_num >= 0, with " /Metadata xmp_num xmp_gen R" before the close of
// its first dictionary.
std::string catalog_rewrite(const pdf_doc& doc, const obj_entry& e, int32_t xmp_num, int32_t xmp_gen);

// Removes every "/Metadata N G R" (with the white space after the R) from the
// NUL-terminated text of *len bytes; *len is lowered and the text stays
// NUL-terminated.
void dict_remove_metadata_ref(char* text, pos* len);
