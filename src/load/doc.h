// The loaded document: file bytes, object table, page list, trailer facts,
// and the indexes built over them while loading.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/huge_pages.h"
#include "core/strbuf.h"
#include "load/arena.h"
#include "load/dict_closer.h"
#include "load/number_index.h"
#include "syntax/dict_view.h"
#include "syntax/lexer.h"

// One row of the object table. Positions are offsets into the file bytes, or
// into objstm_text for rows taken from object streams; -1 means absent.
// Object and generation numbers keep 32-bit semantics.
struct obj_entry {
    int32_t num = 0;
    int32_t gen = 0;
    pos obj_pos = -1;
    pos dict_pos = -1;
    pos stream_kw = -1;
    pos data_start = -1;
    pos data_end = -1;
    pos endobj_pos = -1;
    pos stream_len = -1;
    int32_t has_stream = 0;
    int32_t in_objstm = 0;
    // The object's text: null until the row is reached through doc_find (or
    // doc_expand_all) when its stream is decoded on demand (objstm_stream >= 0);
    // not owned: points into a block of the arena, or into the file bytes.
    const uint8_t* objstm_text = nullptr;
    pos objstm_len = 0;
    // The decoded stream of a row decoded on demand (an index into
    // pdf_doc::lazy.streams) and its start in that stream's text; -1 otherwise.
    int32_t objstm_stream = -1;
    int32_t objstm_off = -1;
    // A row from an object stream: its stream (an index into
    // pdf_doc::containers) and its place in that stream's list; -1 otherwise.
    int32_t objstm_container = -1;
    int32_t objstm_index = -1;
};

// An object stream that yielded rows: its own row as found in the file, and
// the object numbers its header lists, in order (every one, usable or not),
// as pdf_doc::container_members[first_member, first_member + count).
struct objstm_container {
    obj_entry row;
    uint64_t first_member = 0;
    int32_t count = 0;
};

// An object stream whose rows are known and whose text is decoded when one of
// them is first read: its Flate data in the file and its decoded length.
struct lazy_stream {
    const uint8_t* src = nullptr;
    uint64_t src_len = 0;
    uint64_t out_len = 0;
    const uint8_t* text = nullptr;  // null until decoded; owned by lazy_streams::blocks or ::pool
};

struct lazy_streams {
    std::vector<lazy_stream> streams;
    struct arena blocks;
    // Texts decoded while loading (kept, or left unused by a stream without
    // rows), counted in `kept`.
    text_pool pool;
    uint64_t kept = 0;  // bytes of text kept while loading
};

// Decoded text kept while loading, per document, before streams are left to
// be decoded on first use.
constexpr uint64_t OBJSTM_KEEP_DEFAULT = 64u << 20;
// Compressed bytes of object streams from which loading decodes them on two
// threads.
constexpr uint64_t OBJSTM_PARALLEL_MIN = 64u << 10;

// The object table: rows are appended in order and the table is large for
// large files, so it lives in huge pages where the system gives them.
using obj_table = std::vector<obj_entry, huge_page_allocator<obj_entry>>;

struct page_entry {
    int32_t page_obj = 0;
};

// Unmaps a read-only mapping of the input file.
struct unmapper {
    uint64_t len = 0;
    void operator()(void* p) const noexcept;
};

// Owns everything it holds; a load replaces the previous contents.
struct pdf_doc {
    // `data` is either the file mapped (mapped) or read into a heap block (bytes).
    std::unique_ptr<void, unmapper> mapped;
    std::unique_ptr<uint8_t, free_deleter> bytes;
    const uint8_t* data = nullptr;
    pos len = 0;
    int32_t trailer_root = -1;
    int32_t trailer_info = -1;
    char version[16] = {};
    int32_t encrypted = 0;
    int32_t encrypt_obj = -1;
    obj_table objs;
    struct arena arena;
    std::vector<page_entry> pages;
    int32_t root = -1;
    int32_t info = -1;
    int32_t max_obj = 0;
    int32_t pages_ok = 0;
    // Object number -> first row of objs with that number, built after the
    // selection of one row per number; doc_find answers from it.
    number_index by_num;
    // Dictionary closes over the file bytes, remembered while the object
    // scan settles every dictionary of the file (scan_objects.cpp).
    dict_closer dicts;
    // Rows of objs (ascending) that are object stream containers, as
    // objstm_expand found them; doc_select tests every row itself when
    // container_rows_known is false.
    std::vector<size_t> container_rows;
    bool container_rows_known = false;
    // The object streams rows were taken from, and the numbers they list.
    std::vector<objstm_container> containers;
    std::vector<int32_t> container_members;
    // Object streams decoded on first use: reading a loaded document decodes
    // them, so this cache is mutable (a document serves one thread at a time).
    mutable lazy_streams lazy;
};

// 0 on success; -1 with a message in g_err. Previous contents of doc are
// discarded first. A memory failure in any step fails with "out of memory".
int doc_load(const char* path, pdf_doc* doc, int allow_encrypted);

// First row with this object number, or null. A row from an object stream
// comes back with its objstm_text set (its stream is decoded on first use).
// Decoding a stream may throw std::bad_alloc.
const obj_entry* doc_find(const pdf_doc& doc, int32_t num);

// The text of a row from an object stream ({objstm_text, objstm_len} once
// decoded); null for other rows and rows without text. Decodes on demand.
const uint8_t* doc_row_text(const pdf_doc& doc, const obj_entry& e);

// Decodes every object stream and sets objstm_text on every row, as a load
// with full expansion leaves them: for code that walks doc.objs and reads
// objstm_text directly (the file emitter).
void doc_expand_all(const pdf_doc& doc);
// The same for one row: sets its objstm_text when its stream is decoded on
// demand and it has none yet.
void doc_expand_row(const pdf_doc& doc, const obj_entry& e);

// Test aids, per thread: with full expansion on, loads expand every object
// stream in full while loading (the reference the on-demand decoding is
// checked against); the keep budget (OBJSTM_KEEP_DEFAULT unless set) bounds
// the text kept while loading, 0 leaving every Flate stream to first use.
void objstm_full_expansion(bool on);
void objstm_keep_budget(uint64_t bytes);
// Flate data in object streams from which a load decodes them on two threads
// (OBJSTM_PARALLEL_MIN unless set; 0 for every file with two streams).
void objstm_parallel_min(uint64_t bytes);

// The dictionary span of a row: its text (doc_row_text) whole, or the file bytes from
// dict_pos to stream_kw (else endobj_pos, else the file end). text is null
// when the row has no dictionary (a file-body row whose dict_pos is negative).
dict_view doc_dict_span(const pdf_doc& doc, const obj_entry& e);

// The dictionary span of the catalog row (doc.root); text is null when the
// document has no catalog in its table or the row has no dictionary.
dict_view doc_catalog_dict(const pdf_doc& doc);

// The value of a file-body row: the bytes after "N G obj" and white space,
// up to "endobj" (or the file end). Empty (start >= end) when the row has no
// header position.
struct obj_body {
    pos start = 0;
    pos end = 0;
};
obj_body doc_obj_body(const pdf_doc& doc, const obj_entry& e);

// Classifies a row by the first top-level /Type of its dictionary: 1 for
// /Page, 2 for /Pages, 0 otherwise (pages.cpp). The text is objstm_text for a
// row from an object stream, else data from dict_pos to stream_kw (else
// endobj_pos, else len), cut at len.
int obj_page_type(const uint8_t* data, pos len, const obj_entry& entry);
