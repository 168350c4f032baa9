// The frame exports: the last-error message and the calls that empty it.
#include "core/frame.h"
#include "vellix.h"

extern "C" {

VELLIX_API int vellix_init(void) {
    clear_error();
    return 1;
}

VELLIX_API void vellix_cleanup(void) { clear_error(); }

VELLIX_API const char* vellix_last_error(void) { return g_err; }

}  // extern "C"
