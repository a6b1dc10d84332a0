// Completion items by the place of the cursor, and their documentation.
#include "completion.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "compiler.h"
#include "definition.h"
#include "namehover.h"
#include "workspacesymbols.h"

namespace zvlsp {

namespace {

// Items beyond this many are not sent; the list is then marked incomplete, and the
// client asks again as more of the word is typed.
constexpr std::size_t maxitems = 1000;

// Files of the include directory beyond this many are not offered.
constexpr std::size_t maxincludefiles = 500;

// The extension of a file `also` includes.
constexpr std::string_view includeextension = ".ZVEX";

bool prefixchar(char c) {
    return c == '@' || c == '&' || c == '%';
}

// Whether the word operators of `operators` (the ones made of letters).
bool wordoperator(const std::string& op) {
    return std::all_of(op.begin(), op.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

completionitem nameitem(const definition& d, const std::string& uri, const std::string& sort) {
    completionitem item;
    item.label = d.name;
    item.sorttext = sort + d.name;
    item.data = {{"uri", uri}, {"key", d.key}};
    switch (d.kind) {
    case namekind::function:
    case namekind::method: {
        item.kind = d.kind == namekind::method ? completionkind::method : completionkind::function;
        item.detail = "def " + d.name + parameterlist(d);
        // The call with a placeholder for each parameter.
        std::string call = d.name + "(";
        for (std::size_t i = 0; i < d.parameters.size(); ++i) {
            if (i) call += ", ";
            call += "${" + std::to_string(i + 1) + ":" + d.parameters[i] + "}";
        }
        item.inserttext = call + ")$0";
        item.snippet = true;
        break;
    }
    case namekind::cls:
        item.kind = completionkind::cls;
        item.detail = "class " + d.name;
        break;
    case namekind::field:
        item.kind = completionkind::field;
        item.detail = "field of " + d.owner;
        break;
    case namekind::parameter:
        item.kind = completionkind::variable;
        item.detail = "parameter of " + d.container;
        break;
    case namekind::global:
        item.kind = completionkind::variable;
        item.detail = "global";
        break;
    case namekind::variable:
        item.kind = completionkind::variable;
        break;
    }
    return item;
}

bool member(const definition& d) {
    return d.key.starts_with('.');
}

// The class a receiver name was made from: `c` of `c = %Counter` or `c = Counter`, or the
// class itself. Empty when unknown.
std::string classofreceiver(const nameindex& names, std::string_view key, std::size_t offset) {
    const definition* d = names.definitionof(std::string(key), 0, offset);
    if (!d) return {};
    if (d->kind == namekind::cls) return d->name;
    if (d->kind != namekind::variable && d->kind != namekind::global) return {};
    const std::string_view text = names.files()[d->file].text;
    std::string_view value = text.substr(d->stmtbegin, d->stmtend - d->stmtbegin);
    const std::size_t equals = value.find('=');
    if (equals == std::string_view::npos) return {};
    value.remove_prefix(equals + 1);
    while (!value.empty() &&
           (value.front() == ' ' || value.front() == '\t' || prefixchar(value.front()))) {
        value.remove_prefix(1);
    }
    const std::string_view head = targetname(value);
    for (const definition& c : names.definitions()) {
        if (c.kind == namekind::cls && c.name == head) return c.name;
    }
    return {};
}

void members(const nameindex& names, const std::string& best, completionlist& out) {
    std::set<std::string> seen;
    // Members of the best class first, then every other member in scope.
    for (const bool first : {true, false}) {
        for (const definition& d : names.definitions()) {
            if (!member(d) || (d.owner == best) != first || !seen.insert(d.key).second) continue;
            out.items.push_back(nameitem(d, names.files()[0].uri, first ? "0" : "1"));
        }
    }
}

void includefiles(std::string_view basedir, completionlist& out) {
    namespace fs = std::filesystem;
    std::error_code failed;
    fs::directory_iterator it(basedir.empty() ? fs::path(".") : fs::path(basedir), failed);
    std::vector<std::string> stems;
    for (; !failed && it != fs::directory_iterator(); it.increment(failed)) {
        if (stems.size() >= maxincludefiles) {
            out.incomplete = true;
            break;
        }
        const fs::path p = it->path();
        if (p.extension() == includeextension) stems.push_back(p.stem().string());
    }
    std::sort(stems.begin(), stems.end());
    for (const std::string& stem : stems) {
        completionitem item;
        item.label = stem;
        item.kind = completionkind::file;
        item.detail = stem + std::string(includeextension);
        out.items.push_back(std::move(item));
    }
}

// Whether the cursor's word is the first of its statement: only blanks, or an opening
// brace of a block, stand before it on its line.
bool statementstart(std::string_view text, std::size_t start) {
    std::size_t at = start;
    while (at > 0 && (text[at - 1] == ' ' || text[at - 1] == '\t')) --at;
    return at == 0 || text[at - 1] == '\n' || text[at - 1] == '{';
}

void names(const nameindex& index, std::size_t offset, completionlist& out) {
    std::set<std::string> seen;
    const std::string& uri = index.files()[0].uri;
    // The parameters of the functions around the cursor first.
    for (const definition& d : index.definitions()) {
        if (d.kind != namekind::parameter || d.file != 0 || offset < d.stmtbegin ||
            offset > d.stmtend || !seen.insert(d.key).second) {
            continue;
        }
        out.items.push_back(nameitem(d, uri, "0"));
    }
    for (const definition& d : index.definitions()) {
        if (d.kind == namekind::parameter || member(d) || !seen.insert(d.key).second) continue;
        out.items.push_back(nameitem(d, uri, d.file == 0 ? "1" : "2"));
    }
}

void keywords(const std::string& uri, bool atstart, completionlist& out) {
    if (atstart) {
        for (const formsnippet& f : formsnippets()) {
            completionitem item;
            item.label = std::string(f.keyword);
            item.kind = completionkind::snippet;
            item.detail = std::string(f.summary);
            item.inserttext = std::string(f.snippet);
            item.snippet = true;
            item.sorttext = "3" + item.label;
            item.data = {{"uri", uri}, {"keyword", item.label}};
            out.items.push_back(std::move(item));
        }
        return;
    }
    for (const std::string& op : operators) {
        if (!wordoperator(op)) continue;
        completionitem item;
        item.label = op;
        item.kind = completionkind::keyword;
        item.detail = "operator";
        item.sorttext = "3" + op;
        out.items.push_back(std::move(item));
    }
}

// At most `maxitems` of the items that hold the typed characters in order.
completionlist trimmed(completionlist list, std::string_view typed) {
    if (list.items.size() <= maxitems) return list;
    list.incomplete = true;
    std::vector<completionitem> kept;
    for (completionitem& item : list.items) {
        if (!fuzzymatch(item.label, typed)) continue;
        if (kept.size() == maxitems) break;
        kept.push_back(std::move(item));
    }
    list.items = std::move(kept);
    return list;
}

} // namespace

const std::vector<formsnippet>& formsnippets() {
    static const std::vector<formsnippet> table = {
        {"if", "if ${1:condition} {\n\t$0\n}", "if condition body: runs the body when it holds"},
        {"while", "while ${1:condition} {\n\t$0\n}",
         "while condition body: runs the body while it holds"},
        {"for", "for ${1:list} as ${2:item} {\n\t$0\n}",
         "for expression as variable body: the body once for each element"},
        {"forever", "forever {\n\t$0\n}", "forever body: repeats the body"},
        {"def", "def ${1:name}(${2}) {\n\t$0\n}",
         "def name(parameters) body: a function stored under the name"},
        {"class", "class ${1:Name} {\n\t$0\n}",
         "class Name body: an object of the definitions in its body"},
        {"$@", "\\$@ ${1:value} {\n\t$0\n}",
         "$@ expression body: the body in the scope of a value"},
        {"return", "return $0", "return [expression]: leaves the function"},
        {"also", "also ${1:file}", "also name: compiles name.ZVEX in place"},
    };
    return table;
}

completionlist completionat(const nameindex& index, std::size_t offset, std::string_view basedir,
                            encoding) {
    completionlist out;
    const std::string_view text = index.files()[0].text;
    offset = std::min(offset, text.size());
    std::size_t start = offset;
    while (start > 0 && namechar(text[start - 1]) && !prefixchar(text[start - 1])) --start;
    const char before = start > 0 ? text[start - 1] : '\n';
    if (before == '.') {
        // The receiver's last character stands right before the '.'.
        const std::string key =
            start >= 2 && namechar(text[start - 2]) ? lookupkey(text, start - 2) : std::string();
        members(index, key.empty() ? std::string() : classofreceiver(index, key, offset), out);
        return trimmed(std::move(out), text.substr(start, offset - start));
    }
    if (before == '@') {
        const definition* cls = index.enclosing(offset, namekind::cls);
        members(index, cls ? cls->name : std::string(), out);
        return trimmed(std::move(out), text.substr(start, offset - start));
    }
    // The word after `also` on its line: the files that can be included.
    std::size_t linestart = text.rfind('\n', start == 0 ? 0 : start - 1);
    linestart = linestart == std::string_view::npos || start == 0 ? 0 : linestart + 1;
    std::string_view line = text.substr(linestart, start - linestart);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.starts_with("also ") &&
        line.substr(4).find_first_not_of(" \t") == std::string_view::npos) {
        includefiles(basedir, out);
        return out;
    }
    names(index, offset, out);
    keywords(index.files()[0].uri, statementstart(text, start), out);
    return trimmed(std::move(out), text.substr(start, offset - start));
}

completionitem resolvecompletion(const nameindex& index, completionitem item) {
    if (!item.data.is_object()) return item;
    if (item.data.contains("keyword")) {
        const std::string keyword = item.data["keyword"].get<std::string>();
        for (const formsnippet& f : formsnippets()) {
            if (f.keyword == keyword) item.documentation = std::string(f.summary);
        }
        return item;
    }
    const std::string key = item.data.value("key", std::string());
    for (const definition& d : index.definitions()) {
        if (d.key == key) {
            item.documentation = describe(index, d);
            break;
        }
    }
    return item;
}

} // namespace zvlsp
