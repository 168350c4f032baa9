// Any bytes as a PDF file, loaded with object streams decoded on demand and
// with the full expansion while loading: the same object table and the same
// output from every export.
#include <ctime>

#include "fuzz_common.h"
#include "properties.h"

// The writers' dates, held fixed so that both passes write the same bytes.
extern "C" time_t time(time_t* t) {
    const time_t v = 1748779200;
    if (t) *t = v;
    return v;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::check(fuzzprop::check_lazy_expansion(fuzz::scratch(), data, size));
    return 0;
}
