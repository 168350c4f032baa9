// Last-error message, per-function result slots, and the guard that keeps
// exceptions from crossing an export.
#pragma once

#include <cstdint>
#include <exception>
#include <new>

#include "core/strbuf.h"

constexpr int ERR_CAP = 1024;

// Last failure message of this thread; "" means none. Reached through the
// general dynamic model everywhere: in an executable, GCC's initial-exec
// access tests the flags of its "add ...@gottpoff" for the null check of
// -fsanitize=null, and the linker's relaxation of that add into a lea (which
// sets no flags) left the check reading stale flags and reporting a load of
// null at every use in the sanitized tests.
extern thread_local char g_err[ERR_CAP] __attribute__((tls_model("global-dynamic")));

// printf-style message into g_err, cut to 1023 bytes. Never fails.
int set_error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
inline void clear_error() { g_err[0] = 0; }

// A result slot holds the text its export returned last (freed by the next
// call); each text-returning export defines its own beside it.
struct result_slot {
    char* text = nullptr;
    ~result_slot() { std::free(text); }
    void reset() noexcept { std::free(text); text = nullptr; }
};

// Publishes a finished report: a non-empty buffer moves into the slot and is
// returned; an empty one sets fail_msg and gives null.
const char* slot_publish(result_slot& slot, strbuf& b, const char* fail_msg);

// Runs an export body; an exception (memory exhausted inside a container)
// becomes `msg` in g_err and the export's failure value.
template <class R, class F>
R export_guard(R fail_value, const char* msg, F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        set_error("%s", msg);
        return fail_value;
    }
}
