/* A C program linked with the static library: compiles a program given on the command line
 * and prints its status and the size of its byte code. */
#include <stdio.h>
#include <string.h>
#include <zv.h>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    zv_result* result = zv_compile(argv[1], strlen(argv[1]), NULL);
    size_t size = 0;
    zv_result_code(result, &size);
    printf("%d %zu\n", zv_result_status(result), size);
    zv_result_free(result);
    return 0;
}
