// Reading source text with a bound. Every tool reads programs and included files through
// here (zvc, zv check, zv build, the compiler's "also"), so that a file too large to
// compile is refused the same way everywhere: a regular file whose size says so before a
// byte is read, and anything else (a pipe, a terminal, a device such as /dev/zero) as soon
// as it has given one byte more than the limit, without holding more than that.
#pragma once

#include <cstdint>
#include <string>

// The bytes that `fd` (open for reading) gives until its end, named `name` in messages:
// the fatal "Source too large: NAME" when it holds more than `limit` bytes, "Could not
// open file with name: NAME" when it is a directory or a read fails.
std::string readsource(int fd, const std::string& name, std::uint64_t limit);

// The bytes of the file at `path`, read as `readsource` reads with the compiler's size
// limit; also "Could not open file with name: PATH" when it cannot be opened.
std::string readrawfile(const std::string& path);
