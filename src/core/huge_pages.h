// Advice that a large buffer be backed by huge pages.
#pragma once

#include <cstdint>

// A large buffer that is touched once from end to end (a file read into
// memory, an output built in memory): huge pages save most of its page
// faults. Only advice for buffers of 8 MiB and more; a failure is harmless.
void advise_huge_pages(void* p, uint64_t n);
