// Any text as the JSON argument of vellix_write_full and vellix_write_xmp on
// a fixed small valid PDF.
#include "fuzz_common.h"
#include "properties.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string fixture = [] {
        std::string path = fuzz::scratch() + "/fixture.pdf";
        std::string bytes = fuzzprop::json_args_fixture();
        fuzz::check(fuzzprop::write_bytes(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
        return path;
    }();
    static const std::string out = fuzz::scratch() + "/output.pdf";
    fuzz::check(fuzzprop::check_json_args(fixture, out, data, size));
    return 0;
}
