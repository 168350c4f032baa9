// Loading a document through its cross-reference sections instead of a scan
// of every byte (doc_load), for writes that only append to the file.
//
// The sections name where each object starts; an object is read there the
// way the scan reads one (header, dictionary, stream extent, endobj), and
// the rest of the load (object streams, the choice of one row per number,
// the catalog and Info) is doc_load's own. Two depths:
//
// - Up to a limit of listed objects (SECTIONS_VERIFY_DEFAULT), every object
//   is read and the layout checked: the objects and the tables must cover
//   the file from its header to its end with nothing between them but white
//   space, comments and startxref lines, and no "obj" outside stream data
//   but in headers and endobj. The scan would then find exactly these
//   objects, so the table is doc_load's whole table.
// - Above it the sections are trusted: only the catalog, the Info
//   dictionary, the metadata stream the catalog names and the object streams
//   holding them are read, each checked against every section that lists
//   it (the newest direct copy must be the last one, a compressed object
//   must have no direct copy and one object stream only), and every listed
//   number must lie below the newest /Size. The table holds those rows only.
//   The cost is that of a few objects whatever the size of the file; an
//   object no section lists (a damaged file) is not seen.
//
// Only the pages looked at are read (the file is mapped with random-access
// advice). Whatever does not fit gives false: a section that does not parse,
// an object missing at its offset or of another number or generation, a
// stream whose extent needs a search, bytes outside the objects, encryption,
// a catalog the trailer does not name. The caller then loads the whole file.
// The page list is not built. Nothing is recorded in the message.
#pragma once

#include <cstddef>

#include "load/doc.h"

// Listed objects up to which every object is read and the layout checked.
constexpr size_t SECTIONS_VERIFY_DEFAULT = 512;

// True with *doc loaded (its file mapped) as doc_load would load it, apart
// from the page list, and *whole telling whether doc->objs is the whole table
// or only the rows named above; false when the load does not apply (doc is
// then to be discarded).
bool doc_load_sections(const char* path, pdf_doc* doc, bool* whole);

// Test aid, per thread: the limit of listed objects for the layout check
// (SECTIONS_VERIFY_DEFAULT unless set; 0 trusts the sections of every file).
void sections_verify_limit(size_t objects);
