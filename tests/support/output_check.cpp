#include "support/output_check.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

std::string now_digits() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d%H%M%S", &tm);
    return buf;
}

bool all_digits(const std::string& s, size_t pos, size_t n) {
    if (pos + n > s.size()) return false;
    for (size_t i = pos; i < pos + n; ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

}  // namespace

void clock_window::start() { before = now_digits(); }
void clock_window::stop() { after = now_digits(); }

std::string clock_window::mask(const std::string& text) const {
    std::string out = text;
    for (size_t i = 0; i + 15 <= out.size(); ++i) {
        if ((i > 0 && out[i - 1] >= '0' && out[i - 1] <= '9') || !all_digits(out, i, 14) || out[i + 14] != 'Z')
            continue;
        std::string v = out.substr(i, 14);
        if (v >= before && v <= after) out.replace(i, 14, std::string(14, 'N'));
        i += 14;
    }
    return out;
}

std::string xref_fault(const std::string& f) {
    size_t sx = f.rfind("startxref ");
    if (sx == std::string::npos) return "no startxref";
    long x = std::atol(f.c_str() + sx + 10);
    std::string tail = "\n%%EOF\n";
    if (f.size() < tail.size() || f.compare(f.size() - tail.size(), tail.size(), tail) != 0) return "no %%EOF line";
    if (x < 0 || static_cast<size_t>(x) + 7 > f.size() || f.compare(static_cast<size_t>(x), 7, "xref\n0 ") != 0)
        return "startxref does not point at xref";
    size_t p = static_cast<size_t>(x) + 7;
    long s = std::atol(f.c_str() + p);
    p = f.find('\n', p);
    if (p == std::string::npos) return "broken subsection line";
    ++p;
    for (long i = 0; i < s; ++i, p += 20) {
        if (p + 20 > f.size()) return "xref rows run past the end";
        std::string row = f.substr(p, 20);
        if (row == "0000000000 65535 f \n") continue;
        if (!all_digits(row, 0, 10) || row[10] != ' ' || !all_digits(row, 11, 5) || row.substr(16) != " n \n")
            return "malformed row " + std::to_string(i) + ": " + row;
        long off = std::atol(row.substr(0, 10).c_str());
        long gen = std::atol(row.substr(11, 5).c_str());
        std::string head = std::to_string(i) + " " + std::to_string(gen) + " obj\n";
        if (off < 0 || static_cast<size_t>(off) + head.size() > f.size() || f.compare(off, head.size(), head) != 0)
            return "row " + std::to_string(i) + " does not point at \"" + head.substr(0, head.size() - 1) + "\"";
    }
    if (f.compare(p, 8, "trailer\n") != 0) return "no trailer after the rows";
    return "";
}

int run_command(const std::string& cmd, std::string* output) {
    output->clear();
    FILE* p = popen((cmd + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) output->append(buf, n);
    int st = pclose(p);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

bool have_tool(const char* name) {
    std::string out;
    return run_command(std::string("command -v ") + name + " >/dev/null", &out) == 0;
}
