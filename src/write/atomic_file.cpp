#include "write/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "core/frame.h"

namespace {

constexpr int LINK_DEPTH_MAX = 40;    // as the kernel's own limit on nested links
constexpr int TEMP_TRIES = 64;
constexpr uint64_t WRITE_CHUNK = 1u << 30;  // write() moves at most ~2 GiB per call
constexpr size_t IOV_BATCH = 1024;          // pieces per writev call (the usual IOV_MAX)

std::string dir_of(const std::string& p) {
    size_t slash = p.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return p.substr(0, slash);
}

// The path that writing through `path` would reach: symbolic links are
// followed (relative targets against the link's directory). Empty when the
// links loop or cannot be read.
std::string final_target(const char* path) {
    std::string p = path;
    for (int depth = 0; depth < LINK_DEPTH_MAX; ++depth) {
        struct stat st;
        if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 256) + 1, '\0');
        ssize_t n = readlink(p.c_str(), target.data(), target.size());
        if (n <= 0) return std::string();
        if (static_cast<size_t>(n) >= target.size()) {  // grew since lstat: read again larger
            target.resize(4096);
            n = readlink(p.c_str(), target.data(), target.size());
            if (n <= 0 || static_cast<size_t>(n) >= target.size()) return std::string();
        }
        target.resize(static_cast<size_t>(n));
        p = target[0] == '/' ? target : dir_of(p) + "/" + target;
    }
    return std::string();
}

// Opens a new file with a fresh name in dir; fd -1 when none could be made.
int open_temp(const std::string& dir, std::string* name) {
    static thread_local unsigned long counter = 0;
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    unsigned long seed = static_cast<unsigned long>(ts.tv_nsec) ^ (static_cast<unsigned long>(getpid()) << 20);
    for (int i = 0; i < TEMP_TRIES; ++i) {
        unsigned long v = seed + (++counter) * 0x9E3779B97F4A7C15ul;
        char tail[40];
        std::snprintf(tail, sizeof tail, "/.vellix-%012lx.tmp", v & 0xFFFFFFFFFFFFul);
        *name = dir + tail;
        int fd = open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST) return -1;
    }
    return -1;
}

bool write_all(int fd, const char* data, uint64_t len) {
    while (len > 0) {
        size_t chunk = static_cast<size_t>(len < WRITE_CHUNK ? len : WRITE_CHUNK);
        ssize_t n = write(fd, data, chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        len -= static_cast<uint64_t>(n);
    }
    return true;
}

// Writes the pieces in order, up to IOV_BATCH of them per call; a short
// write resumes inside the piece where it stopped.
bool write_all_v(int fd, const iovec* pieces, size_t count) {
    iovec batch[IOV_BATCH];
    size_t i = 0, skip = 0;  // next piece, and bytes of it already written
    while (i < count) {
        int n_iov = 0;
        for (size_t k = i; k < count && n_iov < static_cast<int>(IOV_BATCH); ++k) {
            size_t from = k == i ? skip : 0;
            if (pieces[k].iov_len > from)
                batch[n_iov++] = {static_cast<char*>(pieces[k].iov_base) + from, pieces[k].iov_len - from};
        }
        if (n_iov == 0) return true;
        ssize_t n = writev(fd, batch, n_iov);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        auto left = static_cast<size_t>(n);
        while (i < count && left >= pieces[i].iov_len - skip) {
            left -= pieces[i].iov_len - skip;
            ++i;
            skip = 0;
        }
        skip += left;
    }
    return true;
}

// The temporary file, its permissions and ownership, the rename: `write`
// fills the open file and reports success.
template <class Fill>
int write_atomic_with(const char* path, Fill fill, bool (*check)(const char*, void*) = nullptr,
                      void* check_ctx = nullptr) {
    std::string target = final_target(path);
    if (target.empty()) {
        set_error("cannot write %s", path);
        return 0;
    }
    struct stat old;
    bool exists = stat(target.c_str(), &old) == 0;
    // A directory cannot be replaced, and a file we may not write is left alone
    // as opening it for writing would have left it.
    if (exists && (S_ISDIR(old.st_mode) || faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)) {
        set_error("cannot write %s", path);
        return 0;
    }
    std::string temp;
    int fd = open_temp(dir_of(target), &temp);
    if (fd < 0) {
        set_error("cannot write %s", path);
        return 0;
    }
    if (exists && S_ISREG(old.st_mode)) {
        if (old.st_uid != geteuid() || old.st_gid != getegid()) {
            if (fchown(fd, old.st_uid, old.st_gid) != 0) { /* keep our ownership */ }
        }
        fchmod(fd, old.st_mode & 07777);
    }
    bool ok = fill(fd);
    if (!ok) set_error("short write to %s", path);
    if (close(fd) != 0) {
        set_error("close error on %s", path);
        ok = false;
    }
    if (ok && check && !check(temp.c_str(), check_ctx)) ok = false;
    if (ok && rename(temp.c_str(), target.c_str()) != 0) {
        set_error("cannot write %s", path);
        ok = false;
    }
    if (!ok) unlink(temp.c_str());
    return ok ? 1 : 0;
}

}  // namespace

int write_file_atomic(const char* path, const char* data, uint64_t len) {
    return write_atomic_with(path, [&](int fd) { return write_all(fd, data, len); });
}

int write_file_atomic_v(const char* path, const iovec* pieces, size_t count,
                        bool (*check)(const char* temp_path, void* ctx), void* ctx) {
    return write_atomic_with(path, [&](int fd) { return write_all_v(fd, pieces, count); }, check, ctx);
}

int write_file_atomic_fd(const char* path, bool (*fill)(int fd, void* ctx), void* ctx,
                         bool (*check)(const char* temp_path, void* ctx)) {
    return write_atomic_with(path, [&](int fd) { return fill(fd, ctx); }, check, ctx);
}
