// The playground's bridge between JavaScript and the compiler library built to WebAssembly:
// one call compiles a program held in memory and hands back, as one plain JavaScript object,
// everything the page shows: the byte code, its hex echo as zvc prints it, zvdis's listing
// with the byte range of every listed instruction, the origin of every byte and the title
// blocks they point at, the located diagnostics and the statement parser's messages.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bytecodereader.h"
#include "packer.h"
#include "zv.hpp"

namespace {

using emscripten::val;

// The bytes of a JavaScript string (as UTF-8) or of a Uint8Array, as they are.
std::string bytesof(const val& text) {
    if (text.isString()) return text.as<std::string>();
    const std::size_t size = text["length"].as<std::size_t>();
    std::string bytes(size, '\0');
    val(emscripten::typed_memory_view(size, reinterpret_cast<std::uint8_t*>(bytes.data())))
        .call<void>("set", text);
    return bytes;
}

// A fresh Uint8Array (or Int32Array, Uint32Array) holding a copy of `items`.
template <typename T> val copyarray(const std::vector<T>& items) {
    return val(emscripten::typed_memory_view(items.size(), items.data())).call<val>("slice");
}

void putlocation(val& into, const zv::location& where) {
    into.set("file", where.file);
    into.set("line", where.line);
    into.set("column", where.column);
    into.set("endline", where.endline);
    into.set("endcolumn", where.endcolumn);
    into.set("offset", static_cast<double>(where.offset));
    into.set("endoffset", static_cast<double>(where.endoffset));
}

val diagnosticsof(const std::vector<zv::diagnostic>& diagnostics) {
    val list = val::array();
    for (const zv::diagnostic& found : diagnostics) {
        val item = val::object();
        item.set("severity", found.level == zv::severity::error ? "error" : "warning");
        item.set("code", found.code);
        item.set("message", found.message);
        item.set("located", found.located);
        if (found.located) putlocation(item, found.where);
        list.call<void>("push", item);
    }
    return list;
}

// The title blocks as columns of typed arrays (one entry per node; node 0 is the root), which
// cost one copy each rather than an object per node: `parent`, `located`, `file` (an index
// into `names`, -1 when not located) and the range's `line`, `column`, `endline`, `endcolumn`.
val nodesof(const std::vector<zv::titleinfo>& nodes) {
    const std::size_t count = nodes.size();
    std::vector<std::int32_t> parent(count), file(count, -1);
    std::vector<std::uint8_t> located(count);
    std::vector<std::uint32_t> line(count), column(count), endline(count), endcolumn(count);
    std::vector<std::string> names;
    for (std::size_t at = 0; at < count; ++at) {
        const zv::titleinfo& node = nodes[at];
        parent[at] = node.parent;
        located[at] = node.located;
        if (!node.located) continue;
        if (names.empty() || names.back() != node.where.file) {
            auto known = std::find(names.begin(), names.end(), node.where.file);
            if (known == names.end()) known = names.insert(names.end(), node.where.file);
            file[at] = static_cast<std::int32_t>(known - names.begin());
        } else {
            file[at] = static_cast<std::int32_t>(names.size() - 1);
        }
        line[at] = node.where.line;
        column[at] = node.where.column;
        endline[at] = node.where.endline;
        endcolumn[at] = node.where.endcolumn;
    }
    val out = val::object();
    out.set("count", count);
    out.set("parent", copyarray(parent));
    out.set("located", copyarray(located));
    out.set("file", copyarray(file));
    out.set("line", copyarray(line));
    out.set("column", copyarray(column));
    out.set("endline", copyarray(endline));
    out.set("endcolumn", copyarray(endcolumn));
    val list = val::array();
    for (const std::string& name : names) list.call<void>("push", name);
    out.set("names", list);
    return out;
}

// zvdis's plain listing of `code`, and the offset and size of the instruction on each of its
// lines (a block's line is its six-byte header; its contents follow on lines of their own).
void putlisting(val& into, const std::vector<std::uint8_t>& code) {
    std::ostringstream text;
    const std::optional<bytecodefault> fault = listbytecode(code, text);
    std::vector<std::uint32_t> offsets, sizes;
    walkbytecode(code, [&](const instruction& ins) {
        offsets.push_back(static_cast<std::uint32_t>(ins.offset));
        sizes.push_back(static_cast<std::uint32_t>(ins.size));
    });
    into.set("listing", text.str());
    into.set("lineoffsets", copyarray(offsets));
    into.set("linesizes", copyarray(sizes));
    into.set("fault", fault ? val(faultline(*fault)) : val::null());
}

// compile(source, settings): `source` is a string or a Uint8Array; `settings` may hold
// `name` (the program's name), `readinclude(path)` returning the file's text (string or
// Uint8Array) or null when it cannot be read, `warn` (look for every warning) and
// `keepgoing` (record an error in a statement and go on with the next one).
val compile(const val& source, const val& settings) {
    zv::options options;
    options.origins = true;
    options.sources = false;
    if (settings["name"].isString()) options.name = settings["name"].as<std::string>();
    options.warn = settings["warn"].isTrue();
    options.keepgoing = settings["keepgoing"].isTrue();
    const val reader = settings["readinclude"];
    if (reader.typeOf().as<std::string>() == "function") {
        options.readinclude = [reader](const std::string& path) -> std::optional<std::string> {
            const val text = reader(path);
            if (text.isNull() || text.isUndefined()) return std::nullopt;
            return bytesof(text);
        };
    }
    const std::string text = bytesof(source);
    zv::result compiled;
    try {
        compiled = zv::compile(text, options);
    } catch (const fatalerror& failure) {
        compiled.status = 1;
        compiled.message = failure.message;
    }

    val out = val::object();
    out.set("status", compiled.status);
    out.set("message", compiled.message);
    // The messages' bytes as they are, for hosts that compare them with zvc's output: a
    // message quoting source text may hold bytes that are not UTF-8.
    out.set("rawmessage",
            copyarray(std::vector<std::uint8_t>(compiled.message.begin(), compiled.message.end())));
    out.set("code", copyarray(compiled.code));
    out.set("echo", hexecho(compiled.code));
    out.set("origins", copyarray(compiled.origins));
    out.set("nodes", nodesof(compiled.nodes));
    out.set("diagnostics", diagnosticsof(compiled.diagnostics));
    val messages = val::array();
    for (const zv::parsermessage& message : compiled.parsermessages) {
        val item = val::object();
        item.set("stderr", message.tostderr);
        item.set("text", message.text);
        item.set("raw",
                 copyarray(std::vector<std::uint8_t>(message.text.begin(), message.text.end())));
        messages.call<void>("push", item);
    }
    out.set("parsermessages", messages);
    val included = val::array();
    for (const std::string& path : compiled.included) included.call<void>("push", path);
    out.set("included", included);
    putlisting(out, compiled.code);
    return out;
}

std::string libraryversion() {
    return zv::version();
}

} // namespace

EMSCRIPTEN_BINDINGS(zvweb) {
    emscripten::function("compile", &compile);
    emscripten::function("version", &libraryversion);
}
