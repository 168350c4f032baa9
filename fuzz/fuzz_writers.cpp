// Any bytes as a PDF file through each writer: whenever vellix_read accepts
// the input, it accepts every written copy with the same page count.
#include "fuzz_common.h"
#include "properties.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::check(fuzzprop::check_writers(fuzz::scratch(), data, size));
    return 0;
}
