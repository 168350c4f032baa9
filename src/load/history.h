// The incremental sections of a file, read from its cross-reference data
// for reports that tell the file's history: each section's kind, where it
// starts, its trailer dictionary and the objects it lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "load/doc.h"

// One in-use entry of a section: object `num` in the file body at `where`
// (in_stream false), or member of object stream `where` (in_stream true).
struct history_entry {
    int32_t num = 0;
    bool in_stream = false;
    uint64_t where = 0;
};

enum class section_kind { none, table, stream };

// One section. `offset` is where its "xref" keyword or cross-reference stream
// object starts, or, for a trailer without a cross-reference section, where
// "trailer" stands. The trailer dictionary is doc.data[trailer_start,
// trailer_end) (a stream's own dictionary); trailer_start < 0 when unread.
struct history_section {
    pos offset = 0;
    section_kind kind = section_kind::none;
    pos trailer_start = -1;
    pos trailer_end = -1;
    std::vector<history_entry> entries;
};

// The sections oldest first: the chain from the last startxref through
// /Prev (a hybrid table's /XRefStm rows counted with it), up to the first
// link that does not parse. When that chain gives nothing, every trailer
// dictionary of the file in file order, each a section of kind none.
// Throws std::bad_alloc when memory runs out.
std::vector<history_section> doc_history(const pdf_doc& doc);

// The row of object num, generation free, as the loader would read it from
// the file body at `off` (header, dictionary, stream extent by a direct
// /Length, endobj); false when no such object starts there.
bool doc_row_at(const pdf_doc& doc, pos off, int32_t num, obj_entry* row);

// One object as an object stream holds it: its number, its place in the
// stream's list and its text at [start, start + len) of the decoded stream.
struct objstm_member {
    int32_t num;
    int32_t index;
    pos start;
    pos len;
};

// Every usable object container c lists, superseded copies included, read
// by the loader's rules from the stream decoded anew into *text. False when
// the stream does not decode (objstm.cpp). Throws std::bad_alloc when memory
// runs out.
bool objstm_member_texts(const pdf_doc& doc, const objstm_container& c, std::string* text,
                         std::vector<objstm_member>* members);
