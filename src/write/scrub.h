// The plan of a scrub: a full rewrite that keeps no metadata.
#pragma once

#include "load/doc.h"
#include "write/write_plan.h"

// Fixes the plan that writes doc with no metadata left: only the objects
// reached from the catalog (and the pages the document lists) are written,
// every XMP stream (/Type /Metadata /Subtype /XML) is left out, every
// /Metadata and /PieceInfo entry of every dictionary is taken out, the Info
// keys of Info-like dictionaries that are still reached are taken out, the
// trailer names no Info and carries a new random /ID. False with a message
// naming path when the document has no catalog.
bool scrub_plan_make(const pdf_doc& doc, const char* path, write_plan* plan);

// A new random file identifier, as "[<32 hex digits><32 hex digits>]".
std::string random_file_id();
