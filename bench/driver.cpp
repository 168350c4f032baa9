// Calls one export of the library directly, so a benchmark can time the
// library without the command-line tool around it. Reports go to standard
// output like the tool's; writers print nothing.
//
//   driver [-n COUNT] read|xmp|analyze FILE
//   driver [-n COUNT] write IN OUT TITLE
//   driver [-n COUNT] batch-read DIR
//   driver [-n COUNT] batch-clear IN_DIR OUT_DIR
//
// -n repeats the call COUNT times in the process (for profiling); the result
// of the last call is printed. Exit status 0 on success, 1 on failure.
// VELLIX_BENCH_OPTIONS (a number, e.g. 3) sets the library options first.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "vellix.h"

namespace {

int usage() {
    std::fputs("usage: driver [-n COUNT] read|xmp|analyze FILE | write IN OUT TITLE | batch-read DIR |"
               " batch-clear IN_DIR OUT_DIR\n",
               stderr);
    return 2;
}

int failed() {
    std::fprintf(stderr, "driver: %s\n", vellix_last_error());
    return 1;
}

int report(const char* text, bool print) {
    if (!text) return failed();
    if (print) std::puts(text);
    return 0;
}

// One call of the operation; returns the exit status.
int run_once(std::string_view op, char** a, int n, bool print) {
    if (op == "read" && n == 1) return report(vellix_read(a[0]), print);
    if (op == "xmp" && n == 1) return report(vellix_read_xmp(a[0]), print);
    if (op == "analyze" && n == 1) return report(vellix_analyze(a[0]), print);
    if (op == "write" && n == 3) return vellix_write(a[0], a[1], a[2], nullptr, nullptr, nullptr) ? 0 : failed();
    if (op == "batch-read" && n == 1) {
        const char* text = nullptr;
        return vellix_batch_read(a[0], &text) ? report(text, print) : failed();
    }
    if (op == "batch-clear" && n == 2) {
        int written = vellix_batch_clear(a[0], a[1]);
        if (written < 0) return failed();
        if (print) std::printf("%d\n", written);
        return 0;
    }
    return usage();
}

}  // namespace

int main(int argc, char** argv) {
    int i = 1;
    long count = 1;
    if (i + 1 < argc && std::strcmp(argv[i], "-n") == 0) {
        count = std::strtol(argv[i + 1], nullptr, 10);
        if (count < 1) return usage();
        i += 2;
    }
    if (i >= argc) return usage();
    if (const char* o = std::getenv("VELLIX_BENCH_OPTIONS")) {
        if (vellix_set_options(static_cast<unsigned>(std::strtoul(o, nullptr, 0))) == static_cast<unsigned>(-1)) {
            std::fprintf(stderr, "driver: %s\n", vellix_last_error());
            return 1;
        }
    }
    std::string_view op = argv[i];
    int rc = 0;
    for (long k = 0; k < count && rc == 0; ++k) rc = run_once(op, argv + i + 1, argc - i - 1, k + 1 == count);
    return rc;
}
