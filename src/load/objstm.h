// Expansion of compressed object streams into rows of the object table.
#pragma once

struct pdf_doc;

// Decodes every object stream of doc->objs and appends one row per object held.
void objstm_expand(pdf_doc* doc);
