// Any bytes as a PDF file through every text export: each result is valid
// JSON with no message, or NULL with a message.
#include "fuzz_common.h"
#include "properties.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::check(fuzzprop::check_text_exports(fuzz::scratch(), data, size));
    return 0;
}
