// zvdis: lists and verifies byte-code files, and compiles programs in-process to list their
// byte code under the source constructs that produced it or to dump the raw buffers. A thin
// command line over the reader in bytecodereader.h and the compiler core.
//
// Exit statuses: 0 success; 2 wrong usage, an unreadable byte-code file or a fault in the
// byte code; when compiling, 1 after a compile error and the statement parser's own status.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "bytecodereader.h"
#include "packer.h"
#include "zv.hpp"

namespace {

constexpr const char* usage =
    "usage: zvdis FILE.zvbc           list the byte code in FILE.zvbc\n"
    "       zvdis --check FILE.zvbc   verify FILE.zvbc only; silent when sound\n"
    "       zvdis --source PROGRAM    compile PROGRAM, list its byte code under its source\n"
    "       zvdis --code-raw PROGRAM  compile PROGRAM, print the byte code in hexadecimal\n"
    "       zvdis --desc-raw PROGRAM  compile PROGRAM, print the description map in hexadecimal\n"
    "       zvdis --help              show this text\n"
    "       zvdis --version           print the version\n"
    "A fault in the byte code ends the listing with \"zvdis: offset N: ...\" on standard\n"
    "error and exit status 2.\n";

constexpr int statusbad = 2;

int badusage() {
    std::cerr << usage;
    return statusbad;
}

// Reports the fault, if any, after the listing printed so far.
int finish(const std::optional<bytecodefault>& fault) {
    std::cout.flush();
    if (!fault) return 0;
    std::cerr << faultline(*fault) << '\n';
    return statusbad;
}

int listfile(const std::string& path, bool checkonly) {
    auto unreadable = [&] {
        std::cerr << "zvdis: cannot read byte-code file " << path << '\n';
        return statusbad;
    };
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return unreadable();
    std::ifstream in(path, std::ios::binary);
    if (!in) return unreadable();
    const std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>{});
    if (in.bad()) return unreadable();
    if (checkonly) return finish(verifybytecode(bytes));
    return finish(listbytecode(bytes, std::cout));
}

enum class compiled { source, coderaw, descraw };

int compile(const std::string& path, compiled what) {
    zv::result result;
    try {
        const std::string text = readrawfile(path);
        zv::options options;
        options.name = path;
        options.description = what == compiled::descraw;
        options.origins = what == compiled::source;
        result = zv::compile(text, options);
    } catch (const fatalerror& e) { return reporterror(e.message); }
    for (const zv::parsermessage& message : result.parsermessages) {
        (message.tostderr ? std::cerr : std::cout) << message.text;
        if (message.tostderr) std::cerr << std::endl;
    }
    if (result.status == 1) return reporterror(result.message);
    if (result.status != 0) {
        std::cout.flush();
        return result.status;
    }
    switch (what) {
    case compiled::coderaw:
        std::cout << hexstring(result.code) << '\n';
        return 0;
    case compiled::descraw:
        std::cout << hexstring(result.description) << '\n';
        return 0;
    case compiled::source:
        break;
    }
    // Each statement's title block shows the file and line of the statement.
    std::vector<titlenode> nodes;
    for (const zv::titleinfo& info : result.nodes) {
        titlenode node{info.title, info.parent};
        if (info.statement && info.located) {
            node.label = info.where.file + ":" + std::to_string(info.where.line);
        }
        nodes.push_back(std::move(node));
    }
    return finish(listannotated(result.code, nodes, result.origins, std::cout));
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--help") {
        std::cout << usage;
        return 0;
    }
    if (args.size() == 1 && args[0] == "--version") {
        std::cout << "zvdis " << zv::version() << "\n";
        return 0;
    }
    if (args.size() == 1 && !args[0].starts_with("-")) return listfile(args[0], false);
    if (args.size() != 2) return badusage();
    const std::string& option = args[0];
    if (option == "--check") return listfile(args[1], true);
    if (option == "--source") return compile(args[1], compiled::source);
    if (option == "--code-raw") return compile(args[1], compiled::coderaw);
    if (option == "--desc-raw") return compile(args[1], compiled::descraw);
    return badusage();
}
