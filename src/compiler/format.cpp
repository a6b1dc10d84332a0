// One diagnostic as text, the form `zv check` prints and hosts print through
// zv::format / zv_diagnostic_format: the include chain, FILE:LINE:COLUMN: error: MESSAGE,
// the quoted source line with a caret under the range, and the notes, optionally coloured.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "context.h"
#include "utf8.h"
#include "zv.hpp"

namespace zv {

namespace {

struct palette {
    const char *locus, *error, *warning, *note, *caret, *reset;
};
const palette colours{"\033[1m", "\033[1;31m", "\033[1;35m", "\033[1;36m", "\033[1;32m", "\033[0m"};
const palette plain{"", "", "", "", "", ""};

// Blanks up to `column` (tabs kept as tabs so the caret lines up), then `^` and a `~` for
// every further character of the range on this line.
std::string caretline(std::string_view text, const location& at, const palette& p) {
    std::string pad;
    std::uint32_t column = 1;
    for (std::size_t i = 0; column < at.column && i < text.size(); i += utf8::step(text, i)) {
        pad += text[i] == '\t' ? '\t' : ' ';
        ++column;
    }
    pad.append(at.column - column, ' ');
    const auto lineend = static_cast<std::uint32_t>(utf8::columns(text)) + 1;
    const std::uint32_t end = std::min(at.endline == at.line ? at.endcolumn : lineend, lineend);
    const std::uint32_t width = end > at.column ? end - at.column : 1;
    return pad + p.caret + "^" + std::string(width - 1, '~') + p.reset;
}

std::string quoted(std::optional<std::string_view> text, const location& at, const palette& p) {
    if (!text) return "";
    char gutter[16];
    std::snprintf(gutter, sizeof gutter, "%5u | ", static_cast<unsigned>(at.line));
    return gutter + std::string(*text) + "\n      | " + caretline(*text, at, p) + "\n";
}

std::string locus(const diagnostic& d) {
    if (!d.located) return d.where.file + ":";
    return d.where.file + ":" + std::to_string(d.where.line) + ":" +
           std::to_string(d.where.column) + ":";
}

std::string includelines(const std::vector<location>& chain) {
    std::string out;
    for (std::size_t i = 0; i < chain.size(); ++i)
        out += std::string(i == 0 ? "In file included from " : "                 from ") +
               chain[i].file + ":" + std::to_string(chain[i].line) +
               (i + 1 < chain.size() ? ",\n" : ":\n");
    return out;
}

bool iswarning(const std::string& code) {
    return std::any_of(std::begin(warningtable), std::end(warningtable),
                       [&](const warningentry& w) { return code == w.name; });
}

std::string headline(const diagnostic& d, const palette& p) {
    const bool error = d.level == severity::error;
    std::string option;
    if (iswarning(d.code)) option = error ? " [-Werror=" + d.code + "]" : " [-W" + d.code + "]";
    return p.locus + locus(d) + p.reset + " " + (error ? p.error : p.warning) +
           (error ? "error:" : "warning:") + p.reset + " " + d.message + option + "\n";
}

std::string notelines(const diagnostic& d, const palette& p) {
    std::string out;
    const std::string where = d.located ? p.locus + locus(d) + p.reset + " " : "";
    for (const auto& note : d.notes) out += where + p.note + "note:" + p.reset + " " + note + "\n";
    return out;
}

} // namespace

formatter::formatter(const std::vector<sourceinfo>& sources)
    : sources(sources), linestarts(sources.size()) {}

std::string formatter::operator()(const diagnostic& d, bool color, bool includes) const {
    const palette& p = color ? colours : plain;
    std::string out = includes ? includelines(d.includedfrom) : "";
    out += headline(d, p);
    if (d.located) out += quoted(sourceline(d.where.file, d.where.line), d.where, p);
    out += notelines(d, p);
    return out;
}

// Line `line` (1-based) of the source named `file`, without its line end.
std::optional<std::string_view> formatter::sourceline(const std::string& file,
                                                      std::uint32_t line) const {
    auto source = std::find_if(sources.begin(), sources.end(),
                               [&](const sourceinfo& s) { return s.name == file; });
    if (source == sources.end() || line == 0) return std::nullopt;
    const std::string_view text = source->text;
    auto& starts = linestarts[static_cast<std::size_t>(source - sources.begin())];
    if (starts.empty()) {
        starts.push_back(0);
        for (std::size_t at = text.find('\n'); at != text.npos; at = text.find('\n', at + 1))
            starts.push_back(at + 1);
    }
    if (line > starts.size() || starts[line - 1] >= text.size()) return std::nullopt;
    const std::string_view rest = text.substr(starts[line - 1]);
    return rest.substr(0, rest.find('\n'));
}

std::string format(const diagnostic& d, const std::vector<sourceinfo>& sources, bool color,
                   bool includes) {
    return formatter(sources)(d, color, includes);
}

} // namespace zv
