// The input file in memory, and its header version.
//
// Files of MAP_MIN bytes and more are mapped read-only and private, with
// advice for sequential reading, instead of being copied into a heap block:
// no copy, and the pages are the page cache's, so a 3 GB file costs address
// space rather than memory. Smaller files, and files that cannot be mapped
// (pipes, special files, a failed mmap), are read into a heap block. Nothing
// reads past `len` or writes into `data`, so both forms serve the loader alike.
//
// A mapping reflects the file as it is: if another process truncates the file
// while a call is running, reading a page past the new end raises SIGBUS, as
// in any program that maps its input. The size is checked when the file is
// mapped and again after loading (doc_check_size), so a file that shrank
// while it was scanned fails like a short read ("read error"); a truncation
// between that check and the end of the call is not caught.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/frame.h"
#include "core/huge_pages.h"
#include "load/load_steps.h"

void unmapper::operator()(void* p) const noexcept {
    if (p) munmap(p, static_cast<size_t>(len));
}

void open_file::reset() noexcept {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

namespace {

constexpr uint64_t MAP_MIN = 1u << 20;

// Reads n bytes into buf, calling read until the data is in or the file
// gives no more.
bool read_all(int fd, uint8_t* buf, uint64_t n) {
    uint64_t got = 0;
    while (got < n) {
        ssize_t k = read(fd, buf + got, static_cast<size_t>(std::min<uint64_t>(n - got, 1u << 30)));
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        got += static_cast<uint64_t>(k);
    }
    return true;
}

// Maps the n bytes of a regular file; false when it cannot be mapped.
bool map_file(int fd, uint64_t n, pdf_doc* doc) {
    void* p = mmap(nullptr, static_cast<size_t>(n), PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) return false;
    madvise(p, static_cast<size_t>(n), MADV_SEQUENTIAL);
    doc->mapped = std::unique_ptr<void, unmapper>(p, unmapper{n});
    doc->data = static_cast<const uint8_t*>(p);
    doc->len = static_cast<pos>(n);
    return true;
}

}  // namespace

// One open, one fstat and one read for a small file: the size of a regular
// file comes from fstat; other files (devices, pipes) are measured by seeking
// to their end, which a pipe refuses ("empty input file").
int doc_read_file(const char* path, pdf_doc* doc, open_file* keep) {
    open_file f(open(path, O_RDONLY | O_CLOEXEC));
    if (!f) return set_error("cannot open %s", path), -1;
    struct stat st;
    const bool regular = fstat(f.get(), &st) == 0 && S_ISREG(st.st_mode);
    long long size = -1;
    if (regular) {
        size = st.st_size;
    } else {
        off_t end = lseek(f.get(), 0, SEEK_END);
        if (end >= 0 && lseek(f.get(), 0, SEEK_SET) == 0) size = end;
    }
    if (size <= 0) return set_error("empty input file: %s", path), -1;
    const auto n = static_cast<uint64_t>(size);
    if (regular && n >= MAP_MIN && map_file(f.get(), n, doc)) {
        *keep = std::move(f);
        return 0;
    }
    // No zero fill: every byte is overwritten by the read.
    std::unique_ptr<uint8_t, free_deleter> buf;
    buf.reset(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(n))));
    if (buf) advise_huge_pages(buf.get(), n);
    bool ok = buf && read_all(f.get(), buf.get(), n);
    f.reset();
    if (!ok) return set_error("read error on %s", path), -1;
    doc->data = buf.get();
    doc->bytes = std::move(buf);
    doc->len = static_cast<pos>(n);
    return 0;
}

int doc_check_size(const char* path, const pdf_doc& doc, open_file* f) {
    if (!*f) return 0;
    struct stat st;
    bool ok = fstat(f->get(), &st) == 0 && static_cast<uint64_t>(st.st_size) >= static_cast<uint64_t>(doc.len);
    f->reset();
    return ok ? 0 : (set_error("read error on %s", path), -1);
}

void doc_read_version(pdf_doc* doc) {
    const uint8_t* d = doc->data;
    pos len = doc->len;
    for (pos j = 0; j < 1024 && j + 7 < len; ++j) {
        if (std::memcmp(d + j, "%PDF-", 5) != 0 || (j > 0 && is_word(d[j - 1]))) continue;
        pos k = j + 5;
        int n = 0;
        if (k < len && is_digit(d[k])) doc->version[n++] = static_cast<char>(d[k++]);
        if (k < len && d[k] == '.') doc->version[n++] = static_cast<char>(d[k++]);
        while (k < len && n < 15 && is_digit(d[k])) doc->version[n++] = static_cast<char>(d[k++]);
        doc->version[n] = 0;
        return;
    }
}
