#include "support/pdf_builder.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifdef VELLIX_HAVE_ZLIB
#include <zlib.h>
#endif

PdfBuilder::PdfBuilder(const std::string& version) {
    if (!version.empty()) out_ = "%PDF-" + version + "\n%\xE2\xE3\xCF\xD3\n";
}

PdfBuilder& PdfBuilder::obj(int num, const std::string& body, int gen) {
    section_[num] = {size(), gen};
    all_[num] = size();
    out_ += std::to_string(num) + " " + std::to_string(gen) + " obj\n" + body + "\nendobj\n";
    return *this;
}

PdfBuilder& PdfBuilder::stream(int num, const std::string& dict, const std::string& data, int gen) {
    std::string d = dict;
    if (d.find("/Length") == std::string::npos) d += " /Length " + std::to_string(data.size());
    section_[num] = {size(), gen};
    all_[num] = size();
    out_ += std::to_string(num) + " " + std::to_string(gen) + " obj\n<< " + d + " >>\nstream\n" + data +
            "\nendstream\nendobj\n";
    return *this;
}

PdfBuilder& PdfBuilder::raw(const std::string& bytes) {
    out_ += bytes;
    return *this;
}

PdfBuilder& PdfBuilder::object_stream(int num, const std::vector<std::pair<int, std::string>>& objects) {
    std::string header, body;
    for (const auto& [n, text] : objects) {
        header += std::to_string(n) + " " + std::to_string(body.size()) + " ";
        body += text + "\n";
    }
    return stream(num, "/Type /ObjStm /N " + std::to_string(objects.size()) + " /First " + std::to_string(header.size()),
                  header + body);
}

PdfBuilder& PdfBuilder::xref_trailer(const std::string& dict) {
    long xref = size();
    std::string s = "xref\n";
    // One subsection per run of consecutive numbers; object 0 heads the first section.
    std::map<int, std::pair<long, int>> rows = section_;
    if (last_xref_ < 0) rows[0] = {-1, 65535};
    for (auto it = rows.begin(); it != rows.end();) {
        auto run_end = it;
        int count = 0;
        int next = it->first;
        while (run_end != rows.end() && run_end->first == next) {
            ++run_end;
            ++next;
            ++count;
        }
        s += std::to_string(it->first) + " " + std::to_string(count) + "\n";
        for (; it != run_end; ++it) {
            char row[32];
            if (it->second.first < 0)
                std::snprintf(row, sizeof row, "%010d %05d f\r\n", 0, 65535);
            else
                std::snprintf(row, sizeof row, "%010ld %05d n\r\n", it->second.first, it->second.second);
            s += row;
        }
    }
    std::string d = dict;
    if (last_xref_ >= 0 && d.find("/Prev") == std::string::npos) d += " /Prev " + std::to_string(last_xref_);
    s += "trailer\n<< " + d + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    out_ += s;
    last_xref_ = xref;
    section_.clear();
    return *this;
}

PdfBuilder& PdfBuilder::xref_stream(int num, const std::string& dict) {
    long xref = size();
    section_[num] = {xref, 0};
    all_[num] = xref;
    std::map<int, std::pair<long, int>> rows = section_;
    if (last_xref_ < 0) rows[0] = {-1, 65535};
    std::string data, index;
    for (auto it = rows.begin(); it != rows.end();) {
        auto run_end = it;
        int count = 0;
        int next = it->first;
        while (run_end != rows.end() && run_end->first == next) {
            ++run_end;
            ++next;
            ++count;
        }
        index += std::to_string(it->first) + " " + std::to_string(count) + " ";
        for (; it != run_end; ++it) {
            long off = it->second.first;
            bool free_row = off < 0;
            data += static_cast<char>(free_row ? 0 : 1);
            unsigned long v = free_row ? 0 : static_cast<unsigned long>(off);
            for (int sh = 24; sh >= 0; sh -= 8) data += static_cast<char>((v >> sh) & 0xFF);
            unsigned g = free_row ? 65535u : static_cast<unsigned>(it->second.second);
            data += static_cast<char>((g >> 8) & 0xFF);
            data += static_cast<char>(g & 0xFF);
        }
    }
    if (!index.empty()) index.pop_back();
    std::string d = "/Type /XRef /W [1 4 2] /Index [" + index + "] " + dict;
    if (last_xref_ >= 0 && dict.find("/Prev") == std::string::npos) d += " /Prev " + std::to_string(last_xref_);
    d += " /Length " + std::to_string(data.size());
    out_ += std::to_string(num) + " 0 obj\n<< " + d + " >>\nstream\n" + data + "\nendstream\nendobj\n";
    out_ += "startxref\n" + std::to_string(xref) + "\n%%EOF\n";
    last_xref_ = xref;
    section_.clear();
    return *this;
}

PdfBuilder& PdfBuilder::startxref(long offset) {
    out_ += "startxref\n" + std::to_string(offset) + "\n%%EOF\n";
    return *this;
}

long PdfBuilder::offset_of(int num) const {
    auto it = all_.find(num);
    return it == all_.end() ? -1 : it->second;
}

std::string PdfBuilder::write(const std::filesystem::path& path) const {
    write_file(path, out_);
    return path.string();
}

std::string minimal_pdf(int pages, const std::string& info) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int i = 0; i < pages; ++i) kids += std::to_string(3 + i) + " 0 R ";
    b.obj(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    for (int i = 0; i < pages; ++i) b.obj(3 + i, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    int next = 3 + pages;
    std::string trailer = "/Size " + std::to_string(next + (info.empty() ? 0 : 1)) + " /Root 1 0 R";
    if (!info.empty()) {
        b.obj(next, info);
        trailer += " /Info " + std::to_string(next) + " 0 R";
    }
    b.xref_trailer(trailer);
    return b.bytes();
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path.string());
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return "";
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vellix-test-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

#ifdef VELLIX_HAVE_ZLIB
std::string zlib_compress(const std::string& data, int level, int strategy) {
    z_stream zs{};
    if (deflateInit2(&zs, level, Z_DEFLATED, 15, 8, strategy) != Z_OK) throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&zs, data.size()) + 16, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    int rc = deflate(&zs, Z_FINISH);
    deflateEnd(&zs);
    if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(zs.total_out);
    return out;
}
#endif
