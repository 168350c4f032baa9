// The two writers and the output file format they share: header, every
// object of the table in ascending number, objects made by the writer,
// cross-reference table, trailer.
#pragma once

#include <cstdint>
#include <vector>

#include "core/strbuf.h"
#include "load/doc.h"

// What a writer changes while serialising a document. Numbers are -1 when unused.
struct write_plan {
    // Info: the table object info_num is left out (info_drop) or gets the body
    // info_text; with info_new the text becomes a new object numbered info_new_num.
    int32_t info_num = -1;
    bool info_drop = false;
    const char* info_text = nullptr;
    uint64_t info_len = 0;
    bool info_new = false;
    int32_t info_new_num = -1;
    bool trailer_info = false;  // the trailer names the Info object

    // Metadata stream: the table object meta_num is left out (meta_drop) or
    // gets the packet as its stream; with meta_new the packet becomes a new
    // object numbered meta_new_num.
    int32_t meta_num = -1;
    bool meta_drop = false;
    const uint8_t* packet = nullptr;
    uint64_t packet_len = 0;
    bool meta_new = false;
    int32_t meta_new_num = -1;

    // Catalog: when cat_text is set, the table object cat_num is written with
    // this text as its body (edited copy of its own text).
    int32_t cat_num = -1;
    const uint8_t* cat_text = nullptr;
    uint64_t cat_len = 0;

    // The xref section covers the numbers up to the highest object written
    // (Info rewrite) instead of up to the highest of the table and the new
    // objects (full rewrite); they differ when the last object is left out.
    bool size_by_written = false;
};

// True when the trailer's Info object is in the table and may be replaced or
// left out. An Info reference naming the catalog, a page or a page-tree node
// is not obeyed: rewriting or
// dropping that object would destroy the document, so the writers treat the
// file as one without an Info dictionary.
bool writer_info_in_table(const pdf_doc& doc);

// Highest object number of the table (new objects are numbered above it).
int32_t doc_top_num(const pdf_doc& doc);

// Builds the whole output file for doc under plan into out. 0 with
// "out of memory" when a working structure or the buffer cannot be had.
int doc_emit(const pdf_doc& doc, const write_plan& plan, strbuf* out);

// "failed to build output" for an empty buffer, else the atomic file write.
int write_output(const char* out_path, const strbuf& out);

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

// The same file as doc_emit, with long runs of the document's bytes (stream
// data above all) left where they lie instead of copied.
int doc_emit_pieces(const pdf_doc& doc, const write_plan& plan, out_pieces* out);

// "failed to build output" for an empty file, else the atomic file write of
// the pieces.
int write_output_pieces(const char* out_path, const out_pieces& out);

// Info rewrite: mode 1 writes a new Info dictionary from the four values
// (null keeps a value), mode 0 removes the Info dictionary.
int doc_write_meta(const pdf_doc& doc, const char* out_path, int mode, const char* title, const char* author,
                   const char* subject, const char* keywords);

// Full rewrite. info_flag 1 keeps/rebuilds the Info dictionary (from the eight
// values when fields is not null), 0 removes it. xmp_mode 0 leaves the
// metadata stream alone, 1 replaces or adds it with packet, 3 removes it.
int doc_write2(const pdf_doc& doc, const char* out_path, int info_flag, int xmp_mode, const char* packet,
               int32_t packet_len, const char* const* fields);

// Removes every "/Metadata N G R" (with the white space after the R) from the
// NUL-terminated text of *len bytes; *len is lowered and the text stays
// NUL-terminated.
void dict_remove_metadata_ref(char* text, int32_t* len);
