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
    ZV_STATUS_INVALID_ARGUMENT = -1,  /* text NULL with a non-zero size */
    ZV_STATUS_NO_MEMORY = -2,         /* the library ran out of memory */
    ZV_STATUS_INTERNAL_ERROR = -3     /* an unexpected failure inside the library */
};

enum zv_severity { ZV_SEVERITY_ERROR = 0, ZV_SEVERITY_WARNING = 1 };

/* Flags of zv_options.flags. */
#define ZV_OPTION_DESCRIPTION 0x1u /* fill the description map (zv_result_description) */
#define ZV_OPTION_WARNINGS 0x2u    /* look for every warning; they come as diagnostics */
#define ZV_OPTION_KEEP_GOING 0x4u  /* record every error and compile the other statements */

/* Reads the included file `path` (NAME.ZVEX, as written after `also` plus the extension)
 * for a compilation. On success it sets *data and *size to the file's bytes as stored and
 * returns 0; the library copies them before it calls the reader again or returns, so the
 * host may hand out a buffer it reuses. Any other return value means the file cannot be
 * read: the compilation fails with "Could not open file with name: PATH". The reader runs
 * on the thread that compiles, or on a helper thread while that thread waits. */
typedef int (*zv_include_reader)(void* user, const char* path, const char** data, size_t* size);

typedef struct zv_options {
    const char* name;               /* the program's name in diagnostics; NULL: "<input>" */
    zv_include_reader read_include; /* NULL: read NAME.ZVEX from the working directory */
    void* user;                     /* handed to read_include */
    unsigned flags;                 /* ZV_OPTION_* */
} zv_options;

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

/* Compiles `size` bytes at `text` as a whole program. Line ends are read as from a file:
 * CR LF is one line end and a missing last line end makes no difference. `options` may be
 * NULL. Never returns NULL. */
ZV_API zv_result* zv_compile(const char* text, size_t size, const zv_options* options);

/* Releases a result and every string and diagnostic taken from it. NULL is ignored. */
ZV_API void zv_result_free(zv_result* result);

/* One of enum zv_status. */
ZV_API int zv_result_status(const zv_result* result);
/* The compile error's message with ZV_STATUS_COMPILE_ERROR, what went wrong with a
 * negative status, otherwise "". */
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
/* A stable name: "compile-error", "unclosed", "stray-brace", "stray-parenthesis",
 * "stray-bracket", or a warning's name. */
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

/* The library's version, "MAJOR.MINOR.PATCH". */
ZV_API const char* zv_version(void);

#ifdef __cplusplus
}
#endif

#endif /* ZV_H */
