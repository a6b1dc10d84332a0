// Reporting a broken invariant from a fuzz target: the message goes to the standard error
// that the process started with (libFuzzer's -close_fd_mask closes the usual one), then
// the target traps so that libFuzzer keeps the input.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <unistd.h>

namespace zvfuzz {

inline int& reportfd() {
    static int fd = dup(2);
    return fd;
}

[[noreturn]] inline void broken(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vdprintf(reportfd(), format, args);
    va_end(args);
    dprintf(reportfd(), "\n");
    __builtin_trap();
}

} // namespace zvfuzz

// Takes the copy of standard error before libFuzzer closes it.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    (void)zvfuzz::reportfd();
    return 0;
}
