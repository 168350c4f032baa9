// The output file format shared by every write: header, every object of the
// table in ascending number, objects added by the plan, cross-reference
// table, trailer. Long runs of the document's bytes are not copied.
#pragma once

#include <cstdint>
#include <vector>

#include "core/strbuf.h"
#include "load/doc.h"
#include "write/write_plan.h"

// One piece of an output file: len bytes at ext (bytes of the document,
// written from where they lie) or, when ext is null, the len bytes at offset
// off of the writer's own text.
struct out_piece {
    const uint8_t* ext;
    uint64_t off;
    uint64_t len;
};

// An output file as its pieces, in order: valid while the document and the
// plan it was built from are.
struct out_pieces {
    strbuf text;
    std::vector<out_piece> pieces;
};

// Whether the stream of row e lies whole in the file (its dictionary,
// keyword and data in order): then it is written from its parts.
bool stream_bounds_ok(const pdf_doc& doc, const obj_entry& e);

// Builds the whole output file for doc under plan into *out. 0 with "out of
// memory" when the offset table or the order cannot be had; an append that
// fails leaves *out empty (write_output_pieces then refuses it).
int doc_emit_pieces(const pdf_doc& doc, const write_plan& plan, out_pieces* out);

// "failed to build output" for an empty file, else the atomic file write of
// the pieces (write_file_atomic_v, with its check when given).
int write_output_pieces(const char* out_path, const out_pieces& out,
                        bool (*check)(const char* temp_path, void* ctx) = nullptr, void* ctx = nullptr);
