// Fuzz target of the language server, in two modes. Protocol frames: arbitrary bytes as
// the input stream, after a framed initialize, so that the reader, the dispatcher and the
// features are reached. Documents (an input that starts with byte 0x01): the rest is a
// document's text, then after "\n----\n" the bytes of lib.ZVEX, written to disk beside
// the document, which includes it when it says `also lib`; the document is opened (its
// text as a client sends it, or raw inside the JSON string) and every feature is asked
// about places in it. Besides crashes, hangs and leaks it traps
// when the server breaks its promises: everything it writes must be well-formed frames
// holding valid JSON, and it must end with status 0 or 1.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "framing.h"
#include "report.h"
#include "serve.h"
#include "uri.h"

namespace {

using nlohmann::json;

std::string framed(const json& message) {
    // A client sends UTF-8: text that is not becomes U+FFFD on the way.
    const std::string body = message.dump(-1, ' ', false, json::error_handler_t::replace);
    return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// `text` for the inside of a JSON string with its bytes as they are: only quotes,
// backslashes and control characters escaped.
std::string rawstring(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[(c >> 4) & 0xF];
            out += hex[c & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

// The folder the documents' included files are written to, one per process.
const std::filesystem::path& folder() {
    static const std::filesystem::path dir = [] {
        auto d =
            std::filesystem::temp_directory_path() / ("zvfuzz-lsp-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

std::string documentsession(std::string_view data) {
    const std::size_t cut = data.find("\n----\n");
    const std::string text(data.substr(0, cut));
    std::ofstream(folder() / "lib.ZVEX", std::ios::binary | std::ios::trunc)
        << (cut == data.npos ? std::string_view() : data.substr(cut + 6));
    const std::string uri = zvlsp::pathtouri((folder() / "doc.zv").string());
    const json open = {
        {"jsonrpc", "2.0"},
        {"method", "textDocument/didOpen"},
        {"params",
         {{"textDocument", {{"uri", uri}, {"languageId", "zv"}, {"version", 1}, {"text", ""}}}}}};
    // An even first byte: the text as a client sends it (stray bytes as U+FFFD). An odd
    // one: the text's bytes as they are inside the JSON string, as a broken client might.
    std::string input;
    if (data.empty() || static_cast<unsigned char>(data[0]) % 2 == 0) {
        json withtext = open;
        withtext["params"]["textDocument"]["text"] = text;
        input = framed(withtext);
    } else {
        std::string body = open.dump();
        const std::string empty = R"("text":"")";
        body.replace(body.find(empty), empty.size(), R"("text":")" + rawstring(text) + "\"");
        input = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }
    // Places taken from the input's bytes, so that the fuzzer steers them.
    int id = 1;
    for (std::size_t i = 0; i < 4; ++i) {
        const unsigned line = i < data.size() ? static_cast<unsigned char>(data[i]) % 8 : 0;
        const unsigned character =
            i + 4 < data.size() ? static_cast<unsigned char>(data[i + 4]) : 0;
        const json at = {{"textDocument", {{"uri", uri}}},
                         {"position", {{"line", line}, {"character", character}}}};
        for (const char* method : {"textDocument/hover", "textDocument/definition"})
            input += framed({{"jsonrpc", "2.0"}, {"id", id++}, {"method", method}, {"params", at}});
    }
    for (const char* method : {"textDocument/documentSymbol", "textDocument/semanticTokens/full",
                               "textDocument/foldingRange"})
        input += framed({{"jsonrpc", "2.0"},
                         {"id", id++},
                         {"method", method},
                         {"params", {{"textDocument", {{"uri", uri}}}}}});
    return input + framed({{"jsonrpc", "2.0"}, {"id", id}, {"method", "shutdown"}}) +
           framed({{"jsonrpc", "2.0"}, {"method", "exit"}});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string init =
        R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"capabilities":{}}})";
    std::string input = "Content-Length: " + std::to_string(init.size()) + "\r\n\r\n" + init;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!bytes.empty() && bytes[0] == '\x01')
        input += documentsession(bytes.substr(1));
    else
        input.append(bytes);
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
