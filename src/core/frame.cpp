#include "core/frame.h"

#include <cstdarg>
#include <cstdio>

thread_local char g_err[ERR_CAP];

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
