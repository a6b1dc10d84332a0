/* A C host of the installed library, built with cc and pkg-config: compiles the programs
 * named on the command line on one thread each, all at once (they start together at a
 * barrier), reading included files through a reader callback, and checks every byte code
 * against the file zvc wrote (the program's stem + ".zvbc" in the reference directory).
 * Then checks that compile errors come back as located diagnostics.
 *
 *   chost REFDIR SOURCE...      (included files are read from the sources' directory)
 */
#define _POSIX_C_SOURCE 200809L

#include <zv.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures = 0;
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;

static void fail(const char* what, const char* detail) {
    pthread_mutex_lock(&lock);
    fprintf(stderr, "chost: %s: %s\n", what, detail);
    ++failures;
    pthread_mutex_unlock(&lock);
}

static char* slurp(const char* path, size_t* size) {
    FILE* f = fopen(path, "rb");
    if (!f) return NULL;
    size_t capacity = 4096, used = 0;
    char* data = malloc(capacity);
    size_t got;
    while (data && (got = fread(data + used, 1, capacity - used, f)) > 0) {
        used += got;
        if (used == capacity) data = realloc(data, capacity *= 2);
    }
    fclose(f);
    *size = used;
    return data;
}

/* The reader's user data: a directory, and the buffer handed out last (freed on the next
 * call, which the library allows). */
struct includedir {
    const char* dir;
    char* last;
};

static int readinclude(void* user, const char* path, const char** data, size_t* size) {
    struct includedir* from = user;
    char full[4096];
    snprintf(full, sizeof full, "%s/%s", from->dir, path);
    free(from->last);
    from->last = slurp(full, size);
    *data = from->last;
    return from->last ? 0 : 1;
}

struct job {
    const char* source;
    char expected[4096];
    const char* dir;
};

static pthread_barrier_t start;

static void* compileone(void* argument) {
    struct job* job = argument;
    size_t size = 0, expectedsize = 0;
    char* text = slurp(job->source, &size);
    char* expected = slurp(job->expected, &expectedsize);
    pthread_barrier_wait(&start);
    if (!text || !expected) {
        fail("cannot read", job->source);
    } else {
        struct includedir from = {job->dir, NULL};
        zv_options options = {job->source, readinclude, &from, ZV_OPTION_DESCRIPTION};
        zv_result* result = zv_compile(text, size, &options);
        size_t codesize = 0, descsize = 0;
        const unsigned char* code = zv_result_code(result, &codesize);
        zv_result_description(result, &descsize);
        if (zv_result_status(result) != ZV_STATUS_OK)
            fail("did not compile", job->source);
        else if (codesize != expectedsize || memcmp(code, expected, codesize) != 0)
            fail("byte code differs from zvc's", job->source);
        else if (descsize == 0)
            fail("no description map", job->source);
        free(from.last);
        zv_result_free(result);
    }
    free(text);
    free(expected);
    return NULL;
}

/* A program whose include has an error on line 2, column 3, included from line 2 of the
 * program; then one whose include cannot be read. */
static const char* includes[][2] = {{"bad.ZVEX", "x = 1\ny = * 2\n"}, {NULL, NULL}};

static int memoryreader(void* user, const char* path, const char** data, size_t* size) {
    (void)user;
    for (int i = 0; includes[i][0]; ++i) {
        if (strcmp(path, includes[i][0]) == 0) {
            *data = includes[i][1];
            *size = strlen(includes[i][1]);
            return 0;
        }
    }
    return 1;
}

/* Claims a file far larger than memory: the library's copy of it cannot be allocated. */
#ifndef __SANITIZE_ADDRESS__
static int hugereader(void* user, const char* path, const char** data, size_t* size) {
    (void)user, (void)path;
    *data = "x";
    *size = (size_t)1 << 46;
    return 0;
}
#endif

static void expectlocation(const zv_location* at, const char* file, unsigned line, unsigned column,
                           const char* what) {
    if (strcmp(at->file, file) != 0 || at->line != line || at->column != column) {
        char detail[512];
        snprintf(detail, sizeof detail, "%s:%u:%u, expected %s:%u:%u", at->file, (unsigned)at->line,
                 (unsigned)at->column, file, line, column);
        fail(what, detail);
    }
}

static void checkerrors(void) {
    const char* program = "a = 1\nalso bad\n";
    zv_options options = {"prog.zv", memoryreader, NULL, 0};
    zv_result* result = zv_compile(program, strlen(program), &options);
    size_t size = 1;
    zv_location at, from;
    const zv_diagnostic* d = zv_result_diagnostic(result, 0);
    if (zv_result_status(result) != ZV_STATUS_COMPILE_ERROR ||
        zv_result_diagnostic_count(result) != 1)
        fail("error in include", "expected one diagnostic and status 1");
    else if (zv_result_code(result, &size) != NULL || size != 0)
        fail("error in include", "a failed compilation handed out byte code");
    else if (zv_diagnostic_severity(d) != ZV_SEVERITY_ERROR ||
             strcmp(zv_diagnostic_code(d), "compile-error") != 0 ||
             strstr(zv_result_message(result), "Unexpected words") == NULL ||
             strcmp(zv_diagnostic_message(d), zv_result_message(result)) != 0)
        fail("error in include", zv_diagnostic_message(d));
    else if (!zv_diagnostic_location(d, &at) || zv_diagnostic_include_depth(d) != 1 ||
             !zv_diagnostic_included_from(d, 0, &from) || zv_diagnostic_note_count(d) == 0 ||
             zv_diagnostic_note(d, zv_diagnostic_note_count(d)) != NULL ||
             zv_diagnostic_included_from(d, 1, &from) != 0) {
        fail("error in include", "location, include chain or notes missing");
    } else {
        zv_diagnostic_location(d, &at);
        zv_diagnostic_included_from(d, 0, &from);
        expectlocation(&at, "bad.ZVEX", 2, 3, "error in include");
        if (at.end_offset <= at.offset || at.offset != 8) fail("error in include", "offsets");
        expectlocation(&from, "prog.zv", 2, 1, "include chain");
    }
    zv_result_free(result);

    program = "a = 1\n\nalso missing\n";
    result = zv_compile(program, strlen(program), &options);
    d = zv_result_diagnostic(result, 0);
    if (zv_result_status(result) != ZV_STATUS_COMPILE_ERROR ||
        strcmp(zv_diagnostic_message(d), "Could not open file with name: missing.ZVEX") != 0)
        fail("unreadable include", zv_result_message(result));
    zv_diagnostic_location(d, &at);
    expectlocation(&at, "prog.zv", 3, 1, "unreadable include");
    zv_result_free(result);

    /* The statement parser's exits come back as statuses, not as an ended process. */
    program = "x = (1 +\n";
    result = zv_compile(program, strlen(program), NULL);
    if (zv_result_status(result) != ZV_STATUS_UNCLOSED) fail("unclosed", "expected status 51");
    zv_result_free(result);

    zv_result* invalid = zv_compile(NULL, 3, NULL);
    if (zv_result_status(invalid) != ZV_STATUS_INVALID_ARGUMENT) fail("NULL text", "status");
    zv_result_free(invalid);

    /* Running out of memory is a status, not an exception through C or an abort. Under
     * AddressSanitizer a failed operator new ends the process, so it is not tried there. */
#ifndef __SANITIZE_ADDRESS__
    program = "also huge\n";
    zv_options huge = {"huge.zv", hugereader, NULL, 0};
    result = zv_compile(program, strlen(program), &huge);
    if (zv_result_status(result) != ZV_STATUS_NO_MEMORY)
        fail("out of memory", zv_result_message(result));
    zv_result_free(result);
#endif
    zv_result_free(NULL);
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: chost REFDIR SOURCE...\n");
        return 2;
    }
    const int n = argc - 2;
    struct job* jobs = calloc((size_t)n, sizeof *jobs);
    pthread_t* threads = calloc((size_t)n, sizeof *threads);
    pthread_barrier_init(&start, NULL, (unsigned)n);
    for (int i = 0; i < n; ++i) {
        const char* source = argv[i + 2];
        const char* name = strrchr(source, '/') ? strrchr(source, '/') + 1 : source;
        const char* dot = strrchr(name, '.');
        snprintf(jobs[i].expected, sizeof jobs[i].expected, "%s/%.*s.zvbc", argv[1],
                 (int)(dot ? dot - name : (int)strlen(name)), name);
        jobs[i].source = source;
        jobs[i].dir = ".";
        pthread_create(&threads[i], NULL, compileone, &jobs[i]);
    }
    for (int i = 0; i < n; ++i) pthread_join(threads[i], NULL);
    checkerrors();
    if (strcmp(zv_version(), ZV_EXPECTED_VERSION) != 0) fail("version", zv_version());
    printf("chost: %d programs on %d threads, zv %s: %s\n", n, n, zv_version(),
           failures ? "FAILED" : "ok");
    free(jobs);
    free(threads);
    return failures ? 1 : 0;
}
