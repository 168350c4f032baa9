// The Flate decoder: zlib's compression of any bytes decodes back exactly,
// and arbitrary streams give a documented outcome without any access beyond
// exactly sized heap buffers (see check_inflate).
#include "fuzz_common.h"
#include "properties.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::check(fuzzprop::check_inflate(data, size));
    return 0;
}
