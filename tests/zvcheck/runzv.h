// Running the built zv in a scratch directory, for the end-to-end tests of zv check (the
// runner, directories and files come from tests/support).
#pragma once

#include <string>
#include <vector>

#include "support.h"

namespace zvtest {

struct invocation {
    invocation(std::vector<std::string> arguments = {}) : args(std::move(arguments)) {}
    std::vector<std::string> args; // after the program name
    std::string input;             // standard input
    std::vector<std::string> env;  // NAME=VALUE added to the environment
    bool tty = false;              // standard output on a terminal
};

// Runs zv with `how` in `dir`; both output streams are collected whole.
runresult runzv(const fs::path& dir, const invocation& how);

} // namespace zvtest
