// The invariants of one in-process compile, shared by the compile fuzz target and the
// replay of kept fault inputs in tests/faults. `checkcompile` compiles a text the way the
// driver does (after `resetcompiler`), lets compile errors and parser exits through as
// ordinary outcomes, and reports the first broken invariant as text: unsound byte code,
// emission state left behind, a description map whose bytes differ from its records written
// the plain way, a second compile of the same text (with origin tracing on) that differs or
// whose origins do not cover the code or differ from the plain account, or a source file
// whose CR LF line ends read differently from LF ones.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "bytecodereader.h"
#include "compiler.h"
#include "context.h"
#include "packer.h"
#include "plainmap.h"
#include "plainorigins.h"

namespace zvcheck {

struct outcome {
    bool compiled = false;
    bytelist code, desc;
    bytelist plaindesc;  // the map written the plain way, record by record, as it was made
    std::string failure; // the fatal message or the parser's exit status
    bool operator==(const outcome&) const = default;
};

// The origins of the last traced compile, kept the plain way.
inline plainorigins& lastplainorigins() {
    static plainorigins kept;
    return kept;
}

inline outcome compileonce(const std::string& text, bool tracing) {
    resetcompiler();
    compilation& c = current();
    c.traceorigins = tracing;
    outcome result;
    plainmap plain;
    plain.listen(c);
    if (tracing) {
        lastplainorigins() = plainorigins{};
        lastplainorigins().listen(c);
    }
    try {
        compileprogram(text);
        result.compiled = true;
        result.code = c.code;
        result.desc = c.desc;
    } catch (const fatalerror& e) {
        result.failure = "error: " + e.message;
    } catch (const parserexit& e) { result.failure = "parser exit " + std::to_string(e.status); }
    c.traceorigins = false;
    c.recordlistener = nullptr;
    c.originlistener = nullptr;
    result.plaindesc = std::move(plain.bytes);
    return result;
}

// The emission state that a successful compile must leave behind.
inline std::optional<std::string> checkstate() {
    const compilation& c = current();
    if (auto fault = verifybytecode(c.code))
        return "unsound byte code at offset " + std::to_string(fault->offset) + ": " + fault->what;
    if (c.inblock()) return std::to_string(c.pending.size()) + " open blocks after the compile";
    if (c.inrecord) return "a title record is still being written";
    if (c.desc.opentitles() > 1)
        return "title stack holds " + std::to_string(c.desc.opentitles()) + " entries";
    return std::nullopt;
}

// Writes `bytes` to a scratch source file of this process (in memory when the system
// offers it), reads it back as a source, and removes it again, so nothing is left behind
// even when the process ends without running destructors.
inline std::string readback(const std::string& name, const std::string& bytes) {
    static const std::string base =
        std::string(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp") + "/zvcheck." +
        std::to_string(getpid()) + ".";
    const std::string path = base + name;
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) std::abort();
    }
    struct remover {
        const std::string& path;
        ~remover() { std::remove(path.c_str()); }
    } removeafter{path};
    return readsourcefile(path);
}

// Reading `text` from a file with LF and with CR LF line ends must give the same text:
// every line ended by one LF, the last one included. Texts that hold a CR of their own, or
// that include other files, say nothing about this and pass.
inline std::optional<std::string> checklineends(const std::string& text) {
    if (text.find('\r') != std::string::npos || text.find("also") != std::string::npos)
        return std::nullopt;
    std::string crlf;
    for (char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    std::string expected = text;
    if (!expected.empty() && expected.back() != '\n') expected += '\n';
    try {
        if (readback("lf", text) != expected) return "LF source reads back changed";
        if (readback("crlf", crlf) != expected) return "CR LF source reads unlike LF source";
    } catch (const fatalerror& e) { return "reading a scratch source failed: " + e.message; }
    return std::nullopt;
}

// After a traced compile: one origin per code byte, each naming a title node, and the
// annotated listing goes through.
inline std::optional<std::string> checkorigins() {
    const compilation& c = current();
    const auto& code = c.code;
    const auto codeorigins = c.origins.perbyte(code.size());
    std::vector<titlenode> titlenodes;
    for (std::size_t n = 0; n < c.origins.size(); ++n) {
        titlenodes.emplace_back(
            c.origins.title(
                n,
                [&c](std::int32_t file) { return c.files[static_cast<std::size_t>(file)]->text; }),
            c.origins.at(n).parent);
    }
    if (codeorigins.size() != code.size())
        return std::to_string(codeorigins.size()) + " origins for " + std::to_string(code.size()) +
               " code bytes";
    for (std::int32_t origin : codeorigins)
        if (origin < 0 || static_cast<std::size_t>(origin) >= titlenodes.size())
            return "origin " + std::to_string(origin) + " names no title node";
    // The compact record says what the plain account says.
    const plainorigins& plain = lastplainorigins();
    if (codeorigins != plain.codeorigins)
        return "the origins' runs differ from a node per byte kept the plain way";
    if (titlenodes.size() != plain.nodes.size())
        return std::to_string(titlenodes.size()) + " title nodes where the plain account has " +
               std::to_string(plain.nodes.size());
    for (std::size_t i = 0; i < titlenodes.size(); ++i) {
        if (titlenodes[i].title != plain.nodes[i].title)
            return "title node " + std::to_string(i) + " reads otherwise than the plain account";
    }
    for (std::size_t i = 1; i < titlenodes.size(); ++i)
        if (titlenodes[i].parent < 0 || static_cast<std::size_t>(titlenodes[i].parent) >= i)
            return "title node " + std::to_string(i) + " has no earlier parent";
    std::ostringstream listing;
    if (auto fault = listannotated(code, titlenodes, codeorigins, listing))
        return "annotated listing stops at offset " + std::to_string(fault->offset) + ": " +
               fault->what;
    return std::nullopt;
}

inline std::optional<std::string> checkcompile(const std::string& text) {
    const outcome first = compileonce(text, false);
    if (first.compiled)
        if (auto broken = checkstate()) return broken;
    if (first.compiled && first.desc != first.plaindesc)
        return "the description map's bytes differ from its records written the plain way";
    if (!(compileonce(text, true) == first))
        return "a second compile of the same text, with origin tracing, differs";
    if (first.compiled)
        if (auto broken = checkorigins()) return broken;
    return checklineends(text);
}

} // namespace zvcheck
