// Collecting the definitions and occurrences of names over a document and its includes.
#include "names.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <span>
#include <unordered_map>

#include "definition.h"
#include "tokens.h"
#include "uri.h"

namespace zvlsp {

namespace {

// The closers that an unfinished line lacks (`{` wants `}`, `"` wants `"`), innermost
// first; std::nullopt when the line closes something it did not open.
std::optional<std::string> closers(std::string_view line) {
    std::string open;
    for (const char c : line) {
        if (!open.empty() && (open.back() == '"' || open.back() == '\'')) {
            if (c == open.back()) open.pop_back();
            continue;
        }
        switch (c) {
        case '(':
            open.push_back(')');
            break;
        case '[':
            open.push_back(']');
            break;
        case '{':
            open.push_back('}');
            break;
        case '"':
        case '\'':
            open.push_back(c);
            break;
        case ')':
        case ']':
        case '}':
            if (open.empty() || open.back() != c) return std::nullopt;
            open.pop_back();
            break;
        default:
            break;
        }
    }
    return std::string(open.rbegin(), open.rend());
}

// `text` with every bracket and quote that closes nothing, or is never closed, made a
// blank, so that it splits with the offsets of the original: quotes, parentheses and
// square brackets are taken to close on their own line, braces anywhere later.
std::string balanced(std::string_view text) {
    std::string out(text);
    struct opener {
        char closer;
        std::size_t at;
    };
    std::vector<opener> open;
    const auto closeline = [&] {
        while (!open.empty() && open.back().closer != '}') {
            out[open.back().at] = ' ';
            open.pop_back();
        }
    };
    for (std::size_t i = 0; i < out.size(); ++i) {
        const char c = out[i];
        const bool quoted =
            !open.empty() && (open.back().closer == '"' || open.back().closer == '\'');
        if (c == '\n') {
            closeline();
        } else if (quoted) {
            if (c == open.back().closer) open.pop_back();
        } else if (c == '(' || c == '[' || c == '{') {
            open.push_back({c == '(' ? ')' : c == '[' ? ']' : '}', i});
        } else if (c == '"' || c == '\'') {
            open.push_back({c, i});
        } else if (c == ')' || c == ']' || c == '}') {
            if (!open.empty() && open.back().closer == c) {
                open.pop_back();
            } else {
                out[i] = ' ';
            }
        }
    }
    for (const opener& o : open) out[o.at] = ' ';
    return out;
}

// The names of a `def` word's parameter list, with their offsets in the word.
std::vector<std::pair<std::size_t, std::string_view>> parametersof(std::string_view word) {
    std::vector<std::pair<std::size_t, std::string_view>> out;
    const std::size_t open = word.find('(');
    if (open == std::string_view::npos) return out;
    for (std::size_t i = open + 1; i < word.size();) {
        if (!namechar(word[i])) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < word.size() && namechar(word[i])) ++i;
        out.emplace_back(start, word.substr(start, i - start));
    }
    return out;
}

// Whether the splitter refused `text`: it holds something, and the outline nothing.
bool refused(const outline& tree, std::string_view text) {
    return tree.statements().empty() && text.find_first_not_of(" \t\r\n") != std::string_view::npos;
}

bool nametoken(tokentype t) {
    return t == tokentype::variable || t == tokentype::property || t == tokentype::function ||
           t == tokentype::type || t == tokentype::parameter;
}

bool prefixchar(char c) {
    return c == '@' || c == '&' || c == '%';
}

// The top-level statements of `list` (of a piece at `base`) that reach `within` of its
// file, or all of them.
std::span<const statement> reaching(std::span<const statement> list, std::size_t base,
                                    std::optional<std::pair<std::size_t, std::size_t>> within) {
    if (!within) return list;
    const auto first = std::partition_point(list.begin(), list.end(), [&](const statement& s) {
        return base + s.end() < within->first;
    });
    const auto last = std::partition_point(
        first, list.end(), [&](const statement& s) { return base + s.begin() <= within->second; });
    return {first, last};
}

// Definitions of one piece of a file, walking its statements with their class or function.
class definer {
  public:
    definer(std::vector<definition>& out, std::size_t file, std::size_t base,
            const std::function<bool(const definition&)>& keep)
        : out(out), keep(keep), file(file), base(base) {}

    void walk(std::span<const statement> list, bool inclass, const std::string& container,
              const std::string& owner) {
        for (const statement& s : list) one(s, inclass, container, owner);
    }

  private:
    void add(definition d) {
        if (keep(d)) out.push_back(std::move(d));
    }

    definition make(const statement& s, std::string key, std::string_view name, std::size_t nameat,
                    namekind kind, const std::string& container, const std::string& owner) const {
        definition d;
        d.key = std::move(key);
        d.name = std::string(name);
        d.kind = kind;
        d.file = file;
        d.begin = base + nameat;
        d.end = d.begin + name.size();
        d.stmtbegin = base + s.begin();
        d.stmtend = base + s.end();
        d.container = container;
        d.owner = owner;
        return d;
    }

    void one(const statement& s, bool inclass, const std::string& container,
             const std::string& owner) {
        const std::vector<std::string> keys = definedkeys(s, inclass);
        const bool def = s.keyword && s.first() == "def" && s.words.size() >= 2;
        const bool cls = s.keyword && s.first() == "class" && s.words.size() >= 2;
        std::string inner = container, innerowner = owner;
        if (!keys.empty() && def) {
            const word& w = s.words[1];
            const std::string_view name = defname(w.text());
            definition d = make(s, keys[0], name, w.offset,
                                inclass ? namekind::method : namekind::function, container, owner);
            for (const auto& [at, param] : parametersof(w.text())) {
                d.parameters.emplace_back(param);
                add(make(s, std::string(param), param, w.offset + at, namekind::parameter,
                         std::string(name), owner));
            }
            inner = std::string(name);
            add(std::move(d));
        } else if (!keys.empty() && cls) {
            const word& w = s.words[1];
            add(make(s, keys[0], w.text(), w.offset, namekind::cls, container, owner));
            inner = innerowner = std::string(w.text());
        } else if (!keys.empty()) {
            const word& w = s.words[0];
            const bool field = w.text().starts_with('@');
            const bool global = !field && w.text().size() > 1 && w.text().front() == 'G';
            const std::string_view name = w.text().substr(field ? 1 : 0);
            add(make(s, keys[0], name, w.offset + (field ? 1 : 0),
                     field    ? namekind::field
                     : global ? namekind::global
                              : namekind::variable,
                     container, owner));
        } else if (s.keyword && s.first() == "for" && s.words.size() >= 4 &&
                   targetname(s.words[3].text()) == s.words[3].text()) {
            const word& w = s.words[3];
            add(make(s, std::string(w.text()), w.text(), w.offset, namekind::variable, container,
                     owner));
        }
        walk(s.body, cls, inner, innerowner);
    }

    std::vector<definition>& out;
    const std::function<bool(const definition&)>& keep;
    std::size_t file, base;
};

} // namespace

nameindex::nameindex(const workspace& ws, const document& doc, std::optional<std::size_t> around) {
    if (around) {
        // The offset and the prefixes after it, which `at` looks past.
        std::size_t after = *around;
        while (after < doc.text->size() && prefixchar((*doc.text)[after])) ++after;
        focus.emplace(*around, after);
    }
    addfile(doc.uri, doc.path, *doc.text, nullptr, doc.tree.get());
    const std::string base = doc.basedir();
    std::set<std::string> seen{doc.path};
    for (std::size_t f = 0; f < scope.size(); ++f) {
        // The files this one includes, read as the compiler reads them: from the
        // document's directory, the editor's text when open there.
        for (const filepart& part : scope[f].parts) {
            walkstatements(part.tree->statements(), [&](const statement& s, int) {
                const auto file = alsofile(s);
                if (!file || scope.size() >= maxscopefiles) return;
                const std::string path =
                    base.empty() ? *file : (std::filesystem::path(base) / *file).string();
                if (!seen.insert(path).second) return;
                if (auto text = ws.read(path)) {
                    auto owned = std::make_unique<const std::string>(std::move(*text));
                    const std::string_view view = *owned;
                    addfile(pathtouri(path), path, view, std::move(owned), nullptr);
                }
            });
        }
    }
    if (focus) {
        collectfocus();
    } else {
        for (std::size_t f = 0; f < scope.size(); ++f) collect(f);
    }
}

namespace {

// A part split from `text` on its own, unless the splitter refuses it.
std::optional<filepart> splitpart(std::size_t base, std::size_t length, std::string text) {
    filepart part;
    part.base = base;
    part.length = length;
    part.mended = std::make_unique<const std::string>(std::move(text));
    part.text = *part.mended;
    part.owned = std::make_unique<const outline>(std::string(part.text));
    part.tree = part.owned.get();
    if (refused(*part.tree, part.text)) return std::nullopt;
    return part;
}

} // namespace

void nameindex::addfile(std::string uri, std::string path, std::string_view text,
                        std::unique_ptr<const std::string> owned, const outline* tree) {
    scopefile f;
    f.uri = std::move(uri);
    f.path = std::move(path);
    f.text = text;
    f.owned = std::move(owned);
    filepart whole;
    whole.text = f.text;
    whole.length = f.text.size();
    if (!tree) {
        whole.owned = std::make_unique<const outline>(std::string(f.text));
        tree = whole.owned.get();
    }
    whole.tree = tree;
    if (!refused(*whole.tree, whole.text)) {
        f.parts.push_back(std::move(whole));
    } else if (auto mended = splitpart(0, f.text.size(), balanced(f.text))) {
        // The splitter refused the text: split it with its unbalanced brackets made blanks,
        // else each line on its own, closed where it is open.
        f.whole = false;
        f.parts.push_back(std::move(*mended));
    } else {
        f.whole = false;
        for (std::size_t at = 0; at < f.text.size();) {
            std::size_t end = f.text.find('\n', at);
            if (end == std::string::npos) end = f.text.size();
            const std::string_view line = f.text.substr(at, end - at);
            if (const auto closing = closers(line)) {
                std::string piece(line);
                piece.append(*closing);
                if (auto part = splitpart(at, line.size(), std::move(piece))) {
                    f.parts.push_back(std::move(*part));
                }
            }
            at = end + 1;
        }
    }
    scope.push_back(std::move(f));
}

void nameindex::define(std::size_t file, const std::function<bool(const definition&)>& keep,
                       std::optional<std::pair<std::size_t, std::size_t>> within) {
    for (const filepart& part : scope[file].parts) {
        definer(defs, file, part.base, keep)
            .walk(reaching(part.tree->statements(), part.base, within), false, {}, {});
    }
}

void nameindex::collect(std::size_t file) {
    const std::size_t first = defs.size();
    define(file, [](const definition&) { return true; });
    occur(file, first);
    for (std::size_t d = first; d < defs.size(); ++d) {
        if (defs[d].kind == namekind::parameter) parameters[defs[d].key].push_back(d);
    }
}

void nameindex::collectfocus() {
    // The definitions at the focus, for the keys of the names there; then, of every file,
    // the definitions of those keys, and the methods of any class among them.
    define(
        0, [](const definition&) { return true; }, focus);
    occur(0, 0);
    defs.clear();
    std::set<std::string> keys;
    for (const occurrence& o : uses) keys.insert(o.key);
    const auto wanted = [&](const definition& d) { return keys.contains(d.key); };
    for (std::size_t f = 0; f < scope.size(); ++f) define(f, wanted);
    std::set<std::string> classes;
    for (const definition& d : defs) {
        if (d.kind == namekind::cls) classes.insert(d.name);
    }
    if (!classes.empty()) {
        defs.clear();
        for (std::size_t f = 0; f < scope.size(); ++f) {
            define(f, [&](const definition& d) {
                return wanted(d) || (d.kind == namekind::method && classes.contains(d.container));
            });
        }
    }
    for (std::size_t d = 0; d < defs.size(); ++d) {
        if (defs[d].kind == namekind::parameter) parameters[defs[d].key].push_back(d);
    }
}

void nameindex::occur(std::size_t file, std::size_t first) {
    std::unordered_map<std::size_t, std::size_t> definedat; // name offset -> definition
    for (std::size_t d = first; d < defs.size(); ++d) definedat[defs[d].begin] = d;
    const auto atfocus = [&](std::size_t begin, std::size_t end) {
        return !focus || (file == 0 && begin <= focus->second && end >= focus->first);
    };
    for (const filepart& part : scope[file].parts) {
        const std::string_view text = part.text;
        const auto list =
            reaching(part.tree->statements(), part.base, file == 0 ? focus : std::nullopt);
        if (focus && file != 0) continue;
        eachtoken(list, text, [&](const token& t) {
            if (!nametoken(t.type) || t.begin >= part.length) return;
            if (!atfocus(part.base + t.begin,
                         part.base + std::min<std::size_t>(t.end, part.length)))
                return;
            occurrence o;
            o.file = file;
            std::size_t begin = t.begin, end = std::min<std::size_t>(t.end, part.length);
            if (end - begin > 1 && text[begin] == 'G' && prefixchar(text[begin + 1])) {
                ++begin;
                o.gapart = true;
            }
            while (begin < end && prefixchar(text[begin])) ++begin;
            if (begin == end) return;
            o.key = lookupkey(text, begin);
            if (o.key.empty()) return;
            o.gapart = o.gapart && o.key.starts_with('G');
            o.begin = part.base + begin;
            o.end = part.base + end;
            // A defined name takes the key of its definition (a method's is a member's).
            if (const auto named = definedat.find(o.begin); named != definedat.end()) {
                o.key = defs[named->second].key;
                o.write = true;
            }
            uses.push_back(std::move(o));
        });
    }
}

const occurrence* nameindex::at(std::size_t file, std::size_t offset) const {
    for (const occurrence& o : uses) {
        if (o.file == file && o.begin <= offset && offset <= o.end) return &o;
    }
    // On the prefixes of a name (`@`, `&`, `%`): the name after them.
    const std::string_view text = scope[file].text;
    std::size_t after = offset;
    while (after < text.size() && prefixchar(text[after])) ++after;
    return after != offset ? at(file, after) : nullptr;
}

const definition* nameindex::parameterat(std::size_t file, std::size_t offset,
                                         const std::string& key) const {
    const definition* best = nullptr;
    const auto found = parameters.find(key);
    if (found == parameters.end()) return nullptr;
    for (const std::size_t index : found->second) {
        const definition& d = defs[index];
        if (d.file != file) continue;
        if (offset < d.stmtbegin || offset > d.stmtend) continue;
        if (!best || d.stmtend - d.stmtbegin < best->stmtend - best->stmtbegin) best = &d;
    }
    return best;
}

std::vector<const occurrence*> nameindex::related(const occurrence& o) const {
    std::vector<const occurrence*> out;
    const definition* param = parameterat(o.file, o.begin, o.key);
    for (const occurrence& u : uses) {
        if (u.key != o.key) continue;
        const definition* around = parameterat(u.file, u.begin, u.key);
        if (param ? around == param : around == nullptr) out.push_back(&u);
    }
    return out;
}

const definition* nameindex::definitionof(const std::string& key, std::size_t file,
                                          std::size_t offset) const {
    if (const definition* param = parameterat(file, offset, key)) return param;
    for (const definition& d : defs) {
        if (d.key == key && d.kind != namekind::parameter) return &d;
    }
    return nullptr;
}

const definition* nameindex::enclosing(std::size_t offset, namekind kind) const {
    const definition* best = nullptr;
    for (const definition& d : defs) {
        if (d.file != 0 || d.kind != kind || offset < d.stmtbegin || offset > d.stmtend) continue;
        if (!best || d.stmtend - d.stmtbegin <= best->stmtend - best->stmtbegin) best = &d;
    }
    return best;
}

lsprange nameindex::rangeof(std::size_t file, std::size_t begin, std::size_t end,
                            encoding enc) const {
    if (maps.size() < scope.size()) maps.resize(scope.size());
    if (!maps[file]) maps[file] = std::make_unique<linemap>(scope[file].text, enc);
    return {maps[file]->at(begin), maps[file]->at(end)};
}

std::string concat(std::initializer_list<std::string_view> pieces) {
    std::string out;
    for (const std::string_view p : pieces) out.append(p);
    return out;
}

std::string parameterlist(const definition& d) {
    std::string out = "(";
    for (std::size_t i = 0; i < d.parameters.size(); ++i) {
        if (i) out += ", ";
        out += d.parameters[i];
    }
    return out + ")";
}

} // namespace zvlsp
