// The options exports: a per-thread word, like the last-error message.
#include "core/frame.h"
#include "core/options.h"
#include "vellix.h"

extern "C" {

VELLIX_API unsigned vellix_set_options(unsigned options) {
    clear_error();
    unsigned unknown = options & ~OPT_KNOWN;
    if (unknown) {
        set_error("unknown option bits 0x%x", unknown);
        return static_cast<unsigned>(-1);
    }
    unsigned previous = options_get();
    options_set(options);
    return previous;
}

VELLIX_API unsigned vellix_get_options(void) { return options_get(); }

}  // extern "C"
