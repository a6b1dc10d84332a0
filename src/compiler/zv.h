/* The compiler as a library, for C hosts (and any language that calls C).
 *
 * One call compiles one program text into an opaque result that holds everything the
 * compilation found: its status, the byte code, the description map (when asked for), the
 * files it included and the located diagnostics. Read the result through the accessors
 * below and release it with zv_result_free().
 *
 * Guarantees: nothing is printed, the process is never ended from inside the library, and
 * no C++ exception leaves it (running out of memory gives a result with status
 * ZV_STATUS_NO_MEMORY). Every call compiles in a context of its own, so any number of
 * threads may compile at once; deep nesting is handled without exhausting the caller's stack.
 *
 * Strings handed out are NUL-terminated and live as long as the result they come from. A
 * message that quotes source text holding a NUL byte reads, in C, only up to that byte.
 * Accessors accept a NULL result and an out-of-range index: they give 0, NULL or an empty
 * location.
 *
 * Link with -lzv (pkg-config --cflags --libs zv), or with the CMake target zv::zv. */
#ifndef ZV_H
#define ZV_H

#include <stddef.h>
#include <stdint.h>

/* The version of this header. The library a program runs with may be newer: check it with
 * zv_version_check(ZV_VERSION_MAJOR, ZV_VERSION_MINOR) at start-up. Within one major
 * version the library only grows: programs built against 1.N run with 1.M for M >= N. */
#define ZV_VERSION_MAJOR 1
#define ZV_VERSION_MINOR 2
#define ZV_VERSION_PATCH 0
/* MAJOR * 10000 + MINOR * 100 + PATCH, for #if tests. */
#define ZV_VERSION_NUMBER (ZV_VERSION_MAJOR * 10000 + ZV_VERSION_MINOR * 100 + ZV_VERSION_PATCH)

#if defined(__GNUC__)
#define ZV_API __attribute__((visibility("default")))
#else
#define ZV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The status of a compilation. The positive values are those `zvc` exits with. */
enum zv_status {
    ZV_STATUS_OK = 0,                 /* compiled: the byte code is ready */
    ZV_STATUS_COMPILE_ERROR = 1,      /* a compile error; zv_result_message() says which */
    ZV_STATUS_UNCLOSED = 51,          /* unclosed brace, parenthesis, list or string */
    ZV_STATUS_STRAY_BRACE = 52,       /* a '}' inside brackets that closes no brace */
    ZV_STATUS_STRAY_PARENTHESIS = 54, /* a ')' inside brackets that closes no parenthesis */
    ZV_STATUS_INVALID_ARGUMENT = -1,  /* text NULL with a non-zero size, an unknown warning */
    ZV_STATUS_NO_MEMORY = -2,         /* the library ran out of memory */
    ZV_STATUS_INTERNAL_ERROR = -3     /* an unexpected failure inside the library */
};

enum zv_severity { ZV_SEVERITY_ERROR = 0, ZV_SEVERITY_WARNING = 1 };

/* Flags of zv_options.flags. */
#define ZV_OPTION_DESCRIPTION 0x1u /* fill the description map (zv_result_description) */
#define ZV_OPTION_WARNINGS 0x2u    /* look for the warnings (all, or those of `warnings`) */
/* Set by zv_options_init(): the fields after `flags` are present, as many as struct_size
 * covers. Options without it are read as the four fields of version 1.0 and 1.1. */
#define ZV_OPTION_KEEP_GOING 0x4u  /* record every error and compile the other statements */
#define ZV_OPTION_SIZED 0x80000000u

/* Reads the included file `path` (NAME.ZVEX, as written after `also` plus the extension)
 * for a compilation. On success it sets *data and *size to the file's bytes as stored and
 * returns 0; the library copies them before it calls the reader again or returns, so the
 * host may hand out a buffer it reuses. Any other return value means the file cannot be
 * read: the compilation fails with "Could not open file with name: PATH" on the `also`
 * statement. Runs on the thread that called zv_compile (see zv_compile for the one
 * exception). Prefer zv_file_reader, which also says who includes and why a read failed. */
typedef int (*zv_include_reader)(void* user, const char* path, const char** data, size_t* size);

/* One included file asked of a zv_file_reader. The library fills `path` and `includer`;
 * the reader fills `data` and `size` and returns 0, or sets `error` to a text saying why
 * the file cannot be read ("permission denied", "not in the asset bundle") and returns any
 * other value. The library copies data and error before it calls the reader again or
 * returns. */
typedef struct zv_include_request {
    const char* path;     /* NAME.ZVEX, as written after `also` plus the extension */
    const char* includer; /* the name of the file whose `also` statement asks for it */
    const char* data;     /* out: the file's bytes as stored */
    size_t size;          /* out */
    const char* error;    /* out, on failure: shown in a note of the located error */
} zv_include_request;
typedef int (*zv_file_reader)(void* user, zv_include_request* request);

/* Receives the byte code in order, in pieces, as statements are finished. Returning
 * non-zero fails the compilation (code "code-sink-failed"); pieces handed before are not
 * taken back. */
typedef int (*zv_code_sink)(void* user, const unsigned char* data, size_t size);

/* Options of a compilation. Initialise with zv_options_init() (or ZV_OPTIONS_INIT) and then
 * set the fields you need: later versions add fields at the end, and a program built
 * against this header keeps working with them. A zv_options set up by hand with flags
 * lacking ZV_OPTION_SIZED is read as its first four fields only. */
typedef struct zv_options {
    const char* name;               /* the program's name in diagnostics; NULL: "<input>" */
    zv_include_reader read_include; /* NULL: read NAME.ZVEX from the working directory */
    void* user;                     /* handed to read_include, read_file and write_code */
    unsigned flags;                 /* ZV_OPTION_* */
    /* Since 1.2, with ZV_OPTION_SIZED: */
    size_t struct_size;             /* sizeof(zv_options) as the host was built with */
    zv_file_reader read_file;       /* takes precedence over read_include when set */
    /* With ZV_OPTION_WARNINGS: the names of the warnings to look for (see zv_warning_name);
     * NULL or a count of 0 means all. An unknown name gives ZV_STATUS_INVALID_ARGUMENT and an
     * error with code "unknown-warning". */
    const char* const* warnings;
    size_t warning_count;
    /* When set, the byte code goes here as it is made and zv_result_code() stays empty: a
     * host that writes the code to a file never holds all of it. */
    zv_code_sink write_code;
} zv_options;

#define ZV_OPTIONS_INIT                                                                            \
    { NULL, NULL, NULL, ZV_OPTION_SIZED, sizeof(zv_options), NULL, NULL, 0, NULL }

/* A place in a source text. Lines and columns are 1-based (a column counts characters: a
 * UTF-8 sequence is one); end_line/end_column is the position just after the range.
 * Offsets are byte offsets in the file as stored; end_offset is one past the range. */
typedef struct zv_location {
    const char* file; /* the program's name, or an included file's path as opened */
    uint32_t line, column;
    uint32_t end_line, end_column;
    uint64_t offset, end_offset;
} zv_location;

typedef struct zv_result zv_result;
typedef struct zv_diagnostic zv_diagnostic;

/* Sets every field of *options to its default and marks it as this version's struct
 * (ZV_OPTION_SIZED, struct_size). */
ZV_API void zv_options_init(zv_options* options);

/* Compiles `size` bytes at `text` as a whole program. Line ends are read as from a file:
 * CR LF is one line end and a missing last line end makes no difference. `options` may be
 * NULL. Never returns NULL.
 *
 * The compilation, and with it every call of the reader and the code sink, runs on the
 * calling thread, unless the calling thread's stack has too little room left for the
 * program's nesting: the library reckons 256 KiB plus 1 KiB per level of brackets, blocks
 * and inclusions, against the room it measures below the caller's frame. Then the program
 * is compiled on a helper thread with a large stack while the caller waits, and its
 * callbacks run there. An included file too deep for the room left at its `also` statement
 * is compiled (with the files it includes) on a helper thread; the reads before stay on
 * the calling thread. On a stack the library cannot measure (a coroutine's) it always uses
 * the helper thread. A thread with the usual 8 MiB stack never leaves its thread, as the
 * nesting is limited to 2000 levels; a 2 MiB one stays for programs up to about 1700. */
ZV_API zv_result* zv_compile(const char* text, size_t size, const zv_options* options);

/* Releases a result and every string and diagnostic taken from it. NULL is ignored. */
ZV_API void zv_result_free(zv_result* result);

/* One of enum zv_status. */
ZV_API int zv_result_status(const zv_result* result);
/* The error's message with ZV_STATUS_COMPILE_ERROR and the statement parser's exits (51, 52,
 * 54), what went wrong with a negative status, otherwise "". */
ZV_API const char* zv_result_message(const zv_result* result);

/* The byte code (empty unless the status is ZV_STATUS_OK); *size receives its length. */
ZV_API const unsigned char* zv_result_code(const zv_result* result, size_t* size);
/* The description map, when ZV_OPTION_DESCRIPTION was given and the program compiled. */
ZV_API const unsigned char* zv_result_description(const zv_result* result, size_t* size);

/* Every file reached through `also`, as opened, in the order they were first read. */
ZV_API size_t zv_result_included_count(const zv_result* result);
ZV_API const char* zv_result_included(const zv_result* result, size_t index);

/* The warnings and errors, in the order found. */
ZV_API size_t zv_result_diagnostic_count(const zv_result* result);
ZV_API const zv_diagnostic* zv_result_diagnostic(const zv_result* result, size_t index);

ZV_API int zv_diagnostic_severity(const zv_diagnostic* diagnostic); /* enum zv_severity */
/* A stable name of the kind of error or warning: "operator-without-operand",
 * "unknown-operator", "cannot-open", "nesting-too-deep", ..., "unclosed", "stray-brace",
 * "stray-parenthesis", "stray-bracket", or a warning's name. docs/diagnostics.md lists every
 * code; "compile-error" stands for a message that has no code of its own. */
ZV_API const char* zv_diagnostic_code(const zv_diagnostic* diagnostic);
ZV_API const char* zv_diagnostic_message(const zv_diagnostic* diagnostic);
/* Fills *where and returns 1 when the diagnostic has a place; otherwise clears *where
 * (file "") and returns 0. */
ZV_API int zv_diagnostic_location(const zv_diagnostic* diagnostic, zv_location* where);
/* Plain-word explanations of terms the message uses. */
ZV_API size_t zv_diagnostic_note_count(const zv_diagnostic* diagnostic);
ZV_API const char* zv_diagnostic_note(const zv_diagnostic* diagnostic, size_t index);
/* The `also` statements through which the diagnostic's file was reached, innermost first.
 * zv_diagnostic_included_from returns 1 and fills *where for a valid index, else 0. */
ZV_API size_t zv_diagnostic_include_depth(const zv_diagnostic* diagnostic);
ZV_API int zv_diagnostic_included_from(const zv_diagnostic* diagnostic, size_t index,
                                       zv_location* where);

/* The program and every included file as the compiler read them (every line ends in one
 * line feed): source 0 is the program. The name is the one diagnostics use. */
ZV_API size_t zv_result_source_count(const zv_result* result);
ZV_API const char* zv_result_source_name(const zv_result* result, size_t index);
ZV_API const char* zv_result_source_text(const zv_result* result, size_t index, size_t* size);

/* Flags of zv_diagnostic_format. */
#define ZV_FORMAT_COLOR 0x1u      /* ANSI colours, as zv check prints on a terminal */
#define ZV_FORMAT_NO_INCLUDES 0x2u /* leave out the "In file included from" lines */

/* One diagnostic of `result` exactly as `zv check` prints it: the include chain, the line
 * FILE:LINE:COLUMN: error: MESSAGE, the source line with a caret under the range, and the
 * notes, every line ended by a line feed. The text lives as long as the result. NULL for a
 * NULL result or a diagnostic of another result. Safe to call from several threads. */
ZV_API const char* zv_diagnostic_format(const zv_result* result, const zv_diagnostic* diagnostic,
                                        unsigned flags);

/* The warnings, each with its stable name and a summary: names for zv_options.warnings. */
ZV_API size_t zv_warning_count(void);
ZV_API const char* zv_warning_name(size_t index);    /* NULL past the end */
ZV_API const char* zv_warning_summary(size_t index); /* NULL past the end */

/* The library's version, "MAJOR.MINOR.PATCH". */
ZV_API const char* zv_version(void);
/* 1 when the library running is compatible with a program built against version
 * major.minor (the same major version, the same or a later minor one), else 0. */
ZV_API int zv_version_check(int major, int minor);

#ifdef __cplusplus
}
#endif

#endif /* ZV_H */
