/* A C host of the installed library, built with cc and pkg-config: compiles the programs
 * named on the command line on one thread each, all at once (they start together at a
 * barrier), reading included files through a reader callback, and checks every byte code
 * against the file zvc wrote (the program's stem + ".zvbc" in the reference directory).
 * Then checks that compile errors come back as located diagnostics, and what a host of
 * version 1.2 relies on: the reader on the calling thread, told who includes and able to
 * say why it failed, warnings by name, the code sink, the source texts, the formatter and
 * the version.
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
        zv_options options = {
            .name = job->source, .read_include = readinclude, .user = &from, .flags = ZV_OPTION_DESCRIPTION};
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
    zv_options options = {.name = "prog.zv", .read_include = memoryreader}; /* 1.1 form */
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
             strcmp(zv_diagnostic_code(d), "extra-words") != 0 ||
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
    zv_options huge = {.name = "huge.zv", .read_include = hugereader};
    result = zv_compile(program, strlen(program), &huge);
    if (zv_result_status(result) != ZV_STATUS_NO_MEMORY)
        fail("out of memory", zv_result_message(result));
    zv_result_free(result);
#endif
    zv_result_free(NULL);
}

/* What a reader of the newer form saw: the thread it ran on and who included. */
struct seen {
    pthread_t thread;
    int calls;
    char includers[256];
};

static int filereader(void* user, zv_include_request* request) {
    struct seen* s = user;
    s->thread = pthread_self();
    ++s->calls;
    strncat(s->includers, request->includer, sizeof s->includers - strlen(s->includers) - 2);
    strcat(s->includers, ";");
    if (strcmp(request->path, "lib.ZVEX") == 0) {
        request->data = "also inner\n";
        request->size = strlen(request->data);
        return 0;
    }
    if (strcmp(request->path, "inner.ZVEX") == 0) {
        request->data = "y = f(1,)\n";
        request->size = strlen(request->data);
        return 0;
    }
    request->error = "not in the asset bundle";
    return 1;
}

struct sink {
    unsigned char bytes[4096];
    size_t size;
    int refuse;
};

static int writecode(void* user, const unsigned char* data, size_t size) {
    struct sink* s = user;
    if (s->refuse) return 7;
    if (s->size + size > sizeof s->bytes) return 1;
    memcpy(s->bytes + s->size, data, size);
    s->size += size;
    return 0;
}

static void checkembedding(void) {
    struct seen seen = {0};
    zv_options options;
    zv_options_init(&options);
    const zv_options frommacro = ZV_OPTIONS_INIT;
    if (frommacro.flags != options.flags || frommacro.struct_size != options.struct_size ||
        frommacro.name != NULL || frommacro.read_file != NULL || frommacro.warnings != NULL ||
        frommacro.warning_count != 0 || frommacro.write_code != NULL)
        fail("ZV_OPTIONS_INIT", "differs from zv_options_init");
    options.name = "prog.zv";
    options.read_file = filereader;
    options.user = &seen;
    const char* program = "x = 1\nalso lib\n";
    zv_result* result = zv_compile(program, strlen(program), &options);
    if (zv_result_status(result) != ZV_STATUS_OK) fail("read_file", zv_result_message(result));
    if (seen.calls != 2 || !pthread_equal(seen.thread, pthread_self()))
        fail("reader thread", "an ordinary program's reader ran on another thread");
    if (strcmp(seen.includers, "prog.zv;lib.ZVEX;") != 0) fail("includers", seen.includers);
    /* The sources: the program and both included files, as the compiler read them. */
    size_t size = 0;
    if (zv_result_source_count(result) != 3 ||
        strcmp(zv_result_source_name(result, 2), "inner.ZVEX") != 0 ||
        strcmp(zv_result_source_text(result, 0, &size), program) != 0 || size != strlen(program) ||
        zv_result_source_text(result, 3, &size) != NULL || size != 0)
        fail("sources", "names or texts");
    size_t plainsize = 0;
    const unsigned char* plain = zv_result_code(result, &plainsize);

    /* The same bytes through the code sink, and none in the result. */
    struct sink sink = {{0}, 0, 0};
    options.write_code = writecode;
    options.user = &sink;
    options.read_file = NULL;
    zv_result* sunk = zv_compile("x = 1\n", 6, &options);
    zv_result* whole = zv_compile("x = 1\n", 6, NULL);
    const unsigned char* wholecode = zv_result_code(whole, &size);
    if (zv_result_status(sunk) != 0 || zv_result_code(sunk, NULL) != NULL || sink.size != size ||
        memcmp(sink.bytes, wholecode, size) != 0)
        fail("code sink", "bytes differ");
    zv_result_free(sunk);
    zv_result_free(whole);
    sink.refuse = 1;
    sunk = zv_compile("x = 1\n", 6, &options);
    if (zv_result_status(sunk) != ZV_STATUS_COMPILE_ERROR ||
        strcmp(zv_diagnostic_code(zv_result_diagnostic(sunk, 0)), "code-sink-failed") != 0)
        fail("refusing sink", zv_result_message(sunk));
    zv_result_free(sunk);
    (void)plain;
    zv_result_free(result);

    /* A reader's own words reach the located error. */
    options.write_code = NULL;
    options.read_file = filereader;
    options.user = &seen;
    program = "a = 1\nalso gone\n";
    result = zv_compile(program, strlen(program), &options);
    const zv_diagnostic* d = zv_result_diagnostic(result, 0);
    zv_location at;
    if (!zv_diagnostic_location(d, &at) || at.line != 2 || zv_diagnostic_note_count(d) != 1 ||
        strstr(zv_diagnostic_note(d, 0), "not in the asset bundle") == NULL ||
        strcmp(zv_diagnostic_code(d), "cannot-open") != 0)
        fail("reader's error", zv_diagnostic_note(d, 0));
    /* The formatter prints it as zv check does. */
    const char* text = zv_diagnostic_format(result, d, 0);
    if (!text || strncmp(text, "prog.zv:2:1: error: Could not open file with name: gone.ZVEX\n"
                               "    2 | also gone\n      | ^~~~~~~~~\n",
                         97) != 0)
        fail("formatter", text ? text : "NULL");
    zv_result_free(result);

    /* Warnings by name; an unknown name is an error, not silence. */
    const char* names[] = {"empty-element"};
    options.warnings = names;
    options.warning_count = 1;
    options.flags |= ZV_OPTION_WARNINGS;
    program = "also lib\n";
    result = zv_compile(program, strlen(program), &options);
    if (zv_result_diagnostic_count(result) != 1 ||
        strcmp(zv_diagnostic_code(zv_result_diagnostic(result, 0)), "empty-element") != 0)
        fail("warnings by name", "expected one empty-element warning");
    zv_result_free(result);
    const char* unknown[] = {"empty-element", "no-such"};
    options.warnings = unknown;
    options.warning_count = 2;
    result = zv_compile(program, strlen(program), &options);
    if (zv_result_status(result) != ZV_STATUS_INVALID_ARGUMENT ||
        strcmp(zv_diagnostic_code(zv_result_diagnostic(result, 0)), "unknown-warning") != 0)
        fail("unknown warning", zv_result_message(result));
    zv_result_free(result);
    int listed = 0;
    for (size_t i = 0; i < zv_warning_count(); ++i)
        listed += zv_warning_summary(i) != NULL && strcmp(zv_warning_name(i), "empty-element") == 0;
    if (listed != 1 || zv_warning_name(zv_warning_count()) != NULL) fail("warning list", "");

    /* The statement parser's exits have their message too. */
    result = zv_compile("x = [}\n", 7, NULL);
    if (zv_result_status(result) != ZV_STATUS_STRAY_BRACE || zv_result_message(result)[0] == 0)
        fail("parser exit", "no message");
    zv_result_free(result);

    /* The version: macros, the library, and the check. */
    char macros[64];
    snprintf(macros, sizeof macros, "%d.%d.%d", ZV_VERSION_MAJOR, ZV_VERSION_MINOR,
             ZV_VERSION_PATCH);
    if (strcmp(macros, zv_version()) != 0) fail("version macros", macros);
    if (!zv_version_check(ZV_VERSION_MAJOR, ZV_VERSION_MINOR) ||
        zv_version_check(ZV_VERSION_MAJOR, ZV_VERSION_MINOR + 1) ||
        zv_version_check(ZV_VERSION_MAJOR + 1, 0))
        fail("version check", "");
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
    checkembedding();
    if (strcmp(zv_version(), ZV_EXPECTED_VERSION) != 0) fail("version", zv_version());
    printf("chost: %d programs on %d threads, zv %s: %s\n", n, n, zv_version(),
           failures ? "FAILED" : "ok");
    free(jobs);
    free(threads);
    return failures ? 1 : 0;
}
