// The loader's internal steps, each in its own source file. A step that runs
// out of memory throws std::bad_alloc; doc_load turns that into
// "out of memory".
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "load/doc.h"

// An open file descriptor, closed when it goes.
class open_file {
public:
    open_file() = default;
    explicit open_file(int fd) : fd_(fd) {}
    open_file(open_file&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    open_file& operator=(open_file&& o) noexcept {
        if (this != &o) {
            reset();
            fd_ = o.fd_;
            o.fd_ = -1;
        }
        return *this;
    }
    open_file(const open_file&) = delete;
    open_file& operator=(const open_file&) = delete;
    ~open_file() { reset(); }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() noexcept;

private:
    int fd_ = -1;
};

// Maps the file into doc->mapped, or reads it whole into doc->bytes. 0, or -1
// with a message (file.cpp). A mapped file stays open in *keep for
// doc_check_size.
int doc_read_file(const char* path, pdf_doc* doc, open_file* keep);

// After loading a mapped file: -1 with the short-read message when the file
// is now shorter than the mapping; closes *f.
int doc_check_size(const char* path, const pdf_doc& doc, open_file* f);

// The version after the first "%PDF-" header within the first 1024 bytes
// (file.cpp).
void doc_read_version(pdf_doc* doc);

// Learns /Root, /Info and /Encrypt from the trailers reached from the last
// "startxref" (trailer.cpp).
void trailer_read(pdf_doc* doc);

// Finds every object of the file by scanning for "obj", settles stream
// extents and removes false candidates; appends the rows to doc->objs in
// file order (scan_objects.cpp).
void scan_objects(pdf_doc* doc);

// First byte of stream data after the keyword "stream" at kw: past spaces
// and tabs, then CR LF, CR or LF; else the byte after the keyword's next one
// (scan_objects.cpp).
pos stream_data_start(const uint8_t* d, pos len, pos kw);

// The /Length of the stream row's dictionary (d[dict_pos, stream_kw)) as the
// scan reads it: the first key with a usable value, an array giving its
// last integer; for an indirect value "N G R" the answer of indirect(ctx, N).
// -1 when no key is usable (scan_objects.cpp).
int32_t stream_declared_length(const uint8_t* d, pos len, const obj_entry& row,
                               int32_t (*indirect)(void* ctx, int32_t num), void* ctx);

// Decodes every object stream of doc->objs and appends one row per object
// held (objstm.cpp).
void objstm_expand(pdf_doc* doc);

// Keeps one row per object number: the last direct row, else the last row
// taken from an object stream; drops object stream containers and numbers
// above 8388607, and sets doc->max_obj (select.cpp).
void doc_select(pdf_doc* doc);

// Builds doc->by_num, the index doc_find answers from; -1 when there is no
// memory for it (select.cpp).
int doc_build_index(pdf_doc* doc);

// Flattens the page tree below obj_num into *pages (pages.cpp). `visited`
// holds doc.max_obj + 1 zeroed flags owned by the caller. Returns the number
// of rows in *pages (>= 1) on success, 0 for a node without usable kids, -1
// for a broken reference or a cycle, -2 for a direct dictionary inside /Kids.
// A memory failure throws.
int resolve_pages(const pdf_doc& doc, int32_t obj_num, std::vector<page_entry>* pages, uint8_t* visited);
