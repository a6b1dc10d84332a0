// Running the built zv in a scratch directory, for the end-to-end tests of zv check.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zvtest {

namespace fs = std::filesystem;

struct runresult {
    int status = -1;
    std::string out, err;
};

struct invocation {
    invocation(std::vector<std::string> arguments = {}) : args(std::move(arguments)) {}
    std::vector<std::string> args; // after the program name
    std::string input;             // standard input
    std::vector<std::string> env;  // NAME=VALUE added to the environment
    bool tty = false;              // standard output on a terminal
};

// Runs zv with `how` in `dir`; both output streams are collected whole.
runresult runzv(const fs::path& dir, const invocation& how);

// A fresh directory under the system's temporary folder, removed on destruction unless
// `keep` was set (tests keep it when they fail, for a look).
struct scratchdir {
    scratchdir();
    ~scratchdir();
    scratchdir(const scratchdir&) = delete;
    scratchdir& operator=(const scratchdir&) = delete;
    fs::path path;
    bool keep = false;
};

std::string slurp(const fs::path& p);
void spit(const fs::path& p, const std::string& content);
// Every occurrence of `from` in `text` replaced by `to`.
std::string replaceall(std::string text, const std::string& from, const std::string& to);

} // namespace zvtest
