// The subcommands of zv. Each one lives in a file of its own and is listed in main.cpp's
// table: it adds itself to the parent command line and hands back how to run it.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>

namespace zvtool {

struct command {
    CLI::App* app = nullptr;  // the subcommand's own parser, owned by the parent
    std::function<int()> run; // runs it once the command line is parsed; the exit status
};

// zv check: compile programs and report what the compiler finds, writing nothing.
command addcheck(CLI::App& parent);

// zv lsp: the language server on standard input and output (src/lsp).
command addlsp(CLI::App& parent);
// zv build: compile programs to byte-code files as zvc does, with dependency files.
command addbuild(CLI::App& parent);

} // namespace zvtool
