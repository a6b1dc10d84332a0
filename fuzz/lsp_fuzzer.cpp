// Fuzz target: arbitrary bytes as the input stream of the language server, after a framed
// initialize so that the dispatcher and the features are reached. Besides crashes, hangs
// and leaks it traps when the server breaks its promises: everything it writes must be
// well-formed frames holding valid JSON, and it must end with status 0 or 1.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "framing.h"
#include "report.h"
#include "serve.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string init =
        R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"capabilities":{}}})";
    std::string input = "Content-Length: " + std::to_string(init.size()) + "\r\n\r\n" + init;
    input.append(reinterpret_cast<const char*>(data), size);
    std::istringstream in(input);
    std::ostringstream out, log;
    const int status = zvlsp::serve(in, out, log);
    if (status != 0 && status != 1) zvfuzz::broken("zv lsp ended with status %d", status);

    std::istringstream written(out.str());
    zvlsp::framereader reader(written);
    std::size_t messages = 0;
    for (;;) {
        const zvlsp::frame f = reader.next();
        if (f.what == zvlsp::frame::kind::end) break;
        if (f.what == zvlsp::frame::kind::bad)
            zvfuzz::broken("the server wrote a bad frame: %s", f.problem.c_str());
        if (!nlohmann::json::accept(f.body)) zvfuzz::broken("the server wrote invalid JSON");
        ++messages;
    }
    if (messages == 0) zvfuzz::broken("no reply to initialize");
    return 0;
}
