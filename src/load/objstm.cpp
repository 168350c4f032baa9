// Expansion of compressed object streams into rows of the object table.
#include "load/objstm.h"

#include "load/doc.h"

// Not expanded yet: documents load with their direct objects only.
void objstm_expand(pdf_doc*) {}
