// The loaded document: file bytes, object table, page list, trailer facts.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/strbuf.h"

// One row of the object table. Positions are offsets into the file bytes, or
// into objstm_text for rows taken from object streams; -1 means absent.
struct obj_entry {
    int32_t num = 0;
    int32_t gen = 0;
    int32_t obj_pos = -1;
    int32_t dict_pos = -1;
    int32_t stream_kw = -1;
    int32_t data_start = -1;
    int32_t data_end = -1;
    int32_t endobj_pos = -1;
    int32_t stream_len = -1;
    int32_t has_stream = 0;
    int32_t in_objstm = 0;
    const uint8_t* objstm_text = nullptr;  // not owned: points into a block of the arena
    int32_t objstm_len = 0;
};

struct page_entry {
    int32_t page_obj = 0;
};

// Heap blocks owned by a document (decoded object streams).
struct arena {
    std::vector<std::unique_ptr<uint8_t, free_deleter>> items;
    // A new block of `size` bytes, or null (nothing kept) on failure.
    uint8_t* alloc(uint64_t size) noexcept;
    // Releases the most recent block early (a failed decode attempt).
    void drop_last() noexcept;
};

struct pdf_doc {
    std::unique_ptr<uint8_t, free_deleter> bytes;  // owns `data`
    const uint8_t* data = nullptr;
    int32_t len = 0;
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
    // Object number -> 1 + index of its first row in objs (0 when none), for
    // numbers 0 to by_num_len - 1; built after selection so lookups by number
    // are constant time. Zero-filled on allocation, so the pages of a sparse
    // numbering that are never written cost no memory.
    std::unique_ptr<int32_t, free_deleter> by_num;
    int32_t by_num_len = 0;
};

// 0 on success; -1 with a message in g_err. Previous contents of doc are discarded.
int doc_load_ex(const char* path, pdf_doc* doc, int allow_encrypted);
// Releases everything the document holds and resets it to the empty state.
void doc_free(pdf_doc* doc);

// First row with this object number, or null.
const obj_entry* doc_find(const pdf_doc& doc, int32_t num);

// The dictionary span of a row: text[start, end). text is null when the row
// has no dictionary (a file-body row whose dict_pos is negative).
struct dict_region {
    const uint8_t* text = nullptr;
    int32_t start = 0;
    int32_t end = 0;
};
dict_region doc_dict_span(const pdf_doc& doc, const obj_entry& e);

// Classifies a row by the first top-level /Type of its dictionary: 1 for
// /Page, 2 for /Pages, 0 otherwise (pages.cpp).
int obj_type(const uint8_t* data, int32_t len, const obj_entry& entry);
