/* A program built against an installed vellix: reads the Info of the file
 * named by its argument, with Unicode texts and standard structure reading,
 * and checks a failure message. */
#include <stdio.h>
#include <string.h>

#include <vellix.h>

int main(int argc, char **argv) {
    const char *info;
    if (argc != 2) {
        fprintf(stderr, "usage: consumer FILE\n");
        return 2;
    }
    if (vellix_init() != 1) return 1;
    if (vellix_set_options(VELLIX_UNICODE | VELLIX_RESOLVE) != 0) return 1;
    info = vellix_read(argv[1]);
    if (!info) {
        fprintf(stderr, "vellix_read failed: %s\n", vellix_last_error());
        return 1;
    }
    if (vellix_read("/nonexistent/x.pdf") != NULL ||
        strcmp(vellix_last_error(), "cannot open /nonexistent/x.pdf") != 0) {
        fprintf(stderr, "unexpected result for a missing file: %s\n", vellix_last_error());
        return 1;
    }
    puts(vellix_read(argv[1]));
    return 0;
}
