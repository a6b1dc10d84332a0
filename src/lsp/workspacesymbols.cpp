// Symbols of every open document and of the files they include.
#include "workspacesymbols.h"

#include <set>

#include "names.h"

namespace zvlsp {

namespace {

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

bool fuzzymatch(std::string_view name, std::string_view query) {
    std::size_t at = 0;
    for (const char c : name) {
        if (at < query.size() && lower(c) == lower(query[at])) ++at;
    }
    return at == query.size();
}

std::vector<symbolinformation> workspacesymbols(const workspace& ws, std::string_view query,
                                                encoding enc) {
    std::vector<symbolinformation> out;
    std::set<std::string> done; // files listed already, by path
    for (const document* doc : ws.all()) {
        const nameindex names(ws, *doc);
        std::vector<bool> fresh;
        for (const scopefile& f : names.files()) fresh.push_back(done.insert(f.path).second);
        std::set<std::pair<std::size_t, std::string>> globals; // listed once per file
        for (const definition& d : names.definitions()) {
            if (!fresh[d.file] || !fuzzymatch(d.name, query)) continue;
            if (d.kind == namekind::global && !globals.emplace(d.file, d.key).second) continue;
            symbolkind kind;
            switch (d.kind) {
            case namekind::function:
                kind = symbolkind::function;
                break;
            case namekind::method:
                kind = symbolkind::method;
                break;
            case namekind::cls:
                kind = symbolkind::cls;
                break;
            case namekind::global:
                kind = symbolkind::variable;
                break;
            default:
                continue;
            }
            if (out.size() >= maxworkspacesymbols) return out;
            out.push_back(
                {d.name, kind,
                 location{names.files()[d.file].uri, names.rangeof(d.file, d.begin, d.end, enc)},
                 d.container});
        }
    }
    return out;
}

} // namespace zvlsp
