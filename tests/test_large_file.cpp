// Files larger than 2 GiB: a document whose first page's content is padded by
// one huge stream, its Info dictionary after the padding at the end of the
// file. Read, write and read back; the written cross-reference table is
// checked row by row at its (ten-digit) offsets, and by qpdf when installed.
// The same generator makes a 10 MB variant, which checks the generator itself
// against qpdf and the library on a size every build reads.
//
// Run alone with: ctest -L large
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/output_check.h"
#include "vellix.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t GB = 1000ull * 1000 * 1000;
constexpr uint64_t NEEDED_FREE = 7 * GB;  // the input is sparse; the copy is not
constexpr int PAGES = 3;
constexpr const char* TITLE = "A file of many bytes";

// A directory removed with everything in it at the end of the test.
struct scratch_dir {
    fs::path path;
    explicit scratch_dir(const fs::path& base) {
        std::string tmpl = (base / "vellix-large-XXXXXX").string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back(0);
        if (mkdtemp(buf.data())) path = buf.data();
    }
    ~scratch_dir() {
        std::error_code ec;
        if (!path.empty()) fs::remove_all(path, ec);
    }
};

uint64_t free_bytes(const fs::path& dir) {
    struct statvfs s {};
    if (statvfs(dir.c_str(), &s) != 0) return 0;
    return static_cast<uint64_t>(s.f_bavail) * s.f_frsize;
}

// The first candidate directory with `need` bytes free, else "" with *best
// naming the directory with the most room and how much it has.
fs::path roomy_dir(uint64_t need, std::string* best) {
    std::vector<fs::path> dirs;
    if (const char* d = std::getenv("VELLIX_LARGE_FILE_DIR")) dirs.emplace_back(d);
    std::error_code ec;
    fs::path tmp = fs::temp_directory_path(ec);
    if (!ec) dirs.push_back(tmp);
    dirs.emplace_back(VELLIX_BINARY_DIR);
    dirs.emplace_back("/var/tmp");
    uint64_t most = 0;
    for (const fs::path& d : dirs) {
        uint64_t f = free_bytes(d);
        if (f >= need) return d;
        if (f >= most) {
            most = f;
            *best = d.string() + " has " + std::to_string(f / (1000 * 1000)) + " MB free";
        }
    }
    return {};
}

struct generated {
    std::string path;
    uint64_t size = 0;
    std::vector<uint64_t> offsets;  // by object number; [0] unused
};

std::string num(uint64_t v) { return std::to_string(v); }

bool pwrite_all(int fd, const std::string& s, uint64_t at) {
    for (size_t done = 0; done < s.size();) {
        ssize_t n = pwrite(fd, s.data() + done, s.size() - done, static_cast<off_t>(at + done));
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes the document with `pad` bytes of content padding (zeros, left as a
// hole of the file where the file system allows): catalog 1, page tree 2,
// pages 3 to 2 + PAGES, a short content stream shared by the pages, the
// padding stream on the first page, the Info dictionary, cross-reference
// table and trailer. "" or what failed.
std::string generate(const std::string& path, uint64_t pad, generated* g) {
    const int content = 3 + PAGES, padding = content + 1, info = padding + 1, size = info + 1;
    g->path = path;
    g->offsets.assign(size, 0);
    std::string head = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    auto object = [&](std::string* text, uint64_t base, int n, const std::string& body) {
        g->offsets[n] = base + text->size();
        *text += num(n) + " 0 obj\n" + body;
    };
    object(&head, 0, 1, "<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
    std::string kids;
    for (int p = 0; p < PAGES; ++p) kids += (p ? " " : "") + num(3 + p) + " 0 R";
    object(&head, 0, 2, "<< /Type /Pages /Kids [" + kids + "] /Count " + num(PAGES) + " >>\nendobj\n");
    for (int p = 0; p < PAGES; ++p) {
        std::string contents = p == 0 ? "[" + num(content) + " 0 R " + num(padding) + " 0 R]" : num(content) + " 0 R";
        object(&head, 0, 3 + p,
               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " + contents + " >>\nendobj\n");
    }
    const std::string drawing = "0 0 m 612 792 l S\n";
    object(&head, 0, content,
           "<< /Length " + num(drawing.size()) + " >>\nstream\n" + drawing + "\nendstream\nendobj\n");
    object(&head, 0, padding, "<< /Length " + num(pad) + " >>\nstream\n");

    const uint64_t pad_end = head.size() + pad;
    std::string tail = "\nendstream\nendobj\n";
    object(&tail, pad_end, info, std::string("<< /Title (") + TITLE + ") /Producer (a test) >>\nendobj\n");
    const uint64_t xref = pad_end + tail.size();
    tail += "xref\n0 " + num(size) + "\n0000000000 65535 f \n";
    for (int n = 1; n < size; ++n) {
        char row[32];
        std::snprintf(row, sizeof row, "%010llu 00000 n \n", static_cast<unsigned long long>(g->offsets[n]));
        tail += row;
    }
    tail += "trailer\n<< /Size " + num(size) + " /Root 1 0 R /Info " + num(info) + " 0 R >>\nstartxref\n" + num(xref) +
            "\n%%EOF\n";
    g->size = pad_end + tail.size();

    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return "cannot create " + path + ": " + std::strerror(errno);
    std::string fault;
    if (!pwrite_all(fd, head, 0)) fault = "cannot write the head: ";
    else if (ftruncate(fd, static_cast<off_t>(pad_end)) != 0) fault = "cannot extend the file over the padding: ";
    else if (!pwrite_all(fd, tail, pad_end)) fault = "cannot write the tail: ";
    if (!fault.empty()) fault += std::strerror(errno);
    if (close(fd) != 0 && fault.empty()) fault = std::string("close failed: ") + std::strerror(errno);
    return fault;
}

// "" when the file ends with a cross-reference table whose every in-use row
// holds ten digits and points at "N 0 obj" of its own number, read with
// pread so that no file has to fit in memory.
std::string file_table_fault(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return "cannot open " + path;
    auto at = [&](uint64_t pos, size_t n) {
        std::string s(n, '\0');
        ssize_t got = pread(fd, s.data(), n, static_cast<off_t>(pos));
        s.resize(got > 0 ? static_cast<size_t>(got) : 0);
        return s;
    };
    std::string fault;
    uint64_t size = static_cast<uint64_t>(lseek(fd, 0, SEEK_END));
    std::string end = at(size > 64 ? size - 64 : 0, 64);
    size_t k = end.rfind("startxref");
    if (k == std::string::npos) fault = "no startxref";
    uint64_t xref = k == std::string::npos ? 0 : std::strtoull(end.c_str() + k + 9, nullptr, 10);
    std::string table = fault.empty() ? at(xref, 4096) : "";
    long count = 0;
    if (fault.empty() && std::sscanf(table.c_str(), "xref\n0 %ld\n", &count) != 1) fault = "no xref at " + num(xref);
    size_t row = table.find('\n', 5) + 1;
    for (long n = 0; fault.empty() && n < count; ++n, row += 20) {
        if (row + 20 > table.size()) fault = "table cut short";
        else if (table.compare(row + 10, 10, " 00000 n \n") == 0) {
            uint64_t off = std::strtoull(table.substr(row, 10).c_str(), nullptr, 10);
            std::string want = num(n) + " 0 obj";
            if (table.find_first_not_of("0123456789", row) != row + 10) fault = "row " + num(n) + " is not ten digits";
            else if (at(off, want.size()) != want) fault = "row " + num(n) + " points at " + num(off) + ", no header there";
        } else if (table.compare(row, 20, "0000000000 65535 f \n") != 0) {
            fault = "row " + num(n) + " malformed";
        }
    }
    close(fd);
    return fault;
}

std::string member(const char* json, const char* key) {
    std::string j = json, k = std::string("\"") + key + "\":";
    size_t p = j.find(k);
    if (p == std::string::npos) return "";
    p += k.size();
    size_t e = j[p] == '"' ? j.find('"', p + 1) + 1 : j.find_first_of(",}", p);
    return j.substr(p, e - p);
}

// Generates, reads, writes a copy with a new title and reads that back.
void round_trip(const fs::path& dir, uint64_t pad) {
    generated g;
    const std::string in = (dir / "large.pdf").string(), out = (dir / "copy.pdf").string();
    std::string fault = generate(in, pad, &g);
    if (!fault.empty()) GTEST_SKIP() << "the file system in " << dir << " cannot hold a file of " << g.size << " bytes: " << fault;
    ASSERT_EQ(fs::file_size(in), g.size);
    ASSERT_EQ(file_table_fault(in), "") << "the generator's own table";

    const char* r = vellix_read(in.c_str());
    ASSERT_NE(r, nullptr) << vellix_last_error();
    EXPECT_EQ(member(r, "title"), std::string("\"") + TITLE + "\"") << r;
    EXPECT_EQ(member(r, "pages"), num(PAGES)) << r;
    EXPECT_EQ(member(r, "file_size"), num(g.size)) << r;

    ASSERT_EQ(vellix_write(in.c_str(), out.c_str(), "Rewritten", nullptr, nullptr, nullptr), 1) << vellix_last_error();
    // The copy holds the padding again, with a few bytes more or less around it.
    uint64_t copy_size = fs::file_size(out);
    EXPECT_GT(copy_size, pad);
    EXPECT_EQ(file_table_fault(out), "");
    r = vellix_read(out.c_str());
    ASSERT_NE(r, nullptr) << vellix_last_error();
    EXPECT_EQ(member(r, "title"), "\"Rewritten\"") << r;
    EXPECT_EQ(member(r, "pages"), num(PAGES)) << r;
    EXPECT_EQ(member(r, "file_size"), num(copy_size)) << r;

    if (!have_tool("qpdf")) {
        std::printf("qpdf not installed: the copy is not checked by it\n");
        return;
    }
    std::string text;
    // The generator is checked by qpdf on the small variant, where it is quick.
    if (pad < GB) {
        EXPECT_EQ(run_command("qpdf --check '" + in + "'", &text), 0) << text;
    }
    EXPECT_EQ(run_command("qpdf --check '" + out + "'", &text), 0) << text;
}

}  // namespace

// The generator and the whole round trip on a size far below the limits.
TEST(LargeFile, TenMegabyteVariant) {
    std::string best;
    fs::path base = roomy_dir(100 * 1000 * 1000, &best);
    if (base.empty()) GTEST_SKIP() << "no directory with 100 MB free (" << best << ")";
    scratch_dir dir(base);
    ASSERT_FALSE(dir.path.empty());
    round_trip(dir.path, 10 * 1000 * 1000);
}

// The table check itself: a row one byte off its object is seen.
TEST(LargeFile, TableCheckSeesARowThatMissesItsObject) {
    std::string best;
    fs::path base = roomy_dir(1000 * 1000, &best);
    if (base.empty()) GTEST_SKIP() << "no directory with 1 MB free (" << best << ")";
    scratch_dir dir(base);
    ASSERT_FALSE(dir.path.empty());
    generated g;
    const std::string in = (dir.path / "small.pdf").string();
    ASSERT_EQ(generate(in, 1000, &g), "");
    EXPECT_EQ(file_table_fault(in), "");
    char row[32], off_by_one[32];
    std::snprintf(row, sizeof row, "\n%010llu 00000 n \n", static_cast<unsigned long long>(g.offsets[2]));
    std::snprintf(off_by_one, sizeof off_by_one, "\n%010llu 00000 n \n", static_cast<unsigned long long>(g.offsets[2] + 1));
    std::string bytes(g.size, '\0');
    FILE* f = std::fopen(in.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
    size_t at = bytes.rfind(row);
    ASSERT_NE(at, std::string::npos);
    std::fseek(f, static_cast<long>(at), SEEK_SET);
    std::fputs(off_by_one, f);
    std::fclose(f);
    EXPECT_EQ(file_table_fault(in), "row 2 points at " + num(g.offsets[2] + 1) + ", no header there");
}

// Three gigabytes: positions of the Info dictionary, the table and the
// trailer lie above 2^31, and the table rows need all ten digits.
TEST(LargeFile, ThreeGigabytes) {
    std::string best;
    fs::path base = roomy_dir(NEEDED_FREE, &best);
    if (base.empty()) GTEST_SKIP() << "a 3 GB file and its copy need about 7 GB free; " << best;
    scratch_dir dir(base);
    ASSERT_FALSE(dir.path.empty());
    round_trip(dir.path, 3 * GB);
}
