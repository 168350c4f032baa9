/* Compiled as C (and as C++) against the public header and linked with the
 * shared library: the declarations must be valid in both languages and the
 * symbols must resolve with C linkage. */
#include <stdio.h>
#include <string.h>

#include "vellix.h"

static int failures = 0;

static void check(int ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

int main(void) {
    /* The declared types, checked by assignment to exact pointer types. */
    int (*init_fn)(void) = vellix_init;
    void (*cleanup_fn)(void) = vellix_cleanup;
    const char *(*last_error_fn)(void) = vellix_last_error;
    const char *msg;
    const char *again;

    msg = last_error_fn();
    check(msg != NULL, "vellix_last_error is never NULL");
    check(msg != NULL && msg[0] == '\0', "no message before any failure");

    check(init_fn() == 1, "vellix_init returns 1");
    check(vellix_init() == 1, "a second vellix_init returns 1");
    again = vellix_last_error();
    check(again == msg, "vellix_last_error returns the same buffer every time");
    check(again != NULL && strcmp(again, "") == 0, "vellix_init leaves the message empty");

    cleanup_fn();
    check(vellix_last_error() == msg, "the buffer outlives vellix_cleanup");
    check(vellix_last_error()[0] == '\0', "vellix_cleanup leaves the message empty");
    check(vellix_init() == 1, "vellix_init after vellix_cleanup returns 1");

    if (failures == 0) printf("public header: ok\n");
    return failures == 0 ? 0 : 1;
}
