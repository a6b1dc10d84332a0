// The library face of the compiler: one compilation context per call, its findings turned
// into located diagnostics with notes in plain words.
#include "zv.hpp"

#include <algorithm>
#include <filesystem>

#include "compiler.h"
#include "context.h"
#include "packer.h"

namespace zv {

namespace {

// Plain words for the messages that use the compiler's own terms, by message prefix.
struct explanation {
    const char* prefix;
    const char* note;
};
const explanation explanations[] = {
    {"handleexpr: operator without operand", "an operator needs an operand after it"},
    {"handleexpr: expression begins with operator",
     "an expression begins with a value or a name, not with an operator"},
    {"handleexpr: expression empty", "an expression is needed here and there is none"},
    {"handleexpr: unexpected text",
     "text follows the closing parenthesis of the expression; join it with an operator"},
    {"getargs:", "a list or an argument list does not end where it should: check its commas "
                 "and its closing bracket"},
    {"handleget: malformed list", "text follows the list's closing ']' that is no suffix"},
    {"handleget: malformed dictionary",
     "each dictionary entry is 'key: value', entries separated by ',', closed by '}'"},
    {"handleget: malformed string literal", "text follows the string's closing quote"},
    {"handleget: missing ']'", "an index is opened with '[' and never closed"},
    {"handleset: missing ']'", "an index is opened with '[' and never closed"},
    {"handleget: unexpected text",
     "text follows a call or index that begins no further '.', '(' or '['"},
    {"handleset: unexpected text",
     "text follows a call or index that begins no further '.', '(' or '['"},
    {"handleset: name empty", "an assignment or definition needs a name to store into"},
    {"Unexpected words after statement",
     "blanks split a statement into words; put an expression with blanks in parentheses, "
     "as in x = (a + b)"},
    {"Incomplete statement", "the statement has fewer words than its form needs"},
    {"stoi invalid", "an integer must fit in 32 bits"},
    {"Unknown operator", "operators side by side, blanks or not, are read as one operator"},
    {"def: parameter list missing",
     "a def names its parameters in parentheses after its name, as in def f(a, b) {...}"},
    {"Decimal cannot be encoded", "a decimal between -1 and 0 loses its sign in the byte code"},
    {"Nesting too deep", "blocks, brackets and inclusions may nest 2000 levels deep"},
    {"Only def allowed in class definition", "a class body holds only def and class statements"},
    {"Only def & class allowed in class definition",
     "a class body holds only def and class statements"},
};

std::vector<std::string> notesfor(const std::string& message) {
    std::vector<std::string> notes;
    for (const explanation& e : explanations) {
        if (message.starts_with(e.prefix)) notes.emplace_back(e.note);
    }
    return notes;
}

location locationof(const compilation& c, const span& where) {
    location out;
    const sourcefile& file = *c.files[static_cast<std::size_t>(where.file)];
    out.file = file.name;
    const sourceposition begin = positionof(file, where.begin);
    const sourceposition end = positionof(file, where.end);
    out.line = begin.line;
    out.column = begin.column;
    out.endline = end.line;
    out.endcolumn = end.column;
    out.offset = begin.offset;
    out.endoffset = end.offset;
    return out;
}

diagnostic located(const compilation& c, severity level, std::string code, std::string message,
                   const span& where) {
    diagnostic d;
    d.level = level;
    d.code = std::move(code);
    d.message = std::move(message);
    if (!where.known()) return d;
    d.located = true;
    d.where = locationof(c, where);
    for (std::int32_t file = where.file; file >= 0;) {
        const sourcefile& f = *c.files[static_cast<std::size_t>(file)];
        if (!f.includedat.known()) break;
        d.includedfrom.push_back(locationof(c, f.includedat));
        file = f.parent;
    }
    return d;
}

// The statement parser's complaints, by status (0: a stray "]", which it reports and goes
// on), each in plain words; `%` stands for the character at the place.
struct parserexitinfo {
    int status;
    const char* code;
    const char* plain;
    const char* note; // nullptr: the parser's own line is the note
};
const parserexitinfo parserexits[] = {
    {51, "unclosed", "this '%' is never closed", nullptr},
    {52, "stray-brace", "this '}' closes no '{'",
     "inside brackets a '}' must close a '{'; the statement parser stops here with exit "
     "status 52"},
    {54, "stray-parenthesis", "this ')' closes no '('",
     "inside brackets a ')' must close a '('; the statement parser stops here with exit "
     "status 54"},
    {0, "stray-bracket", "this ']' closes no '['",
     "the statement parser writes PARSER FAILURE here"},
};

const parserexitinfo& parserexitfor(int status) {
    for (const parserexitinfo& info : parserexits) {
        if (info.status == status) return info;
    }
    return parserexits[0];
}

// The plain-word message of the parser's complaint at `where`.
std::string plainmessage(const compilation& c, const parserexitinfo& info, const span& where) {
    std::string out = info.plain;
    const std::size_t mark = out.find('%');
    if (mark == std::string::npos) return out;
    char at = '?';
    if (where.known() && where.end > where.begin) {
        at = c.files[static_cast<std::size_t>(where.file)]->text[where.begin];
    }
    out.replace(mark, 1, 1, at);
    return out;
}

// The diagnostic of one of the statement parser's complaints; `own` is the parser's own
// line, when it writes one.
diagnostic parserdiagnostic(const compilation& c, int status, const std::string& own,
                            const span& where) {
    const parserexitinfo& info = parserexitfor(status);
    diagnostic d = located(c, severity::error, info.code, plainmessage(c, info, where), where);
    d.notes.emplace_back(info.note != nullptr ? info.note : own);
    return d;
}

// Reads included files through the host's callback, as the compiler reads source files.
std::string readthrough(const options& opts, const std::string& path,
                        std::vector<std::uint32_t>* droppedcrs) {
    std::optional<std::string> text = opts.readinclude(path);
    if (!text) error("Could not open file with name: " + firstline(path));
    if (text->size() > maxsourcesize) error("Source too large: " + firstline(path));
    normalizelineends(*text, droppedcrs);
    return std::move(*text);
}

// The most bytes of description map handed out in `result::description`.
constexpr std::size_t maxdescription = std::size_t{1} << 30;

std::uint32_t enabledmask(const options& opts) {
    std::uint32_t mask = 0;
    for (const warningentry& w : warningtable) {
        const bool on = opts.enabled.empty() || std::find(opts.enabled.begin(), opts.enabled.end(),
                                                          w.name) != opts.enabled.end();
        if (on) mask |= std::uint32_t{1} << static_cast<int>(w.kind);
    }
    return mask;
}

void collectdiagnostics(const compilation& c, result& out) {
    // Warnings and the parser's messages, in the order they were found; a stray "]" is
    // met once per split of the text that holds it, and reported once.
    std::vector<span> seen;
    for (const parserevent& e : c.events) {
        out.parsermessages.push_back(parsermessage{e.status == 0, e.text});
        if (e.status != 0) continue;
        const bool again = std::any_of(seen.begin(), seen.end(), [&](const span& s) {
            return s.file == e.where.file && s.begin == e.where.begin;
        });
        if (again) continue;
        seen.push_back(e.where);
        out.diagnostics.push_back(parserdiagnostic(c, 0, e.text, e.where));
    }
    for (const foundwarning& w : c.warnings) {
        const warningentry& entry = warningtable[static_cast<int>(w.kind)];
        out.diagnostics.push_back(located(c, severity::warning, entry.name, w.message, w.where));
    }
}

// The diagnostic of a fatal error: a compile error with its notes, or one of the statement
// parser's exits.
diagnostic failurediagnostic(const compilation& c, const failure& f, const options& opts) {
    if (f.status != 1) return parserdiagnostic(c, f.status, f.message, f.where);
    diagnostic d = located(c, severity::error, "compile-error", f.message, f.where);
    d.notes = notesfor(f.message);
    const std::string_view cannotopen = "Could not open file with name: ";
    if (f.message.starts_with(cannotopen) && !opts.readinclude) {
        // Included files are looked for in the working directory.
        std::error_code cwdfailed;
        const auto cwd = std::filesystem::current_path(cwdfailed);
        if (!cwdfailed) {
            d.notes.push_back("looked for " + (cwd / f.message.substr(cannotopen.size())).string() +
                              " (included files are read from the working directory)");
        }
    }
    return d;
}

} // namespace

const std::vector<warninginfo>& warnings() {
    static const std::vector<warninginfo> table = [] {
        std::vector<warninginfo> out;
        for (const warningentry& w : warningtable) out.push_back(warninginfo{w.name, w.summary});
        return out;
    }();
    return table;
}

const char* version() {
    return ZV_VERSION;
}

result compile(std::string_view source, const options& opts) {
    compilation c;
    const usecompilation use(c);
    result out;

    std::string normalized;
    std::vector<std::uint32_t> droppedcrs;
    const bool asread =
        source.find('\r') == std::string_view::npos && (source.empty() || source.back() == '\n');
    if (!asread) {
        normalized.assign(source);
        normalizelineends(normalized, &droppedcrs);
        source = normalized;
    }
    const std::int32_t program = c.addfile(opts.name, source);
    c.files[static_cast<std::size_t>(program)]->droppedcrs = std::move(droppedcrs);
    if (opts.readinclude) {
        c.readinclude = [&opts](const std::string& path, std::vector<std::uint32_t>* crs) {
            return readthrough(opts, path, crs);
        };
    }
    c.warn = opts.warn;
    c.warningsenabled = enabledmask(opts);
    c.traceorigins = opts.origins;
    if (opts.codesink && !opts.origins) c.codesink = opts.codesink;
    // The program counts as being included, so that a file it includes cannot include it.
    std::error_code failed;
    const auto canonical = std::filesystem::weakly_canonical(opts.name, failed);
    c.includestack.push_back(failed ? opts.name : canonical.string());

    c.keepgoing = opts.keepgoing;
    if (opts.keepgoing) c.codesink = nullptr;
    try {
        compileprogram(source);
    } catch (const fatalerror& e) {
        c.failures.push_back(failure{1, e.message, e.where});
    } catch (const parserexit& e) { c.failures.push_back(failure{e.status, {}, e.where}); }

    collectdiagnostics(c, out);
    for (failure& f : c.failures) {
        if (f.status != 1 && f.message.empty()) {
            // The parser's own line, as it wrote it.
            for (const parserevent& e : c.events) {
                if (e.status == f.status) f.message = e.text;
            }
        }
        out.diagnostics.push_back(failurediagnostic(c, f, opts));
    }
    if (!c.failures.empty()) {
        const failure& first = c.failures.front();
        out.status = first.status;
        if (first.status == 1 || opts.keepgoing) out.message = first.message;
    }

    if (opts.sources) {
        for (const auto& file : c.files) {
            out.sources.push_back(sourceinfo{file->name, std::string(file->text)});
        }
    }
    out.included = c.included;
    bool describe = opts.description;
    if ((out.status == 0 || opts.keepgoing) && opts.description && c.desc.size() > maxdescription) {
        // The map is kept as a compact record, but its bytes would not fit in memory.
        describe = false;
        const std::string message =
            "Description map too large: " + std::to_string(c.desc.size()) + " bytes";
        if (out.status == 0) {
            out.status = 1;
            out.message = message;
        }
        diagnostic d = located(c, severity::error, "description-too-large", message, {});
        d.notes.push_back("the description map repeats a construct's title once for each of its "
                          "parts, so a literal of many elements makes it grow with the square of "
                          "its length; at most " +
                          std::to_string(maxdescription) + " bytes are handed out");
        out.diagnostics.push_back(std::move(d));
    }
    if (out.status == 0 || opts.keepgoing) {
        out.code = std::move(c.code);
        if (describe) out.description = c.desc.bytes();
        if (opts.origins) {
            // The titles move out: the compilation is done with them.
            out.nodes.reserve(c.titlenodes.size());
            for (titlenode& node : c.titlenodes) {
                titleinfo info{
                    std::move(node.title), node.parent, node.statement, node.where.known(), {}};
                if (info.located) info.where = locationof(c, node.where);
                out.nodes.push_back(std::move(info));
            }
            out.origins = std::move(c.codeorigins);
        }
    }
    return out;
}

} // namespace zv
