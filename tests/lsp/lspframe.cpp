// Transcript helper. `lspframe send FILE` writes every line of FILE that is neither empty
// nor a `//` comment as one framed message on standard output; `lspframe split` reads
// framed messages on standard input and prints each body on a line of its own, and a line
// "<bad: PROBLEM>" for a frame it cannot read.
#include <fstream>
#include <iostream>
#include <string>

#include "framing.h"

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "send" && argc == 3) {
        std::ifstream in(argv[2]);
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line.starts_with("//")) continue;
            zvlsp::writeframe(std::cout, line);
        }
        return in.bad() ? 1 : 0;
    }
    if (mode == "split" && argc == 2) {
        zvlsp::framereader reader(std::cin);
        for (;;) {
            const zvlsp::frame f = reader.next();
            if (f.what == zvlsp::frame::kind::end) return 0;
            std::cout << (f.what == zvlsp::frame::kind::bad ? "<bad: " + f.problem + ">" : f.body)
                      << "\n";
        }
    }
    std::cerr << "usage: lspframe send FILE | lspframe split\n";
    return 2;
}
