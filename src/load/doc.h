// The loaded document: file bytes, object table, page list, trailer facts,
// and the indexes built over them while loading.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

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
    const uint8_t* objstm_text = nullptr;  // not owned: points into a block of the arena
    pos objstm_len = 0;
};

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
    std::vector<obj_entry> objs;
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
};

// 0 on success; -1 with a message in g_err. Previous contents of doc are
// discarded first. A memory failure in any step fails with "out of memory".
int doc_load(const char* path, pdf_doc* doc, int allow_encrypted);

// First row with this object number, or null.
const obj_entry* doc_find(const pdf_doc& doc, int32_t num);

// The dictionary span of a row: its objstm_text whole, or the file bytes from
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
