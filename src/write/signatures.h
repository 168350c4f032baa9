// Whether a document carries a digital signature that a full rewrite would
// break.
#pragma once

#include "load/doc.h"

// True when some object's dictionary (nested dictionaries included, so a
// signature written directly into a field's /V counts) holds /ByteRange with
// an array value: the mark of a signature dictionary. One pass over the
// dictionaries of the table; stream data is not read.
bool doc_has_signature(const pdf_doc& doc);
