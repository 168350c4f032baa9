// Incremental updates: building the appended bytes and putting them after the
// input's.
#include "write/incremental.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/date.h"
#include "core/frame.h"
#include "load/graph.h"
#include "syntax/lexer.h"
#include "write/atomic_file.h"
#include "write/catalog_edit.h"

namespace {

constexpr long long TABLE_OFFSET_LIMIT = 10000000000LL;  // ten digits in a table row

// The input's newest cross-reference section and the entries of its trailer
// that the update carries forward.
struct last_section {
    bool is_stream = false;
    pos at = -1;           // offset startxref names
    int64_t size = 0;      // /Size
    std::string id_first;  // first /ID element as written, or empty
    std::string id_whole;  // the /ID array as written when it holds two strings, or empty
    std::string xref_stm;  // /XRefStm value as written (tables only), or empty
};

// The last whole-word "startxref" of the file, or -1.
pos last_startxref(const uint8_t* d, pos len) {
    for (pos end = len - 8; end > 0;) {
        const void* hit = memrchr(d, 's', static_cast<size_t>(end));
        if (!hit) return -1;
        pos p = static_cast<const uint8_t*>(hit) - d;
        if (kw_is(d, p, len, "startxref")) return p;
        end = p;
    }
    return -1;
}

std::string val_text(pdf_val v) {
    pos e = v.value_end();
    if (!v || e <= v.start) return std::string();
    return std::string(reinterpret_cast<const char*>(v.text + v.start), static_cast<size_t>(e - v.start));
}

// The dictionary starting at p (after white space), as a value bounded by its
// close; none when p holds no closed dictionary.
pdf_val closed_dict_at(const pdf_doc& doc, pos p) {
    p = ws_skip(doc.data, p, doc.len);
    if (!dict_opens(doc.data, p, doc.len)) return {};
    pos close = dict_close(doc.data, p, doc.len);
    if (close < 0) return {};
    return pdf_val{doc.data, p, close + 2};
}

// Finds the section startxref points at and reads its trailer; false when
// there is none there.
bool find_last_section(const pdf_doc& doc, last_section* s) {
    const uint8_t* d = doc.data;
    pos sx = last_startxref(d, doc.len);
    if (sx < 0) return false;
    pos q = sx + 9;
    pos at = offset_read(d, &q, doc.len);
    if (at < 0 || at >= doc.len) return false;
    pos p = ws_skip(d, at, doc.len);
    pdf_val trailer;
    if (kw_is(d, p, doc.len, "xref")) {
        pos t = kw_find(d, p + 4, sx, "trailer");
        if (t < 0) return false;
        trailer = closed_dict_at(doc, t + 7);
    } else if (p < doc.len && is_digit(d[p])) {
        pos k = obj_numbers_end(d, p, doc.len);
        if (!kw_is(d, k, doc.len, "obj")) return false;
        trailer = closed_dict_at(doc, k + 3);
        if (!trailer || val_name(dict_get_raw(trailer, "Type")) != "XRef") return false;
        s->is_stream = true;
    } else {
        return false;
    }
    if (!trailer) return false;
    s->at = at;
    int64_t size = 0;
    if (val_int(dict_get_raw(trailer, "Size"), &size) && size > 0) s->size = size;
    pdf_val id = dict_get_raw(trailer, "ID");
    array_each(id, [&](pdf_val first) {
        if (first.is_string()) s->id_first = val_text(first);
        return false;
    });
    int strings = 0, others = 0;
    array_each(id, [&](pdf_val el) {
        ++(el.is_string() ? strings : others);
        return true;
    });
    if (strings == 2 && others == 0) s->id_whole = val_text(id);
    if (!s->is_stream) {
        pdf_val xs = dict_get_raw(trailer, "XRefStm");
        int64_t v = 0;
        if (val_int(xs, &v) && v >= 0) s->xref_stm = val_text(xs);
    }
    return true;
}

// A new second /ID element: 16 bytes mixed from the first element, the
// file's length, the clock and the update's bytes.
std::string new_id_element(const std::string& first, pos len, const std::string& update) {
    uint64_t h[2] = {0x6a09e667f3bcc908ull ^ static_cast<uint64_t>(len), 0xbb67ae8584caa73bull};
    struct timespec ts;
    clock_now(&ts);
    h[1] ^= static_cast<uint64_t>(ts.tv_sec) * 1000000007ull + static_cast<uint64_t>(ts.tv_nsec);
    auto mix = [&](uint8_t c) {
        h[0] = (h[0] ^ c) * 0x100000001b3ull;
        h[1] = (h[1] + h[0]) * 0x9E3779B97F4A7C15ull;
        h[1] ^= h[1] >> 29;
    };
    for (char c : first) mix(static_cast<uint8_t>(c));
    for (char c : update) mix(static_cast<uint8_t>(c));
    for (int i = 0; i < 16; ++i) mix(0);
    char hex[40];
    std::snprintf(hex, sizeof hex, "<%016llX%016llX>", static_cast<unsigned long long>(h[0]),
                  static_cast<unsigned long long>(h[1]));
    return hex;
}

using written_obj = update_obj;

void put_num(std::string* s, long long v) { *s += std::to_string(v); }

void put_header(std::string* s, int32_t num, int32_t gen) {
    put_num(s, num);
    *s += ' ';
    put_num(s, gen);
    *s += " obj\n";
}

// The catalog copy's text: the edited text without leading white space and
// comments (an object-stream member may start with them), an end of line,
// endobj.
void put_catalog(std::string* s, const std::string& text) {
    size_t i = 0;
    for (;;) {
        while (i < text.size() && is_pdf_ws(static_cast<uint8_t>(text[i]))) ++i;
        if (i >= text.size() || text[i] != '%') break;
        while (i < text.size() && text[i] != '\n' && text[i] != '\r') ++i;
    }
    s->append(text, i, std::string::npos);
    *s += "\nendobj\n";
}

// The objects of the plan as an update; the adds renumbered from `next`
// (above every number the input's sections may name).
bool plan_for_update(const pdf_doc& doc, const write_request& req, int32_t next, write_plan* plan) {
    if (!write_plan_make(doc, req, plan)) return false;
    if (plan->info.edit == obj_edit::add) plan->info.num = next++;
    if (plan->xmp.edit == obj_edit::add) {
        int32_t num = next++;
        if (num != plan->xmp.num && plan->catalog.edit == obj_edit::replace) {
            const obj_entry* root = doc_find(doc, doc.root);
            if (root) plan->catalog.body = catalog_rewrite(doc, *root, num, 0);
        }
        plan->xmp.num = num;
    }
    return true;
}

int32_t row_gen(const pdf_doc& doc, int32_t num, obj_edit edit) {
    if (edit == obj_edit::add) return 0;
    const obj_entry* e = doc_find(doc, num);
    return e ? e->gen : 0;
}

// Big-endian bytes of v in w bytes.
void put_be(std::string* s, uint64_t v, int w) {
    for (int i = w - 1; i >= 0; --i) *s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// "/Index[a n b m ...]" runs of consecutive numbers, for sorted objects.
std::string index_runs(const std::vector<written_obj>& objs, bool table, const std::vector<std::string>* rows,
                       std::string* table_text) {
    std::string idx;
    for (size_t i = 0; i < objs.size();) {
        size_t j = i + 1;
        while (j < objs.size() && objs[j].num == objs[j - 1].num + 1) ++j;
        if (table) {
            put_num(table_text, objs[i].num);
            *table_text += ' ';
            put_num(table_text, static_cast<long long>(j - i));
            *table_text += '\n';
            for (size_t k = i; k < j; ++k) *table_text += (*rows)[k];
        } else {
            if (!idx.empty()) idx += ' ';
            put_num(&idx, objs[i].num);
            idx += ' ';
            put_num(&idx, static_cast<long long>(j - i));
        }
        i = j;
    }
    return idx;
}

void put_ref(std::string* s, const char* key, int32_t num, int32_t gen) {
    *s += key;
    *s += ' ';
    put_num(s, num);
    *s += ' ';
    put_num(s, gen);
    *s += " R";
}

}  // namespace

bool incremental_update_build(const pdf_doc& doc, const char* in_path, const write_request& req,
                              std::string* update, size_t* tail_at, std::vector<update_obj>* written) {
    last_section last;
    if (!find_last_section(doc, &last)) {
        set_error(
            "cannot update %s incrementally: its startxref does not point at a cross-reference section; rewrite it "
            "without the incremental option",
            in_path);
        return false;
    }
    int64_t first_free = std::max<int64_t>(last.size, static_cast<int64_t>(doc.max_obj) + 1);
    if (first_free > 0x7FFFFF) {
        set_error("cannot update %s incrementally: its object numbers are used up", in_path);
        return false;
    }
    write_plan plan;
    if (!plan_for_update(doc, req, static_cast<int32_t>(first_free), &plan)) return false;

    std::string& u = *update;
    u.clear();
    if (doc.len > 0 && doc.data[doc.len - 1] != '\n' && doc.data[doc.len - 1] != '\r') u += '\n';
    auto here = [&] { return static_cast<long long>(doc.len) + static_cast<long long>(u.size()); };
    std::vector<written_obj> objs;
    int32_t top = static_cast<int32_t>(first_free) - 1;
    auto begin_obj = [&](int32_t num, int32_t gen) {
        objs.push_back({num, gen, here()});
        top = std::max(top, num);
        put_header(&u, num, gen);
    };
    int32_t info_gen = 0;
    if (plan.info.edit == obj_edit::replace || plan.info.edit == obj_edit::add) {
        info_gen = row_gen(doc, plan.info.num, plan.info.edit);
        begin_obj(plan.info.num, info_gen);
        u += plan.info.body;
        u += "\nendobj\n";
    }
    if (plan.xmp.edit == obj_edit::replace || plan.xmp.edit == obj_edit::add) {
        begin_obj(plan.xmp.num, row_gen(doc, plan.xmp.num, plan.xmp.edit));
        u += "<</Type /Metadata /Subtype /XML /Length ";
        put_num(&u, static_cast<long long>(plan.xmp.body.size()));
        u += ">>\nstream\n";
        u += plan.xmp.body;
        u += "\nendstream\nendobj\n";
    }
    if (plan.catalog.edit == obj_edit::replace) {
        begin_obj(plan.catalog.num, row_gen(doc, plan.catalog.num, obj_edit::replace));
        put_catalog(&u, plan.catalog.body);
    }

    // Trailer entries shared by both kinds of section.
    std::string id_first = last.id_first;
    std::string id_second = new_id_element(id_first, doc.len, u);
    if (id_first.empty()) id_first = id_second;
    auto trailer_keys = [&](std::string* s, int32_t size) {
        *s += "/Size ";
        put_num(s, size);
        put_ref(s, "/Root", doc.root, row_gen(doc, doc.root, obj_edit::replace));
        if (plan.info.edit == obj_edit::replace || plan.info.edit == obj_edit::add)
            put_ref(s, "/Info", plan.info.num, info_gen);
        else if (doc.info >= 0)
            put_ref(s, "/Info", doc.info, row_gen(doc, doc.info, obj_edit::replace));
        *s += "/Prev ";
        put_num(s, static_cast<long long>(last.at));
        *s += "/ID[" + id_first + id_second + "]";
    };

    std::sort(objs.begin(), objs.end(), [](const written_obj& a, const written_obj& b) { return a.num < b.num; });
    long long xref_at = 0;
    if (!last.is_stream) {
        if (here() >= TABLE_OFFSET_LIMIT) {
            set_error("output too large for a cross-reference table");
            return false;
        }
        std::vector<std::string> rows;
        for (const written_obj& o : objs) {
            char row[32];
            std::snprintf(row, sizeof row, "%010lld %05d n \n", o.off, static_cast<int>(o.gen % 100000));
            rows.push_back(row);
        }
        xref_at = here();
        u += "xref\n";
        index_runs(objs, true, &rows, &u);
        u += "trailer\n<<";
        trailer_keys(&u, top + 1);
        if (!last.xref_stm.empty()) u += "/XRefStm " + last.xref_stm;
        u += ">>\n";
    } else {
        int32_t self = top + 1;
        xref_at = here();
        objs.push_back({self, 0, xref_at});
        int w2 = xref_at > 0xFFFFFFFFLL ? 8 : 4;
        std::string data;
        for (const written_obj& o : objs) {
            put_be(&data, 1, 1);
            put_be(&data, static_cast<uint64_t>(o.off), w2);
            put_be(&data, static_cast<uint64_t>(o.gen), 2);
        }
        put_header(&u, self, 0);
        u += "<</Type /XRef";
        trailer_keys(&u, self + 1);
        u += "/W[1 " + std::to_string(w2) + " 2]/Index[" + index_runs(objs, false, nullptr, nullptr) + "]/Length ";
        put_num(&u, static_cast<long long>(data.size()));
        u += ">>\nstream\n";
        u += data;
        u += "\nendstream\nendobj\n";
    }
    if (written) *written = objs;
    *tail_at = u.size();
    u += "startxref\n";
    put_num(&u, xref_at);
    u += "\n%%EOF\n";
    return true;
}

namespace {

bool pwrite_all(int fd, const char* p, size_t n, off_t at) {
    while (n > 0) {
        ssize_t w = pwrite(fd, p, n, at);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
        at += w;
    }
    return true;
}

// Whether a reader of the file at path finds every object of the update
// where it was written; else false with the message.
bool update_reads_back(const char* path, const char* in_path, const std::vector<update_obj>& objs) {
    pdf_doc out;
    bool ok = doc_load(path, &out, 0) == 0;
    for (size_t i = 0; ok && i < objs.size(); ++i) {
        const obj_entry* e = doc_find(out, objs[i].num);
        ok = e && !e->in_objstm && e->obj_pos == objs[i].off;
    }
    if (!ok)
        set_error(
            "cannot update %s incrementally: a reader would not see the update (the file ends inside an unterminated "
            "stream or object); rewrite it without the incremental option",
            in_path);
    return ok;
}

// Appends in place: the body of the update, a sync, then the startxref tail
// and a sync; cut back to the old length on any failure, and when `check`
// is given and the update does not read back.
int append_in_place(const pdf_doc& doc, const char* path, const std::string& u, size_t tail_at,
                    const std::vector<update_obj>* check) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        set_error("cannot write %s", path);
        return 0;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_size != static_cast<off_t>(doc.len)) {
        close(fd);
        set_error("%s changed since it was read", path);
        return 0;
    }
    off_t base = static_cast<off_t>(doc.len);
    bool ok = pwrite_all(fd, u.data(), tail_at, base) && fdatasync(fd) == 0 &&
              pwrite_all(fd, u.data() + tail_at, u.size() - tail_at, base + static_cast<off_t>(tail_at)) &&
              fsync(fd) == 0;
    if (!ok) set_error("cannot write %s", path);
    bool seen = !ok || !check || update_reads_back(path, path, *check);
    if (!ok || !seen) {
        if (ftruncate(fd, base) == 0) fsync(fd);
        ok = false;
    }
    if (close(fd) != 0 && ok) {
        set_error("close error on %s", path);
        return 0;
    }
    return ok ? 1 : 0;
}

struct copy_job {
    const pdf_doc* doc;
    int in_fd;
    const std::string* update;
    const char* in_path;
    const std::vector<update_obj>* check;  // objects to find in the copy, or null
};

bool copy_reads_back(const char* temp_path, void* ctx) {
    const copy_job& job = *static_cast<const copy_job*>(ctx);
    return !job.check || update_reads_back(temp_path, job.in_path, *job.check);
}

bool write_all_fd(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// The input's bytes into fd: a reflink where the file system shares blocks,
// else copy_file_range, else a write of the loaded bytes; then the update.
bool fill_copy(int fd, void* ctx) {
    const copy_job& job = *static_cast<const copy_job*>(ctx);
    auto len = static_cast<off_t>(job.doc->len);
    bool copied = false;
    if (job.in_fd >= 0) {
        struct stat st;
        bool same_size = fstat(job.in_fd, &st) == 0 && st.st_size == len;
        if (same_size && ioctl(fd, FICLONE, job.in_fd) == 0) {
            copied = lseek(fd, len, SEEK_SET) == len;
        } else if (same_size) {
            off_t in_off = 0;
            while (in_off < len) {
                ssize_t n = copy_file_range(job.in_fd, &in_off, fd, nullptr, static_cast<size_t>(len - in_off), 0);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
            }
            copied = in_off == len;
            if (!copied && (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0)) return false;
        }
    }
    if (!copied && !write_all_fd(fd, reinterpret_cast<const char*>(job.doc->data), static_cast<size_t>(len)))
        return false;
    return write_all_fd(fd, job.update->data(), job.update->size());
}

bool same_file(const char* a, const char* b) {
    struct stat sa, sb;
    return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

int doc_write_incremental(const pdf_doc& doc, const char* in_path, const char* out_path, const write_request& req,
                          bool check_read_back) {
    if (!out_path) {
        set_error("NULL output path");
        return 0;
    }
    std::string update;
    size_t tail_at = 0;
    std::vector<update_obj> written;
    if (!incremental_update_build(doc, in_path, req, &update, &tail_at, &written)) return 0;
    const std::vector<update_obj>* check = check_read_back ? &written : nullptr;
    if (same_file(in_path, out_path)) return append_in_place(doc, out_path, update, tail_at, check);
    copy_job job{&doc, open(in_path, O_RDONLY | O_CLOEXEC), &update, in_path, check};
    int r = write_file_atomic_fd(out_path, fill_copy, &job, copy_reads_back);
    if (job.in_fd >= 0) close(job.in_fd);
    return r;
}

std::string trailer_id_text(const pdf_doc& doc) {
    last_section s;
    return find_last_section(doc, &s) ? s.id_whole : std::string();
}
