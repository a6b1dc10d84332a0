// The options every compiling subcommand shares: the warning switches (-W NAME, -Wno-NAME,
// -Werror, -w), the output format and the use of colour. Added to a subcommand's parser and
// resolved after parsing.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "render.h"

namespace zvtool {

struct diagnosticflags {
    std::vector<std::string> wvalues; // the values of -W, in command-line order
    bool nowarnings = false;          // -w
    std::string format = "text";
    std::string color = "auto";
};

void adddiagnosticflags(CLI::App& app, diagnosticflags& flags);

struct warningsetting {
    std::vector<std::string> enabled; // in the order of zv::warnings()
    bool werror = false;
};

// The warnings the switches leave enabled. An unknown warning name is a usage error
// (CLI::ValidationError).
warningsetting resolvewarnings(const diagnosticflags& flags);

format outputformat(const diagnosticflags& flags);

// Whether to colour output written to `fd` under --color=`when`: always, never, or auto
// (a terminal, NO_COLOR unset or empty, TERM not "dumb").
bool usecolor(const std::string& when, int fd);

} // namespace zvtool
