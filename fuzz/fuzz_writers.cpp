// Any bytes as a PDF file through each writer, rewriting, (with
// VELLIX_INCREMENTAL) appending an update and (with VELLIX_KEEP_STREAMS)
// copying untouched object streams: whenever vellix_read accepts the input,
// it accepts every written copy with the same page count.
#include "fuzz_common.h"
#include "properties.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (unsigned bits : {0u, VELLIX_INCREMENTAL, VELLIX_KEEP_STREAMS})
        fuzz::check(fuzzprop::check_writers(fuzz::scratch(), data, size, bits));
    return 0;
}
