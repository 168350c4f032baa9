// Reading a file whole into the document, and its header version.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/frame.h"
#include "core/huge_pages.h"
#include "load/load_steps.h"

namespace {

struct file_closer {
    void operator()(FILE* f) const noexcept { std::fclose(f); }
};

// Reads n bytes into buf; fread may return short counts for huge requests, so
// it is called until the data is in or the file gives no more.
bool read_all(FILE* f, uint8_t* buf, uint64_t n) {
    uint64_t got = 0;
    while (got < n) {
        size_t k = std::fread(buf + got, 1, static_cast<size_t>(n - got), f);
        if (k == 0) return false;
        got += k;
    }
    return true;
}

}  // namespace

int doc_read_file(const char* path, pdf_doc* doc) {
    std::unique_ptr<FILE, file_closer> f(std::fopen(path, "rb"));
    if (!f) return set_error("cannot open %s", path), -1;
    long long size = -1;
    if (fseeko(f.get(), 0, SEEK_END) == 0) size = ftello(f.get());
    if (size <= 0 || fseeko(f.get(), 0, SEEK_SET) != 0) return set_error("empty input file: %s", path), -1;
    // No zero fill: every byte is overwritten by the read.
    const auto n = static_cast<uint64_t>(size);
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
