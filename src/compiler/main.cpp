// The driver: takes the path of one source file, reads it, compiles the whole text and
// writes the byte code to the stem's ".zvbc" file in the working directory, printing its
// progress on standard output. Errors from anywhere in the compiler arrive here as
// exceptions and end the run with the report and its exit status.
#include <filesystem>
#include <iostream>
#include <string>

#include "compiler.h"
#include "packer.h"

namespace {

void say(const char* message) {
    std::cout << message << std::endl;
}

int run(int argc, char** argv) {
    say("reading file...");
    if (argc != 2) error("Too many or not enough arguments.");
    const std::string path = argv[1];
    const std::string filename = sourcestem(path);
    const std::string target = readsourcefile(path);
    say("file read. compiling...");
    // The program itself counts as being included, so that a file it includes cannot
    // include it back.
    std::error_code failed;
    const auto canonical = std::filesystem::weakly_canonical(path, failed);
    includestack.push_back(failed ? path : canonical.string());
    compileprogram(target);
    say("compilation finished. writing to zvbc file...");
    writecode(filename);
    std::cout << '\n';
    say("writing to desc.zvdc...");
    writedesc("desc");
    std::cout << '\n';
    say("finished writing.");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    try {
        return run(argc, argv);
    } catch (const fatalerror& failure) {
        std::cout.flush();
        return reporterror(failure.message);
    } catch (const parserexit& exit) {
        std::cout.flush();
        return exit.status;
    }
}
