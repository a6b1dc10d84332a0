// zv lsp: the language server on standard input and output.
#include <iostream>

#include "commands.h"
#include "serve.h"

namespace zvtool {

command addlsp(CLI::App& parent) {
    CLI::App* app = parent.add_subcommand(
        "lsp", "Run the language server on standard input and output (Language Server Protocol)");
    app->footer("Included files (also NAME) are read as NAME.ZVEX from the directory of the "
                "document that includes them; see docs/editors.md.");
    return {app, [] {
                std::ios::sync_with_stdio(false);
                return zvlsp::serve(std::cin, std::cout, std::cerr);
            }};
}

} // namespace zvtool
