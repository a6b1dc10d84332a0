// The text form of diagnostics: GNU-style locus lines with the include chain, the quoted
// source line with a caret under the range, the notes, ANSI colour, and the closing tally.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "render.h"
#include "utf8.h"

namespace zvtool {

namespace {

struct palette {
    const char *locus, *error, *warning, *note, *caret, *reset;
};
const palette colours{"\033[1m", "\033[1;31m", "\033[1;35m", "\033[1;36m", "\033[1;32m", "\033[0m"};
const palette plain{"", "", "", "", "", ""};

std::uint32_t charcount(std::string_view text) {
    return static_cast<std::uint32_t>(utf8::columns(text));
}

// Line `line` (1-based) of the source named `file`, without its line end.
std::optional<std::string_view> sourceline(const report& r, const std::string& file,
                                           std::uint32_t line) {
    auto source = std::find_if(r.sources.begin(), r.sources.end(),
                               [&](const zv::sourceinfo& s) { return s.name == file; });
    if (source == r.sources.end() || line == 0) return std::nullopt;
    std::string_view text = source->text;
    for (std::uint32_t n = 1; n < line; ++n) {
        const std::size_t end = text.find('\n');
        if (end == text.npos) return std::nullopt;
        text.remove_prefix(end + 1);
    }
    if (text.empty()) return std::nullopt;
    return text.substr(0, text.find('\n'));
}

// Blanks up to `column` (tabs kept as tabs so the caret lines up), then `^` and a `~` for
// every further character of the range on this line.
std::string caretline(std::string_view text, const zv::location& at, const palette& p) {
    std::string pad;
    std::uint32_t column = 1;
    for (std::size_t i = 0; column < at.column && i < text.size(); i += utf8::step(text, i)) {
        pad += text[i] == '\t' ? '\t' : ' ';
        ++column;
    }
    pad.append(at.column - column, ' ');
    const std::uint32_t lineend = charcount(text) + 1;
    const std::uint32_t end = std::min(at.endline == at.line ? at.endcolumn : lineend, lineend);
    const std::uint32_t width = end > at.column ? end - at.column : 1;
    return pad + p.caret + "^" + std::string(width - 1, '~') + p.reset;
}

std::string quoted(const report& r, const zv::location& at, const palette& p) {
    auto text = sourceline(r, at.file, at.line);
    if (!text) return "";
    char gutter[16];
    std::snprintf(gutter, sizeof gutter, "%5u | ", static_cast<unsigned>(at.line));
    return gutter + std::string(*text) + "\n      | " + caretline(*text, at, p) + "\n";
}

std::string locus(const zv::diagnostic& d, const std::string& program) {
    const std::string file = d.where.file.empty() ? program : d.where.file;
    if (!d.located) return file + ":";
    return file + ":" + std::to_string(d.where.line) + ":" + std::to_string(d.where.column) + ":";
}

std::string includelines(const std::vector<zv::location>& chain) {
    std::string out;
    for (std::size_t i = 0; i < chain.size(); ++i)
        out += std::string(i == 0 ? "In file included from " : "                 from ") +
               chain[i].file + ":" + std::to_string(chain[i].line) +
               (i + 1 < chain.size() ? ",\n" : ":\n");
    return out;
}

std::string headline(const zv::diagnostic& d, const std::string& program, const palette& p) {
    const bool error = d.level == zv::severity::error;
    std::string option;
    if (iswarningname(d.code)) option = error ? " [-Werror=" + d.code + "]" : " [-W" + d.code + "]";
    return p.locus + locus(d, program) + p.reset + " " + (error ? p.error : p.warning) +
           (error ? "error:" : "warning:") + p.reset + " " + d.message + option + "\n";
}

std::string notelines(const zv::diagnostic& d, const std::string& program, const palette& p) {
    std::string out;
    const std::string where = d.located ? p.locus + locus(d, program) + p.reset + " " : "";
    for (const auto& note : d.notes) out += where + p.note + "note:" + p.reset + " " + note + "\n";
    return out;
}

} // namespace

bool iswarningname(std::string_view code) {
    const auto& all = zv::warnings();
    return std::any_of(all.begin(), all.end(), [&](const auto& w) { return code == w.name; });
}

void promotewarnings(report& r) {
    for (auto& d : r.diagnostics) d.level = zv::severity::error;
}

tally count(const std::vector<report>& reports) {
    tally t;
    for (const auto& r : reports)
        for (const auto& d : r.diagnostics)
            ++(d.level == zv::severity::error ? t.errors : t.warnings);
    return t;
}

std::string rendertext(const report& r, bool color) {
    const palette& p = color ? colours : plain;
    std::string out;
    const std::vector<zv::location>* lastchain = nullptr;
    for (const auto& d : r.diagnostics) {
        const bool samechain = lastchain && lastchain->size() == d.includedfrom.size() &&
                               std::equal(d.includedfrom.begin(), d.includedfrom.end(),
                                          lastchain->begin(), [](const auto& a, const auto& b) {
                                              return a.file == b.file && a.line == b.line;
                                          });
        if (!samechain) out += includelines(d.includedfrom);
        lastchain = &d.includedfrom;
        out += headline(d, r.program, p);
        if (d.located) out += quoted(r, d.where, p);
        out += notelines(d, r.program, p);
    }
    return out;
}

std::string summary(tally t) {
    auto counted = [](std::size_t n, const char* what) {
        return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
    };
    std::string parts;
    if (t.warnings) parts = counted(t.warnings, "warning");
    if (t.warnings && t.errors) parts += " and ";
    if (t.errors) parts += counted(t.errors, "error");
    return parts.empty() ? "" : parts + " generated.\n";
}

} // namespace zvtool
