/* Runs every export of a given libvellix.so over a directory of PDF files and
 * stores each report text and each writer's output file under an output
 * directory, so two builds of the library can be compared with diff -r.
 * The clock is held fixed (time() is defined here and interposes the C
 * library's), so the dates that writers stamp are the same in every run.
 *
 * Usage: snapshot LIBRARY INPUT_DIR OUTPUT_DIR
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

/* 2025-06-01 12:00:00 UTC */
time_t time(time_t *t) {
    time_t v = 1748779200;
    if (t) *t = v;
    return v;
}

typedef const char *(*report_fn)(const char *);
typedef int (*write2_fn)(const char *, const char *);
typedef int (*write3_fn)(const char *, const char *, const char *);
typedef int (*write6_fn)(const char *, const char *, const char *, const char *, const char *, const char *);
typedef const char *(*compare_fn)(const char *, const char *);
typedef int (*batch_read_fn)(const char *, const char **);
typedef const char *(*err_fn)(void);

static void *lib;
static err_fn last_error;

static void *sym(const char *name) {
    void *p = dlsym(lib, name);
    if (!p) {
        fprintf(stderr, "missing %s\n", name);
        exit(2);
    }
    return p;
}

static void put_text(const char *dir, const char *file, const char *op, const char *text) {
    char path[4096];
    snprintf(path, sizeof path, "%s/%s.%s", dir, file, op);
    FILE *f = fopen(path, "wb");
    if (!f) {
        perror(path);
        exit(2);
    }
    if (text)
        fprintf(f, "%s\n", text);
    else
        fprintf(f, "NULL: %s\n", last_error());
    fclose(f);
}

static void put_flag(const char *dir, const char *file, const char *op, long r) {
    char text[1200];
    snprintf(text, sizeof text, "%ld: %s", r, last_error());
    put_text(dir, file, op, text);
}

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: snapshot LIBRARY INPUT_DIR OUTPUT_DIR\n");
        return 2;
    }
    lib = dlopen(argv[1], RTLD_NOW);
    if (!lib) {
        fprintf(stderr, "%s\n", dlerror());
        return 2;
    }
    last_error = (err_fn)sym("vellix_last_error");
    static const char *reports[] = {"vellix_read",  "vellix_read_xmp", "vellix_fonts",   "vellix_images",
                                    "vellix_bookmarks", "vellix_security", "vellix_analyze", "vellix_page_labels"};
    write6_fn w = (write6_fn)sym("vellix_write");
    write2_fn clear = (write2_fn)sym("vellix_clear");
    write3_fn full = (write3_fn)sym("vellix_write_full");
    write3_fn wxmp = (write3_fn)sym("vellix_write_xmp");
    write2_fn cxmp = (write2_fn)sym("vellix_clear_xmp");
    compare_fn cmp = (compare_fn)sym("vellix_compare");
    batch_read_fn batch = (batch_read_fn)sym("vellix_batch_read");
    int (*batch_clear)(const char *, const char *) = (int (*)(const char *, const char *))sym("vellix_batch_clear");

    const char *in = argv[2], *out = argv[3];
    mkdir(out, 0777);
    DIR *d = opendir(in);
    if (!d) {
        perror(in);
        return 2;
    }
    char prev[4096] = "";
    struct dirent *e;
    while ((e = readdir(d))) {
        const char *n = e->d_name;
        size_t l = strlen(n);
        if (l < 4 || strcmp(n + l - 4, ".pdf") != 0) continue;
        char src[4096], dst[4200];
        snprintf(src, sizeof src, "%s/%s", in, n);
        for (size_t i = 0; i < sizeof reports / sizeof reports[0]; ++i)
            put_text(out, n, reports[i] + 7, ((report_fn)sym(reports[i]))(src));
        snprintf(dst, sizeof dst, "%s/%s.out-write", out, n);
        put_flag(out, n, "write", w(src, dst, "T \xc3\xa9 (x)", NULL, "S", "k1, k2"));
        snprintf(dst, sizeof dst, "%s/%s.out-clear", out, n);
        put_flag(out, n, "clear", clear(src, dst));
        snprintf(dst, sizeof dst, "%s/%s.out-full", out, n);
        put_flag(out, n, "write_full",
                 full(src, dst, "{\"title\":\"Full\",\"author\":\"A\",\"creation_date\":\"2020-01-02\",\"producer\":\"P\"}"));
        snprintf(dst, sizeof dst, "%s/%s.out-xmp", out, n);
        put_flag(out, n, "write_xmp", wxmp(src, dst, "{\"dc:title\":\"X <&>\",\"pdf:Producer\":\"P\"}"));
        snprintf(dst, sizeof dst, "%s/%s.out-clear_xmp", out, n);
        put_flag(out, n, "clear_xmp", cxmp(src, dst));
        if (prev[0]) put_text(out, n, "compare", cmp(prev, src));
        snprintf(prev, sizeof prev, "%s", src);
    }
    closedir(d);
    const char *json = NULL;
    int r = batch(in, &json);
    put_text(out, "batch", "read", r ? json : NULL);
    char bdir[4200];
    snprintf(bdir, sizeof bdir, "%s/batch-clear", out);
    put_flag(out, "batch", "clear", batch_clear(in, bdir));
    return 0;
}
