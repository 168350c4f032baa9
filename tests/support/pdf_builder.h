// Builds small PDF files for tests: objects, streams, classic cross-reference
// sections and trailers, cross-reference streams, incremental updates. Offsets
// in every cross-reference section are correct for the bytes written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

class PdfBuilder {
public:
    // Starts the file with "%PDF-<version>" and a binary comment line;
    // an empty version writes no header at all.
    explicit PdfBuilder(const std::string& version = "1.4");

    // "N G obj\n<body>\nendobj\n"
    PdfBuilder& obj(int num, const std::string& body, int gen = 0);
    // A stream object; "/Length <n>" is added to the dictionary unless the
    // dictionary text already holds "/Length". dict is the inside of << >>.
    PdfBuilder& stream(int num, const std::string& dict, const std::string& data, int gen = 0);
    // Arbitrary bytes.
    PdfBuilder& raw(const std::string& bytes);
    // An uncompressed object stream numbered num (/Type /ObjStm, /N, /First)
    // holding the given objects (number, text) in order.
    PdfBuilder& object_stream(int num, const std::vector<std::pair<int, std::string>>& objects);

    // A classic "xref" section covering the objects written since the last
    // section, then "trailer\n<< dict >>\nstartxref\n<offset>\n%%EOF\n".
    // /Prev to the previous section is added when there is one and dict has none.
    PdfBuilder& xref_trailer(const std::string& dict);
    // A cross-reference stream object numbered num (W [1 4 2], uncompressed)
    // covering the objects written since the last section, then startxref.
    PdfBuilder& xref_stream(int num, const std::string& dict);
    // Just "startxref\n<offset>\n%%EOF\n" with a given offset.
    PdfBuilder& startxref(long offset);

    // Offset where object num was last written (for assertions).
    long offset_of(int num) const;
    long size() const { return static_cast<long>(out_.size()); }
    const std::string& bytes() const { return out_; }
    // Writes the bytes to path; returns path as a string.
    std::string write(const std::filesystem::path& path) const;

private:
    std::string out_;
    std::map<int, std::pair<long, int>> section_;  // objects since the last section: num -> (offset, gen)
    std::map<int, long> all_;
    long last_xref_ = -1;
};

// A minimal valid document: catalog 1, pages 2, `pages` page objects from 3
// on, and an Info dictionary (object after the pages) when info is non-empty.
std::string minimal_pdf(int pages = 1, const std::string& info = "");

// Writes bytes to a file.
void write_file(const std::filesystem::path& path, const std::string& bytes);
// Reads a whole file ("" when missing).
std::string read_file(const std::filesystem::path& path);

// A fresh temporary directory removed with everything in it at scope end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

#ifdef VELLIX_HAVE_ZLIB
// zlib-format compression of data (level -1..9, strategy as for deflateInit2).
std::string zlib_compress(const std::string& data, int level = 6, int strategy = 0);
#endif
