#include "api/dir_list.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "core/frame.h"

namespace {

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

struct dir_closer {
    void operator()(DIR* d) const noexcept { closedir(d); }
};

}  // namespace

bool dir_entry_qualifies(const char* name) {
    size_t n = std::strlen(name);
    if (n < 5 || name[0] == '.') return false;
    const char* tail = name + n - 4;
    static const char ext[] = ".pdf";
    for (int i = 0; i < 4; ++i)
        if (ascii_lower(tail[i]) != ext[i]) return false;
    return true;
}

bool dir_list_pdfs(const char* dir, std::vector<std::string>* names) {
    std::unique_ptr<DIR, dir_closer> d(opendir(dir));
    if (!d) return false;
    while (struct dirent* e = readdir(d.get()))
        if (dir_entry_qualifies(e->d_name)) names->emplace_back(e->d_name);
    return true;
}

std::string dir_join(const char* dir, const std::string& name) {
    std::string p(dir);
    p += '/';
    p += name;
    return p;
}

bool dir_make(const char* path) { return mkdir(path, 0777) == 0 || errno == EEXIST; }

bool pdf_dir_open(const char* dir, pdf_dir* out) {
    out->path = dir;
    if (dir_list_pdfs(dir, &out->names)) return true;
    set_error("cannot open directory %s", dir);
    return false;
}
