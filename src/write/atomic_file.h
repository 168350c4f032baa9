// Atomic replacement of an output file.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes len bytes to path through a temporary file in the directory of the
// file that path finally names (a symbolic link is followed to its target),
// then renames it into place. An existing file keeps its permission bits; a
// new one gets 0666 less the umask. Returns 1 on success; on failure 0 with
// "cannot write %s", "short write to %s" or "close error on %s" (path as
// given) in g_err, the temporary file removed and the old file untouched.
int write_file_atomic(const char* path, const char* data, uint64_t len);

struct iovec;
// The same for a file made of `count` pieces, written in order; check as
// write_file_atomic_fd has it.
int write_file_atomic_v(const char* path, const struct iovec* pieces, size_t count,
                        bool (*check)(const char* temp_path, void* ctx) = nullptr, void* ctx = nullptr);

// The same for a file whose bytes fill(fd) writes into the open temporary
// file (true when it wrote them all; false gives "short write to %s").
// check, when given, sees the closed temporary file before the rename: false
// (with its own message) removes it and leaves the old file.
int write_file_atomic_fd(const char* path, bool (*fill)(int fd, void* ctx), void* ctx,
                         bool (*check)(const char* temp_path, void* ctx) = nullptr);
