// The promises of the diagnostic renderers, checked on arbitrary bytes: the input is a
// program and the text of an included file (inc.ZVEX), compiled with every warning on;
// every location lies inside its file, the text form's caret line is as wide as the
// range (clipped at the line's end) and starts under the range's first character, and
// the JSON and SARIF documents are valid JSON whatever bytes the program holds. Used by
// the fuzz targets and by the tests that replay their corpus.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "render.h"
#include "utf8.h"
#include "zv.hpp"

namespace rendercheck {

// The separator between the program and the included file in an input.
inline constexpr std::string_view separator = "\n----\n";

// Compiles the program of `input` as p.zv, with the text after the separator (if any) as
// inc.ZVEX; the report holds what zv check would render.
inline zvtool::report compile(std::string_view input) {
    const std::size_t cut = input.find(separator);
    const std::string program(input.substr(0, cut));
    const std::string include(cut == input.npos ? "" : input.substr(cut + separator.size()));
    zv::options o;
    o.name = "p.zv";
    o.warn = true;
    o.readinclude = [&](const std::string& path) -> std::optional<std::string> {
        if (path == "inc.ZVEX") return include;
        return std::nullopt;
    };
    zv::result r = zv::compile(program, o);
    return {"p.zv", std::move(r.diagnostics), std::move(r.sources)};
}

// The lines of a source text as the compiler read it (every line ends in a line feed).
inline std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> out;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == text.npos) end = text.size();
        out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

inline const zv::sourceinfo* source(const zvtool::report& r, const std::string& name) {
    for (const auto& s : r.sources)
        if (s.name == name) return &s;
    return nullptr;
}

// Whether line:column lies in the text (a column may be one past the line's last
// character: the end of a range).
inline bool inside(const zvtool::report& r, const std::string& file, std::uint32_t line,
                   std::uint32_t column) {
    const zv::sourceinfo* s = source(r, file.empty() ? r.program : file);
    if (!s) return false;
    const auto all = lines(s->text);
    // An empty text still has its first line, empty.
    if (line == 0 || line > std::max<std::size_t>(all.size(), 1)) return false;
    const std::size_t width = all.empty() ? 0 : utf8::columns(all[line - 1]);
    return column >= 1 && column <= width + 1;
}

inline std::optional<std::string> checklocations(const zvtool::report& r) {
    for (const auto& d : r.diagnostics) {
        if (!d.located) continue;
        const auto& w = d.where;
        if (!inside(r, w.file, w.line, w.column)) return "start outside its file: " + d.message;
        if (!inside(r, w.file, w.endline, w.endcolumn)) return "end outside its file: " + d.message;
        if (w.endline < w.line || (w.endline == w.line && w.endcolumn < w.column))
            return "range ends before it starts: " + d.message;
        if (w.endoffset < w.offset) return "byte range reversed: " + d.message;
        for (const auto& step : d.includedfrom)
            if (!inside(r, step.file, step.line, step.column))
                return "include step outside its file: " + d.message;
    }
    return std::nullopt;
}

// The caret of each located diagnostic, rendered alone: the quoted line is followed by
// "      | ", one blank (or tab) per character before the range, '^' and one '~' per
// further character of the range on that line.
inline std::optional<std::string> checkcaret(const zvtool::report& r) {
    for (const auto& d : r.diagnostics) {
        if (!d.located) continue;
        zvtool::report one{r.program, {d}, r.sources};
        one.diagnostics[0].notes.clear();
        one.diagnostics[0].includedfrom.clear();
        const std::string text = zvtool::rendertext(one, false);
        const std::size_t bar = text.find("\n      | ");
        if (bar == text.npos) return "no caret line: " + d.message;
        const std::string_view caret =
            std::string_view(text).substr(bar + 9, text.find('\n', bar + 1) - bar - 9);
        const std::size_t hat = caret.find('^');
        if (hat == caret.npos) return "no caret: " + d.message;
        if (caret.find_first_not_of(" \t") != hat) return "caret pad not blank: " + d.message;
        if (hat != d.where.column - 1) return "caret not under the range: " + d.message;
        const zv::sourceinfo* s = source(r, d.where.file.empty() ? r.program : d.where.file);
        const std::uint32_t lineend =
            static_cast<std::uint32_t>(utf8::columns(lines(s->text).at(d.where.line - 1))) + 1;
        const std::uint32_t end =
            d.where.endline == d.where.line ? std::min(d.where.endcolumn, lineend) : lineend;
        const std::size_t width = end > d.where.column ? end - d.where.column : 1;
        const std::string_view tail = caret.substr(hat + 1);
        if (tail.find_first_not_of('~') != tail.npos || tail.size() + 1 != width)
            return "caret of width " + std::to_string(tail.size() + 1) + " for a range of " +
                   std::to_string(width) + ": " + d.message;
    }
    // The coloured form renders too.
    (void)zvtool::rendertext(r, true);
    return std::nullopt;
}

// The document dumps (as zv check writes it) and parses back with every diagnostic.
inline std::optional<std::string> checkdocument(const nlohmann::json& document,
                                                std::size_t expected, bool sarif) {
    std::string dumped;
    try {
        dumped = document.dump(2);
    } catch (const std::exception& e) { return std::string("dump failed: ") + e.what(); }
    const auto back = nlohmann::json::parse(dumped, nullptr, false);
    if (back.is_discarded()) return std::string("not valid JSON");
    const auto& list = sarif ? back["runs"][0]["results"] : back["diagnostics"];
    if (list.size() != expected) return std::string("a diagnostic is missing");
    return std::nullopt;
}

inline std::optional<std::string> checkjson(const zvtool::report& r) {
    return checkdocument(zvtool::renderjson({r}), r.diagnostics.size(), false);
}

inline std::optional<std::string> checksarif(const zvtool::report& r) {
    return checkdocument(zvtool::rendersarif({r}), r.diagnostics.size(), true);
}

// Every check, for the tests that replay inputs.
inline std::optional<std::string> checkall(std::string_view input) {
    const zvtool::report r = compile(input);
    for (auto check : {checklocations, checkcaret, checkjson, checksarif})
        if (auto broken = check(r)) return broken;
    return std::nullopt;
}

} // namespace rendercheck
