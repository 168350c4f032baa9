// Shared pieces of the fuzz targets: a private scratch directory, and the
// abort that libFuzzer reports as a crash when a property fails.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzz {

// A directory of this process under /dev/shm (or the temporary directory
// when /dev/shm is missing), removed with its contents at exit. Fork-mode
// workers are processes of their own and so get their own.
class scratch_dir {
public:
    scratch_dir() {
        std::error_code ec;
        std::string base = std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm"
                                                                         : std::filesystem::temp_directory_path().string();
        std::string tmpl = base + "/vellix-fuzz-XXXXXX";
        if (!mkdtemp(tmpl.data())) {
            std::fprintf(stderr, "cannot create a scratch directory under %s\n", base.c_str());
            std::abort();
        }
        path_ = tmpl;
    }
    ~scratch_dir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline scratch_dir& scratch_instance() {
    static scratch_dir dir;
    return dir;
}
inline const std::string& scratch() { return scratch_instance().path(); }
inline void remove_scratch() {
    std::error_code ec;
    std::filesystem::remove_all(scratch_instance().path(), ec);
}

// Aborts on a failed property (libFuzzer saves the input); the scratch
// directory goes first, since abort runs no destructors.
inline void check(const std::string& fault) {
    if (fault.empty()) return;
    std::fprintf(stderr, "\n*** property failed: %s\n", fault.c_str());
    std::fflush(stderr);
    remove_scratch();
    std::abort();
}

}  // namespace fuzz
