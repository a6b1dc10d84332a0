// Quick fixes: candidate edits for each diagnostic, kept only when compiling the fixed text
// shows the diagnostic gone, nothing new, and the other statements' byte code unchanged.
#include "codeactions.h"
#include "diagnostics.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "names.h"
#include "rename.h"

namespace zvlsp {

using nlohmann::json;

namespace {

// Candidates beyond this many per request are not tried (each costs a compilation).
constexpr std::size_t maxcandidates = 32;

struct byteedit {
    std::size_t begin = 0, end = 0;
    std::string text;
};

struct candidate {
    std::string title;
    std::map<std::size_t, std::vector<byteedit>> edits; // by file of the name index
    bool preferred = false;
    bool alternative = false; // one of several forms: only the first that passes is offered
};

candidate single(std::string title, std::size_t begin, std::size_t end, std::string text,
                 bool preferred = false) {
    candidate c;
    c.title = std::move(title);
    c.edits[0].push_back({begin, end, std::move(text)});
    c.preferred = preferred;
    return c;
}

std::string applied(std::string_view text, std::vector<byteedit> edits) {
    std::sort(edits.begin(), edits.end(),
              [](const byteedit& a, const byteedit& b) { return a.begin > b.begin; });
    std::string out(text);
    for (const byteedit& e : edits) out.replace(e.begin, e.end - e.begin, e.text);
    return out;
}

// ---------------------------------------------------------------------------------------
// Checking a candidate by compiling.

// The byte code of each top-level statement of the document, by its place, and whether
// it holds code of an included file.
struct chunk {
    std::vector<std::uint8_t> bytes;
    std::set<std::string> files; // included files whose code it holds
};

std::map<std::pair<std::uint64_t, std::uint64_t>, chunk> chunks(const zv::result& r,
                                                                const std::string& path) {
    std::map<std::pair<std::uint64_t, std::uint64_t>, chunk> out;
    std::vector<std::int32_t> top(r.nodes.size(), -2); // memo: the node's top statement
    const auto topof = [&](std::int32_t node) {
        std::int32_t found = -1;
        std::vector<std::int32_t> path_;
        for (std::int32_t n = node; n >= 0 && static_cast<std::size_t>(n) < r.nodes.size();
             n = r.nodes[static_cast<std::size_t>(n)].parent) {
            if (path_.size() > r.nodes.size()) break; // a malformed parent chain
            if (top[static_cast<std::size_t>(n)] != -2) {
                if (found < 0) found = top[static_cast<std::size_t>(n)];
                break;
            }
            path_.push_back(n);
            const zv::titleinfo& t = r.nodes[static_cast<std::size_t>(n)];
            if (t.statement && t.located && t.where.file == path) found = n;
        }
        for (const std::int32_t n : path_) top[static_cast<std::size_t>(n)] = found;
        return found;
    };
    for (std::size_t i = 0; i < r.code.size() && i < r.origins.size(); ++i) {
        const std::int32_t node = r.origins[i];
        const std::int32_t t = topof(node);
        if (t < 0) continue;
        const zv::location& w = r.nodes[static_cast<std::size_t>(t)].where;
        chunk& c = out[{w.offset, w.endoffset}];
        c.bytes.push_back(r.code[i]);
        if (node >= 0 && static_cast<std::size_t>(node) < r.nodes.size()) {
            const zv::titleinfo& n = r.nodes[static_cast<std::size_t>(node)];
            if (n.located && n.where.file != path) c.files.insert(n.where.file);
        }
    }
    return out;
}

std::string diagnostickey(const zv::diagnostic& d) {
    return concat({d.code, "\x1f", d.message, "\x1f", d.located ? d.where.file : std::string()});
}

class checker {
  public:
    checker(const workspace& ws, const document& doc, const nameindex& names)
        : ws(ws), doc(doc), names(names) {
        before = compile({});
    }

    const zv::result& original() const { return before; }

    bool passes(const candidate& c, const zv::diagnostic& target) const {
        const zv::result after = compile(c.edits);
        // The diagnostic is gone and no other one appeared.
        std::multiset<std::string> allowed;
        for (const zv::diagnostic& d : before.diagnostics) allowed.insert(diagnostickey(d));
        const auto fixed = allowed.find(diagnostickey(counterpart(target)));
        if (fixed == allowed.end()) return false;
        allowed.erase(fixed);
        for (const zv::diagnostic& d : after.diagnostics) {
            const auto found = allowed.find(diagnostickey(d));
            if (found == allowed.end()) return false;
            allowed.erase(found);
        }
        // Every statement the edits leave alone compiles to the same bytes.
        std::set<std::string> editedfiles;
        for (const auto& [file, edits] : c.edits) {
            if (file != 0) editedfiles.insert(names.files()[file].path);
        }
        const auto found = c.edits.find(0);
        const std::vector<byteedit> none;
        const std::vector<byteedit>& local = found == c.edits.end() ? none : found->second;
        const auto now = chunks(after, doc.path);
        for (const auto& [place, old] : chunks(before, doc.path)) {
            bool touched = false;
            std::int64_t shift = 0;
            for (const byteedit& e : local) {
                if (e.begin <= place.second && e.end >= place.first) touched = true;
                if (e.end <= place.first) {
                    shift += static_cast<std::int64_t>(e.text.size()) -
                             static_cast<std::int64_t>(e.end - e.begin);
                }
            }
            for (const std::string& f : old.files) {
                for (const std::string& edited : editedfiles) {
                    if (std::filesystem::path(edited).filename() ==
                        std::filesystem::path(f).filename()) {
                        touched = true;
                    }
                }
            }
            if (touched) continue;
            const auto moved = now.find(
                {static_cast<std::uint64_t>(static_cast<std::int64_t>(place.first) + shift),
                 static_cast<std::uint64_t>(static_cast<std::int64_t>(place.second) + shift)});
            if (moved == now.end() || moved->second.bytes != old.bytes) return false;
        }
        return true;
    }

  private:
    // The diagnostic of this checker's own compilation of the unchanged text that stands
    // for `target` (the document may have been compiled with other options): the same
    // code at the same place, else `target` itself.
    const zv::diagnostic& counterpart(const zv::diagnostic& target) const {
        for (const zv::diagnostic& d : before.diagnostics) {
            if (d.code == target.code && d.located == target.located &&
                d.where.file == target.where.file && d.where.offset == target.where.offset) {
                return d;
            }
        }
        return target;
    }

    zv::result compile(const std::map<std::size_t, std::vector<byteedit>>& edits) const {
        std::map<std::string, std::string> changed; // included files' fixed texts, by path
        std::string text = *doc.text;
        for (const auto& [file, list] : edits) {
            const scopefile& f = names.files()[file];
            if (file == 0) {
                text = applied(*doc.text, list);
            } else {
                changed[f.path] = applied(f.text, list);
            }
        }
        zv::options options;
        options.name = doc.path;
        options.warn = true;
        options.origins = true;
        // Every error, so that a fix of one is judged beside the others.
        options.keepgoing = true;
        const std::string base = doc.basedir();
        options.readinclude = [&](const std::string& name) -> std::optional<std::string> {
            const std::string path =
                base.empty() ? name : (std::filesystem::path(base) / name).string();
            const auto found = changed.find(path);
            if (found != changed.end()) return found->second;
            return ws.read(path);
        };
        return zv::compile(text, options);
    }

    const workspace& ws;
    const document& doc;
    const nameindex& names;
    zv::result before;
};

// ---------------------------------------------------------------------------------------
// Candidates by diagnostic.

bool plainname(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_';
    });
}

// The innermost statement of the document holding `offset`, with the base of its piece.
const statement* statementat(const nameindex& names, std::size_t offset, std::size_t& base) {
    for (const filepart& part : names.files()[0].parts) {
        if (offset < part.base || offset > part.base + part.length) continue;
        const statement* found = nullptr;
        walkstatements(part.tree->statements(), [&](const statement& s, int) {
            if (offset >= part.base + s.begin() && offset <= part.base + s.end()) found = &s;
        });
        if (found) {
            base = part.base;
            return found;
        }
    }
    return nullptr;
}

// `if a + 1 {...}`, `x = a + b`, `return a + b`: the words that belong in one expression
// put in parentheses.
void extrawords(const nameindex& names, std::size_t at, std::vector<candidate>& out) {
    std::size_t base = 0;
    const statement* s = statementat(names, at, base);
    if (!s || s->words.size() < 3) return;
    std::size_t first = 0, last = 0; // words first..last go into parentheses
    const std::string_view kw = s->first();
    if (!s->keyword && s->words[1].text() == "=" && s->words.size() > 3) {
        first = 2, last = s->words.size() - 1;
    } else if (s->keyword && (kw == "if" || kw == "while") && s->words.size() > 3) {
        first = 1, last = s->words.size() - 2;
    } else if (s->keyword && kw == "return") {
        first = 1, last = s->words.size() - 1;
    } else {
        return;
    }
    const std::size_t begin = base + s->words[first].offset;
    const std::size_t end = base + s->words[last].end();
    const std::string_view text = names.files()[0].text;
    const std::string inner(text.substr(begin, end - begin));
    // Strings written side by side with blanks between: one string.
    std::string joined;
    for (std::size_t i = first; i <= last; ++i) {
        const std::string_view w = s->words[i].text();
        if (w.size() < 2 || w.front() != '"' || w.back() != '"' || w.find('"', 1) != w.size() - 1 ||
            w.find('\\') != std::string_view::npos) {
            joined.clear();
            break;
        }
        joined.append(w.substr(1, w.size() - 2));
        if (i == last) joined = concat({"\"", joined, "\""});
    }
    if (!joined.empty()) {
        out.push_back(single(concat({"Join the strings: ", joined}), begin, end, joined, true));
    }
    out.push_back(single(concat({"Put '", inner, "' in parentheses"}), begin, end,
                         concat({"(", inner, ")"}), true));
}

void decimal(std::string_view text, std::size_t begin, std::size_t end,
             std::vector<candidate>& out) {
    const std::string_view value = text.substr(begin, end - begin);
    const std::size_t point = value.find('.');
    if (point == std::string_view::npos || point + 2 > value.size()) return;
    const std::string kept(value.substr(0, point + 2));
    out.push_back(single(concat({"Keep one digit: ", kept}), begin, end, kept, true));
    out.push_back(single(concat({"Quote it as a string: \"", value, "\""}), begin, end,
                         concat({"\"", value, "\""})));
}

// `"a""b"` joined to `"ab"`: strings that touch, with nothing between them.
void adjacent(std::string_view text, std::size_t begin, std::size_t end,
              std::vector<candidate>& out) {
    const std::string_view head = text.substr(begin, end - begin);
    std::string joined = "\"";
    for (std::size_t i = 0; i < head.size();) {
        if (head[i] != '"') return;
        std::size_t j = i + 1;
        while (j < head.size() && head[j] != '"') j += head[j] == '\\' ? 2 : 1;
        if (j >= head.size()) return;
        joined.append(head.substr(i + 1, j - i - 1));
        i = j + 1;
    }
    joined += "\"";
    out.push_back(single(concat({"Join the strings: ", joined}), begin, end, joined, true));
}

// `def Gtotal`: every occurrence renamed to `gtotal`, which is no global.
void globaldefinition(const nameindex& names, std::size_t begin, std::vector<candidate>& out) {
    const occurrence* o = names.at(0, begin);
    if (!o || o->key.size() < 2 || o->key.front() != 'G') return;
    const std::string renamed = concat({"g", std::string_view(o->key).substr(1)});
    if (!renameproblem(o->key.substr(1), renamed).empty()) return;
    candidate c;
    c.title = concat({"Rename '", o->key, "' to '", renamed, "'"});
    for (const occurrence* u : names.related(*o)) {
        c.edits[u->file].push_back({u->begin, u->end, u->gapart ? renamed.substr(1) : renamed});
    }
    out.push_back(std::move(c));
}

// `not(x)` as the operator: `not x`, `not (x)`, or either in parentheses when the word
// holds nothing else.
void notcall(std::string_view text, std::size_t begin, std::vector<candidate>& out) {
    const std::size_t open = begin + 3;
    if (open >= text.size() || text[open] != '(') return;
    int depth = 0;
    std::size_t close = open;
    for (; close < text.size(); ++close) {
        if (text[close] == '(') ++depth;
        if (text[close] == ')' && --depth == 0) break;
    }
    if (close >= text.size()) return;
    const std::string inner(text.substr(open + 1, close - open - 1));
    std::vector<std::string> forms;
    if (plainname(inner)) forms.push_back(concat({"not ", inner}));
    forms.push_back(concat({"not (", inner, ")"}));
    for (const std::string& f : forms) {
        for (const std::string& form : {f, concat({"(", f, ")"})}) {
            out.push_back(
                single(concat({"Use the operator: ", form}), begin, close + 1, form, true));
            out.back().alternative = true;
        }
    }
}

void namepunctuation(std::string_view text, std::size_t begin, std::size_t end,
                     std::vector<candidate>& out) {
    const std::string_view name = text.substr(begin, end - begin);
    const std::size_t eq = name.find('=');
    const bool single_ = eq != std::string_view::npos && name.find('=', eq + 1) == name.npos &&
                         eq > 0 && std::string_view("=!<>").find(name[eq - 1]) == name.npos;
    if (single_) {
        const std::string fixed = concat({name.substr(0, eq), "=", name.substr(eq)});
        out.push_back(single(concat({"Compare with '==': ", fixed}), begin, end, fixed, true));
    }
    if (name.find(' ') != std::string_view::npos) {
        std::string fixed;
        for (const char c : name) {
            if (c == ' ' && !fixed.empty() && fixed.back() != ' ') {
                fixed += ", ";
            } else if (c != ' ') {
                fixed += c;
            }
        }
        out.push_back(single(concat({"Separate with commas: ", fixed}), begin, end, fixed));
    }
}

// `2x` read as `2*x`.
void namedigit(std::string_view text, std::size_t begin, std::size_t end,
               std::vector<candidate>& out) {
    const std::string_view name = text.substr(begin, end - begin);
    const std::size_t letters = name.find_first_not_of("0123456789");
    if (letters == std::string_view::npos || !plainname(name.substr(letters))) return;
    const std::string fixed = concat({name.substr(0, letters), "*", name.substr(letters)});
    out.push_back(single(concat({"Multiply: ", fixed}), begin, end, fixed));
}

// `a+-b`: the operators side by side made one.
void unknownoperator(std::string_view text, std::size_t begin, std::size_t end,
                     std::vector<candidate>& out) {
    const std::string_view op = text.substr(begin, end - begin);
    static const std::map<std::string_view, std::string_view> merged = {{"+-", "-"}, {"--", "+"}};
    const auto found = merged.find(op);
    if (found == merged.end()) return;
    out.push_back(single(concat({"Write '", found->second, "'"}), begin, end,
                         std::string(found->second), true));
}

// An opener left open: closed at the end of its line.
void unclosed(std::string_view text, std::size_t begin, std::vector<candidate>& out) {
    if (begin >= text.size()) return;
    static const std::map<char, char> closing = {
        {'(', ')'}, {'[', ']'}, {'{', '}'}, {'"', '"'}, {'\'', '\''}};
    const auto found = closing.find(text[begin]);
    if (found == closing.end()) return;
    std::size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    if (end > begin && text[end - 1] == '\r') --end;
    out.push_back(single(
        concat({"Close the '", std::string_view(&found->first, 1), "' at the end of the line"}),
        end, end, std::string(1, found->second)));
}

void stray(std::string_view text, std::size_t begin, std::vector<candidate>& out) {
    if (begin >= text.size()) return;
    out.push_back(
        single(concat({"Remove the stray '", text.substr(begin, 1), "'"}), begin, begin + 1, ""));
}

std::vector<candidate> candidatesfor(const nameindex& names, const zv::diagnostic& d) {
    std::vector<candidate> out;
    const std::string_view text = names.files()[0].text;
    const std::size_t begin = std::min<std::size_t>(d.where.offset, text.size());
    const std::size_t end = std::clamp<std::size_t>(d.where.endoffset, begin, text.size());
    if (d.code == "empty-element") {
        if (begin < text.size() && text[begin] == ',') {
            out.push_back(single("Remove the extra ','", begin, begin + 1, "", true));
        }
    } else if (d.code == "decimal-digits") {
        decimal(text, begin, end, out);
    } else if (d.code == "adjacent-strings") {
        adjacent(text, begin, end, out);
    } else if (d.code == "global-definition") {
        globaldefinition(names, begin, out);
    } else if (d.code == "not-call") {
        notcall(text, begin, out);
    } else if (d.code == "name-punctuation") {
        namepunctuation(text, begin, end, out);
    } else if (d.code == "name-digit") {
        namedigit(text, begin, end, out);
    } else if (d.code == "unclosed") {
        unclosed(text, begin, out);
    } else if (d.code.starts_with("stray-")) {
        stray(text, begin, out);
    } else if (d.code == "extra-words") {
        extrawords(names, begin, out);
    } else if (d.code == "unknown-operator") {
        unknownoperator(text, begin, end, out);
    }
    return out;
}

// The client's Diagnostic for `d`, or one made like the published ones.
json diagnosticjson(const zv::diagnostic& d, const json& sent, const lsprange& range) {
    for (const json& s : sent) {
        if (s.is_object() && s.value("code", json()) == d.code &&
            s.value("message", std::string()) == messagetext(d)) {
            return s;
        }
    }
    return {{"range", tojson(range)},
            {"severity", d.level == zv::severity::error ? 1 : 2},
            {"code", d.code},
            {"source", "zv"},
            {"message", messagetext(d)}};
}

} // namespace

std::vector<codeaction> codeactionsfor(const workspace& ws, const document& doc, std::size_t from,
                                       std::size_t to, const json& sent, encoding enc) {
    std::vector<codeaction> out;
    const nameindex names(ws, doc);
    std::vector<const zv::diagnostic*> wanted;
    // When the client names the diagnostics it wants fixed, only those (a range often
    // touches a neighbouring error too, now that every error is reported).
    const auto named = [&](const zv::diagnostic& d) {
        if (!sent.is_array() || sent.empty()) return true;
        return std::any_of(sent.begin(), sent.end(), [&](const json& s) {
            return s.is_object() && s.value("code", json()) == d.code &&
                   s.value("message", std::string()) == messagetext(d);
        });
    };
    for (const zv::diagnostic& d : doc.compiled.diagnostics) {
        if (d.located && d.where.file == doc.path && d.where.offset <= to &&
            d.where.endoffset >= from && named(d)) {
            wanted.push_back(&d);
        }
    }
    if (wanted.empty()) return out;
    const checker check(ws, doc, names);
    std::size_t tried = 0;
    for (const zv::diagnostic* d : wanted) {
        bool alternativedone = false;
        for (const candidate& c : candidatesfor(names, *d)) {
            if (c.alternative && alternativedone) continue;
            if (tried++ >= maxcandidates) return out;
            if (!check.passes(c, *d)) continue;
            alternativedone = alternativedone || c.alternative;
            codeaction action;
            action.title = c.title;
            action.preferred = c.preferred;
            action.diagnostic = diagnosticjson(
                *d, sent, names.rangeof(0, d->where.offset, d->where.endoffset, enc));
            for (const auto& [file, edits] : c.edits) {
                auto& list = action.edit.changes[names.files()[file].uri];
                for (const byteedit& e : edits) {
                    list.push_back({names.rangeof(file, e.begin, e.end, enc), e.text});
                }
            }
            out.push_back(std::move(action));
        }
    }
    return out;
}

} // namespace zvlsp
