// Any bytes as a PDF file through each writer, rewriting and (with
// VELLIX_INCREMENTAL) appending an update: whenever vellix_read accepts the
// input, it accepts every written copy with the same page count.
#include "fuzz_common.h"
#include "properties.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (unsigned bits : {0u, VELLIX_INCREMENTAL}) {
        vellix_set_options(bits);
        fuzz::check(fuzzprop::check_writers(fuzz::scratch(), data, size));
    }
    vellix_set_options(0);
    return 0;
}
