// The library face of the compiler: one compilation context per call, compiled by a
// compiler object built on it, its findings turned into located diagnostics with notes in
// plain words.
#include "zv.hpp"

#include <algorithm>
#include <filesystem>
#include <new>

#include "compiler.h"
#include "context.h"
#include "messages.h"
#include "origins.h"
#include "packer.h"

namespace zv {

namespace {

// The notes of a compile error's message, from the messages table.
std::vector<std::string> notesfor(const std::string& message) {
    const zvmessages::message& m = zvmessages::classify(message);
    if (m.note == nullptr) return {};
    return {m.note};
}

// The place of `where`, a span of `file`.
location locationin(const sourcefile& file, const span& where) {
    location out;
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

location locationof(const compilation& c, const span& where) {
    return locationin(*c.files[static_cast<std::size_t>(where.file)], where);
}

diagnostic located(const compilation& c, severity level, std::string code, std::string message,
                   const span& where) {
    diagnostic d;
    d.level = level;
    d.code = std::move(code);
    d.message = std::move(message);
    if (!where.known()) {
        d.where.file = c.files.empty() ? std::string() : c.files.front()->name;
        return d;
    }
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

// The statement parser's complaint `status` (0: a stray "]", which it reports and goes on)
// from the messages table, in plain words; `%` stands for the character at the place.
const zvmessages::message& parserexitfor(int status) {
    for (const zvmessages::message& m : zvmessages::table) {
        if (m.source == zvmessages::kind::parser && m.status == status) return m;
    }
    return zvmessages::byfixedcode("unclosed");
}

// The plain-word message of the parser's complaint at `where`.
std::string plainmessage(const compilation& c, const zvmessages::message& info, const span& where) {
    std::string out = info.text;
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
    const zvmessages::message& info = parserexitfor(status);
    diagnostic d = located(c, severity::error, info.code, plainmessage(c, info, where), where);
    d.notes.emplace_back(info.note != nullptr ? info.note : own);
    return d;
}

// The name of the file whose `also` statement is being compiled.
std::string includername(const compilation& c) {
    const span statement = c.innermost();
    const std::size_t file = statement.known() ? static_cast<std::size_t>(statement.file) : 0;
    return file < c.files.size() ? c.files[file]->name : std::string();
}

// The text of an exception a host's callback threw.
std::string whatfailed(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) { return e.what(); } catch (...) {
        return "an exception that is no std::exception";
    }
}

// Reads an included file through the host's reader, as the compiler reads source files.
// A failure the reader reports or throws fails at the `also` statement, with its words.
std::string readthrough(const options& opts, const compilation& c, const std::string& path,
                        std::vector<std::uint32_t>* droppedcrs) {
    const std::string cannotopen = "Could not open file with name: " + firstline(path);
    includefile file;
    try {
        if (opts.reader) {
            file = opts.reader(includerequest{path, includername(c)});
        } else {
            file.text = opts.readinclude(path);
        }
    } catch (const std::bad_alloc&) {
        throw; // out of memory is the library's failure, not the reader's
    } catch (...) {
        throw fatalerror{
            cannotopen,
            c.innermost(),
            {"the host's include reader failed: " + whatfailed(std::current_exception())}};
    }
    if (!file.text) {
        std::vector<std::string> notes;
        if (!file.error.empty()) notes.push_back("the host's include reader: " + file.error);
        throw fatalerror{cannotopen, c.innermost(), std::move(notes)};
    }
    if (file.text->size() > maxsourcesize)
        throw fatalerror{"Source too large: " + firstline(path), c.innermost()};
    normalizelineends(*file.text, droppedcrs);
    return std::move(*file.text);
}

// Hands byte code to the host's sink; an exception it throws fails the compilation.
void sinkthrough(const options& opts, const compilation& c, const std::uint8_t* data,
                 std::size_t size) {
    try {
        opts.codesink(data, size);
    } catch (const fatalerror&) {
        throw; // the compiler's own failure, as zvc's file writer reports it
    } catch (const std::bad_alloc&) { throw; } catch (...) {
        throw fatalerror{"Byte code could not be handed to the host",
                         c.innermost(),
                         {"the host's code sink failed: " + whatfailed(std::current_exception())}};
    }
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

// The first name of `enabled` that is no warning's, or nullptr.
const std::string* unknownwarning(const options& opts) {
    for (const std::string& name : opts.enabled) {
        const bool known = std::any_of(std::begin(warningtable), std::end(warningtable),
                                       [&](const warningentry& w) { return name == w.name; });
        if (!known) return &name;
    }
    return nullptr;
}

// The diagnostic of a message of the table that the library itself gives.
diagnostic fixed(const compilation& c, std::string_view code, std::string message,
                 const span& where) {
    const zvmessages::message& m = zvmessages::byfixedcode(code);
    diagnostic d = located(c, severity::error, m.code, std::move(message), where);
    if (m.note != nullptr) d.notes.emplace_back(m.note);
    return d;
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
    diagnostic d =
        located(c, severity::error, zvmessages::classify(f.message).code, f.message, f.where);
    d.notes = notesfor(f.message);
    d.notes.insert(d.notes.end(), f.notes.begin(), f.notes.end());
    const std::string_view cannotopen = "Could not open file with name: ";
    if (f.message.starts_with(cannotopen) && !opts.readinclude && !opts.reader) {
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

// The compact origins keep their record and the texts compiled.
struct originmap::store {
    originrecord record;
    std::size_t codesize = 0;
    std::vector<std::unique_ptr<sourcefile>> files; // each owning its text, or viewing `shared`
    std::shared_ptr<const std::string> shared;      // the program's text, the caller's
    const sourcefile& fileof(std::size_t node) const {
        return *files[static_cast<std::size_t>(record.at(node).where().file)];
    }
};

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

namespace {

// Compiles `source`; the compact origins view `shared` instead of copying the program's
// text when that is the text compiled.
result compileshared(std::string_view source, const options& opts,
                     std::shared_ptr<const std::string> shared) {
    compilation c;
    // The map's records are kept only for a caller that reads the map.
    c.desc.keeprecords(opts.description);
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
    if (opts.reader || opts.readinclude) {
        c.readinclude = [&opts, &c](const std::string& path, std::vector<std::uint32_t>* crs) {
            return readthrough(opts, c, path, crs);
        };
    }
    c.warn = opts.warn;
    c.warningsenabled = enabledmask(opts);
    c.traceorigins = opts.origins || opts.compactorigins;
    if (opts.codesink && !c.traceorigins) {
        c.codesink = [&opts, &c](const std::uint8_t* data, std::size_t size) {
            sinkthrough(opts, c, data, size);
        };
    }
    // The program counts as being included, so that a file it includes cannot include it.
    std::error_code failed;
    const auto canonical = std::filesystem::weakly_canonical(opts.name, failed);
    c.includestack.push_back(failed ? opts.name : canonical.string());

    if (const std::string* unknown = opts.warn ? unknownwarning(opts) : nullptr) {
        out.status = invalidargument;
        out.message = "Unknown warning name: '" + *unknown + "'";
        out.diagnostics.push_back(fixed(c, "unknown-warning", out.message, {}));
        return out;
    }

    c.keepgoing = opts.keepgoing;
    if (opts.keepgoing) c.codesink = nullptr;
    try {
        compiler{c}.compileprogram(source);
    } catch (const fatalerror& e) {
        c.failures.push_back(failure{1, e.message, e.where, e.notes});
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
        // The message of the first error, in the words its diagnostic has.
        out.status = c.failures.front().status;
        out.message = out.diagnostics[out.diagnostics.size() - c.failures.size()].message;
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
        diagnostic d = fixed(c, "description-too-large", message, {});
        d.notes.back() += "; at most " + std::to_string(maxdescription) + " bytes are handed out";
        out.diagnostics.push_back(std::move(d));
    }
    if (out.status == 0 || opts.keepgoing) {
        out.code = std::move(c.code);
        if (describe) out.description = c.desc.bytes();
        if (opts.origins || opts.compactorigins) {
            // The record and the texts move out: the compilation is done with them.
            auto kept = std::make_unique<originmap::store>();
            kept->codesize = out.code.size();
            kept->record = std::move(c.origins);
            kept->record.finish();
            for (std::unique_ptr<sourcefile>& file : c.files) {
                if (shared && file->text.data() == shared->data() &&
                    file->text.size() == shared->size()) {
                    kept->shared = shared;
                } else {
                    if (file->text.data() != file->owned.data()) file->owned.assign(file->text);
                    file->text = file->owned;
                }
                kept->files.push_back(std::move(file));
            }
            auto made = std::make_shared<const originmap>(std::move(kept));
            if (opts.origins) {
                out.nodes.reserve(made->size());
                for (std::size_t n = 0; n < made->size(); ++n) out.nodes.push_back(made->info(n));
                out.origins = made->origins();
            }
            if (opts.compactorigins) out.compactorigins = std::move(made);
        }
    }
    return out;
}

} // namespace

result compile(std::string_view source, const options& opts) {
    return compileshared(source, opts, nullptr);
}

result compile(std::shared_ptr<const std::string> source, const options& opts) {
    const std::string_view text = *source;
    return compileshared(text, opts, std::move(source));
}

// ---------------------------------------------------------------------------------------
// The compact origins.

originmap::originmap(std::unique_ptr<store> kept) : kept(std::move(kept)) {}
originmap::~originmap() = default;

std::size_t originmap::size() const {
    return kept->record.size();
}

std::int32_t originmap::parent(std::size_t node) const {
    return kept->record.at(node).parent;
}

bool originmap::statement(std::size_t node) const {
    return kept->record.at(node).statement();
}

bool originmap::located(std::size_t node) const {
    return kept->record.at(node).where().known();
}

const std::string& originmap::file(std::size_t node) const {
    return kept->fileof(node).name;
}

namespace {

// An offset of the text as read, in the file as stored.
std::uint64_t storedoffset(const sourcefile& file, std::uint32_t offset) {
    const auto crs = std::lower_bound(file.droppedcrs.begin(), file.droppedcrs.end(), offset) -
                     file.droppedcrs.begin();
    return offset + static_cast<std::uint64_t>(crs);
}

} // namespace

std::uint64_t originmap::offset(std::size_t node) const {
    return storedoffset(kept->fileof(node), kept->record.at(node).place.begin);
}

std::uint64_t originmap::endoffset(std::size_t node) const {
    return storedoffset(kept->fileof(node), kept->record.at(node).place.end);
}

location originmap::where(std::size_t node) const {
    return locationin(kept->fileof(node), kept->record.at(node).where());
}

std::string originmap::title(std::size_t node) const {
    return kept->record.title(node, [this](std::int32_t file) {
        return kept->files[static_cast<std::size_t>(file)]->text;
    });
}

std::optional<std::string_view> originmap::placetitle(std::size_t node) const {
    const originrecord::node n = kept->record.at(node);
    if (n.pieces) return std::nullopt;
    return kept->fileof(node).text.substr(n.place.begin, n.place.end - n.place.begin);
}

originmap::brief originmap::briefof(std::size_t node) const {
    const originrecord::node n = kept->record.at(node);
    brief out;
    out.parent = n.parent;
    out.statement = n.statement();
    out.placetitle = !n.pieces;
    if (n.place.known()) {
        const sourcefile& file = *kept->files[static_cast<std::size_t>(n.place.file)];
        out.located = true;
        out.file = n.place.file;
        out.offset = storedoffset(file, n.place.begin);
        out.endoffset = storedoffset(file, n.place.end);
    }
    return out;
}

std::int32_t originmap::fileindex(const std::string& name) const {
    for (std::size_t i = 0; i < kept->files.size(); ++i) {
        if (kept->files[i]->name == name) return static_cast<std::int32_t>(i);
    }
    return -1;
}

titleinfo originmap::info(std::size_t node) const {
    titleinfo out{title(node), parent(node), statement(node), located(node), {}};
    if (out.located) out.where = where(node);
    return out;
}

void originmap::stretches(
    const std::function<void(std::size_t begin, std::size_t end, std::int32_t node)>& each) const {
    kept->record.stretches(kept->codesize, each);
}

std::vector<std::int32_t> originmap::origins() const {
    return kept->record.perbyte(kept->codesize);
}

std::int32_t originmap::reader::operator()(std::size_t offset) {
    originrecord::runplace from;
    if (offset >= last) from = {{runstart, runnode}, nextrun, rewrite};
    last = offset;
    const std::int32_t node = map->kept->record.nodeat(offset, from);
    runstart = from.at.start, runnode = from.at.node;
    nextrun = from.next, rewrite = from.rewrite;
    return node;
}

std::size_t originmap::codesize() const {
    return kept->codesize;
}

} // namespace zv
