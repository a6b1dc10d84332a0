// Finding the statement that defines a name.
#include "definition.h"

#include <set>

#include "lspjson.h"
#include "uri.h"

namespace zvlsp {

using nlohmann::json;

namespace {

// Includes nested deeper than this are not searched.
constexpr int maxincludes = 32;

// `a` then `b`. (Spelled out: GCC 12 warns falsely about `"." + std::string(...)`.)
std::string joined(std::string_view a, std::string_view b) {
    std::string out;
    out.reserve(a.size() + b.size());
    out.append(a).append(b);
    return out;
}

const statement* search(std::span<const statement> list, const std::string& key, bool inclass) {
    for (const statement& s : list) {
        for (const std::string& k : definedkeys(s, inclass)) {
            if (k == key) return &s;
        }
        const bool cls = s.keyword && s.first() == "class";
        if (const statement* inner = search(s.body, key, cls)) return inner;
    }
    return nullptr;
}

// The statement at `offset`, innermost.
const statement* statementat(std::span<const statement> list, std::size_t offset) {
    for (const statement& s : list) {
        if (offset < s.begin() || offset > s.end()) continue;
        const statement* inner = statementat(s.body, offset);
        return inner ? inner : &s;
    }
    return nullptr;
}

class finder {
  public:
    finder(const workspace& ws, std::string base, encoding enc)
        : ws(ws), base(std::move(base)), enc(enc) {}

    std::string pathof(const std::string& file) const {
        return base.empty() ? file : base + "/" + file;
    }

    // Searches `tree` (the text of `uri`) and then the files it includes.
    json find(const outline& tree, std::string_view text, const std::string& uri,
              const std::string& key, int depth) {
        if (const statement* s = search(tree.statements(), key, false)) {
            return locationjson(uri, rangejson(text, s->begin(), s->end(), enc));
        }
        if (depth >= maxincludes) return nullptr;
        json result = nullptr;
        walkstatements(tree.statements(), [&](const statement& s, int) {
            const auto file = alsofile(s);
            if (!result.is_null() || !file || !visited.insert(pathof(*file)).second) return;
            const auto included = ws.read(pathof(*file));
            if (!included) return;
            const outline inner(*included);
            result = find(inner, *included, pathtouri(pathof(*file)), key, depth + 1);
        });
        return result;
    }

  private:
    const workspace& ws;
    std::string base;
    encoding enc;
    std::set<std::string> visited;
};

} // namespace

std::vector<std::string> definedkeys(const statement& s, bool inclass) {
    const std::string_view member = inclass ? "." : "";
    if (s.keyword && s.words.size() >= 2 && s.first() == "def") {
        return {joined(member, defname(s.words[1].text()))};
    }
    if (s.keyword && s.words.size() >= 2 && s.first() == "class") {
        return {joined(member, s.words[1].text())};
    }
    if (!s.keyword && s.words.size() == 3 && s.words[1].text() == "=") {
        const std::string_view target = s.words[0].text();
        if (targetname(target) != target) return {};
        if (target.starts_with('@')) return {joined(".", target.substr(1))};
        return {std::string(target)};
    }
    return {};
}

std::string lookupkey(std::string_view text, std::size_t offset) {
    if (offset > text.size()) return {};
    std::size_t begin = offset, end = offset;
    while (begin > 0 && namechar(text[begin - 1])) --begin;
    while (end < text.size() && namechar(text[end])) ++end;
    if (begin == end) return {};
    std::string_view name = text.substr(begin, end - begin);
    const bool member = begin > 0 && text[begin - 1] == '.';
    if (member) return joined(".", name);
    // The prefixes stand in the order G @ & %; a global keeps its G, as definitions do.
    std::string_view key = name.substr(0, name.size() > 1 && name.front() == 'G' ? 1 : 0);
    name.remove_prefix(key.size());
    if (name.starts_with('@')) key = ".", name.remove_prefix(1);
    while (!name.empty() && (name.front() == '&' || name.front() == '%')) name.remove_prefix(1);
    if (name.empty()) return {};
    return joined(key, name);
}

json definitionat(const workspace& ws, document& doc, std::size_t offset, encoding enc) {
    const outline& tree = doc.statements();
    finder search(ws, doc.basedir(), enc);
    if (const statement* s = statementat(tree.statements(), offset)) {
        if (const auto file = alsofile(*s)) {
            const std::string path = search.pathof(*file);
            if (!ws.read(path)) return nullptr;
            return locationjson(pathtouri(path), rangejson(std::string_view(), 0, 0, enc));
        }
    }
    const std::string key = lookupkey(*doc.text, offset);
    if (key.empty()) return nullptr;
    return search.find(tree, *doc.text, doc.uri, key, 0);
}

} // namespace zvlsp
