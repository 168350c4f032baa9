#include "core/frame.h"

#include <cstdarg>
#include <cstdio>

#include "vellix.h"

thread_local char g_err[ERR_CAP];

thread_local result_slot g_read_json, g_xmp_json, g_batch_json, g_fonts_json, g_images_json,
    g_bookmarks_json, g_security_json, g_analyze_json, g_labels_json, g_compare_json;

int set_error(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(g_err, ERR_CAP, fmt, ap);
    va_end(ap);
    g_err[ERR_CAP - 1] = 0;
    return n;
}

const char* slot_publish(result_slot& slot, strbuf& b, const char* fail_msg) {
    if (b.len != 0) {
        slot.reset();
        slot.text = b.release();
        return slot.text;
    }
    b.reset();
    set_error("%s", fail_msg);
    return nullptr;
}

extern "C" {

VELLIX_API int vellix_init(void) {
    clear_error();
    return 1;
}

VELLIX_API void vellix_cleanup(void) { clear_error(); }

VELLIX_API const char* vellix_last_error(void) { return g_err; }

}  // extern "C"
