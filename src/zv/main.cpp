// zv, the developer-facing tool: parses the command line and dispatches to the subcommand
// named on it. A usage error prints a short message on standard error and exits with 2.
#include <iostream>
#include <vector>

#include "commands.h"
#include "zv.hpp"

namespace {

using zvtool::command;

// Every subcommand, in the order --help lists them.
const std::vector<command (*)(CLI::App&)> subcommands = {zvtool::addcheck, zvtool::addbuild,
                                                         zvtool::addlsp};

} // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    CLI::App app{"zv: the developer tool of the zv language", "zv"};
    app.set_version_flag("--version", std::string("zv ") + zv::version());
    // At most one subcommand; a word that names none is an unexpected argument.
    app.require_subcommand(0, 1);
    std::vector<command> commands;
    for (auto add : subcommands) commands.push_back(add(app));
    try {
        app.parse(argc, argv);
        for (auto& c : commands)
            if (c.app->parsed()) return c.run();
        throw CLI::RequiredError("A subcommand");
    } catch (const CLI::ParseError& failure) {
        // --help and --version arrive here too, with exit code 0; CLI11 prints the help of
        // the subcommand that was named.
        return app.exit(failure) == 0 ? 0 : 2;
    }
}
