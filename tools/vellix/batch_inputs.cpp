#include "batch_inputs.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace {

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// A directory entry the walk reports: "*.pdf" in any case, not hidden (the
// rule of the library's own directory reading).
bool pdf_name(const std::string& name) {
    if (name.size() < 5 || name[0] == '.') return false;
    static const char ext[] = ".pdf";
    for (size_t i = 0; i < 4; ++i)
        if (ascii_lower(name[name.size() - 4 + i]) != ext[i]) return false;
    return true;
}

std::string without_final_slashes(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

std::string join(const std::string& dir, const std::string& name) {
    return dir == "/" ? "/" + name : dir + "/" + name;
}

}  // namespace

std::string batch_mirror_path(const std::string& path) {
    std::filesystem::path p = std::filesystem::path(path).lexically_normal().relative_path();
    std::string s = p.string();
    if (s.empty() || s == "." || s == ".." || s.rfind("../", 0) == 0) return "";
    return without_final_slashes(s);
}

batch_inputs::batch_inputs(batch_input_settings s) : s_(std::move(s)) {}

batch_inputs::~batch_inputs() {
    if (list_owned_ && list_) std::fclose(list_);
    std::free(line_);
}

bool batch_inputs::open() {
    if (s_.files_from.empty()) return true;
    if (s_.files_from == "-") {
        list_ = stdin;
    } else {
        list_ = std::fopen(s_.files_from.c_str(), "rb");
        if (!list_) {
            message_ = "cannot open file list " + s_.files_from;
            return false;
        }
        list_owned_ = true;
    }
    struct stat st;
    list_regular_ = fstat(fileno(list_), &st) == 0 && S_ISREG(st.st_mode);
    return true;
}

bool batch_inputs::read_list_entry(std::string& entry) {
    ssize_t n = getdelim(&line_, &line_cap_, s_.nul ? '\0' : '\n', list_);
    if (n < 0) {
        if (std::ferror(list_)) message_ = "cannot read file list " + s_.files_from;
        return false;
    }
    size_t len = static_cast<size_t>(n);
    if (len > 0 && line_[len - 1] == (s_.nul ? '\0' : '\n')) --len;
    entry.assign(line_, len);
    return true;
}

bool batch_inputs::enter(const std::string& dir, const std::string& rel, batch_input& out) {
    DIR* d = opendir(dir.c_str());
    if (!d) {
        out = {dir, rel, "cannot open directory " + dir};
        return true;
    }
    struct stat st;
    bool fresh = fstat(dirfd(d), &st) == 0;
    if (fresh && !rel.empty()) {
        // Directories to leave out are only those met inside the walk: a root
        // the user names is always read.
        for (const std::string& skip : s_.skip_dirs) {
            struct stat ss;
            if (stat(skip.c_str(), &ss) == 0 && ss.st_dev == st.st_dev && ss.st_ino == st.st_ino) fresh = false;
        }
    }
    fresh = fresh && seen_dirs_.insert({st.st_dev, st.st_ino}).second;
    if (!fresh) {
        closedir(d);
        return false;
    }
    level lv{dir, rel, {}, 0};
    while (struct dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;  // ".", ".." and hidden names
        lv.entries.emplace_back(e->d_name, e->d_type);
    }
    closedir(d);
    std::sort(lv.entries.begin(), lv.entries.end());
    stack_.push_back(std::move(lv));
    return false;
}

bool batch_inputs::given(const std::string& path, bool listed, batch_input& out) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return listed ? false : enter(without_final_slashes(path), "", out);
    out = {path, batch_mirror_path(path), ""};
    return true;
}

bool batch_inputs::next(batch_input& out) {
    for (;;) {
        if (!stack_.empty()) {
            level& lv = stack_.back();
            if (lv.next == lv.entries.size()) {
                stack_.pop_back();
                continue;
            }
            const auto& [name, type] = lv.entries[lv.next++];
            std::string path = join(lv.dir, name);
            std::string rel = lv.rel.empty() ? name : lv.rel + "/" + name;
            bool is_dir = type == DT_DIR;
            if (type == DT_LNK || type == DT_UNKNOWN) {
                struct stat st;
                is_dir = stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
            }
            if (is_dir) {
                if (s_.recursive && enter(path, rel, out)) return true;
                continue;
            }
            if (!pdf_name(name)) continue;
            out = {std::move(path), std::move(rel), ""};
            return true;
        }
        if (operand_ < s_.operands.size()) {
            if (given(s_.operands[operand_++], false, out)) return true;
            continue;
        }
        if (list_ && !list_done_) {
            std::string entry;
            if (!read_list_entry(entry)) {
                list_done_ = true;
                continue;
            }
            if (!entry.empty() && given(entry, true, out)) return true;
            continue;
        }
        return false;
    }
}
