// The driver: takes the path of one source file, reads it, compiles the whole text and
// writes the byte code to the stem's ".zvbc" file in the working directory, printing its
// progress on standard output. The compiler reports what it found; the driver prints the
// parser's messages, the error report and the exit statuses exactly as they have always
// been. It writes through stdio alone: no stream of iostream is set up in a process that
// compiles one file, and standard output is flushed before anything goes to standard error,
// so the two interleave as they always have.
#include <cstdio>
#include <string>

#include "packer.h"
#include "stackroom.h"
#include "zv.hpp"

namespace {

void say(const char* message) {
    std::fputs(message, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int run(int argc, char** argv) {
    say("reading file...");
    if (argc != 2) error("Too many or not enough arguments.");
    const std::string path = argv[1];
    const std::string filename = sourcestem(path);
    const std::string target = readrawfile(path);
    say("file read. compiling...");
    zv::options options;
    options.name = path;
    options.sources = false;
    // The byte code goes to its file as it is made, so that it is never held whole. When
    // the file cannot be made now, the code is kept and writing it fails as it always has,
    // after the compile.
    replacement output(filename + ".zvbc");
    if (output.opened()) {
        options.codesink = [&output](const std::uint8_t* data, std::size_t size) {
            output.write(data, size);
        };
    }
    const zv::result result = zv::compile(target, options);
    for (const zv::parsermessage& message : result.parsermessages) {
        if (message.tostderr) {
            std::fflush(stdout);
            std::fwrite(message.text.data(), 1, message.text.size(), stderr);
            std::fputc('\n', stderr);
        } else {
            std::fwrite(message.text.data(), 1, message.text.size(), stdout);
        }
    }
    if (result.status == 1) error(result.message);
    if (result.status != 0) {
        std::fflush(stdout);
        return result.status;
    }
    say("compilation finished. writing to zvbc file...");
    if (output.opened()) {
        output.write(result.code.data(), result.code.size());
        output.commit();
        echofile(filename + ".zvbc");
    } else {
        writecode(filename, result.code);
    }
    std::fputc('\n', stdout);
    say("writing to desc.zvdc...");
    writedesc("desc");
    std::fputc('\n', stdout);
    say("finished writing.");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    reckonmainstack();
    try {
        return run(argc, argv);
    } catch (const fatalerror& failure) {
        std::fflush(stdout);
        return reporterror(failure.message);
    }
}
