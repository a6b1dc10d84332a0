// Document symbols and folding ranges.
#include "symbols.h"

#include "lspjson.h"

namespace zvlsp {

using nlohmann::json;

namespace {

enum symbolkind { classkind = 5, methodkind = 6, functionkind = 12 };

// Symbols of `list` into `out`; statements other than def and class pass their bodies'
// symbols up to the enclosing one.
void collect(const std::vector<statement>& list, const linemap& lines, bool inclass, json& out) {
    for (const statement& s : list) {
        const bool def = s.keyword && s.first() == "def";
        const bool cls = s.keyword && s.first() == "class";
        if ((!def && !cls) || s.words.size() < 2) {
            collect(s.body, lines, false, out);
            continue;
        }
        const word& nameword = s.words[1];
        std::string_view name = def ? defname(nameword.text) : nameword.text;
        json symbol = {
            {"name", name.empty() ? std::string("(unnamed)") : std::string(name)},
            {"kind", cls       ? classkind
                     : inclass ? methodkind
                               : functionkind},
            {"range", rangejson(lines, s.begin(), s.end())},
            {"selectionRange", rangejson(lines, nameword.offset, nameword.offset + name.size())}};
        if (def) symbol["detail"] = std::string(nameword.text.substr(name.size()));
        json children = json::array();
        collect(s.body, lines, cls, children);
        if (!children.empty()) symbol["children"] = std::move(children);
        out.push_back(std::move(symbol));
    }
}

} // namespace

json documentsymbols(const outline& tree, std::string_view text, encoding enc) {
    json out = json::array();
    collect(tree.statements(), linemap(text, enc), false, out);
    return out;
}

json foldingranges(const outline& tree, std::string_view text) {
    json out = json::array();
    const linemap lines(text, encoding::utf8);
    walkstatements(tree.statements(), [&](const statement& s, int) {
        if (!s.block) return;
        const word& body = s.words[static_cast<std::size_t>(s.bodyword)];
        const std::uint32_t open = lines.at(body.offset).line;
        const std::uint32_t close = lines.at(body.end() - 1).line;
        if (close <= open) return;
        const std::size_t closelinestart = lines.start(close);
        const bool braceonly =
            text.substr(closelinestart, body.end() - 1 - closelinestart).find_first_not_of(" \t") ==
            std::string_view::npos;
        const std::uint32_t end = braceonly && close - 1 > open ? close - 1 : close;
        out.push_back({{"startLine", open}, {"endLine", end}});
    });
    return out;
}

} // namespace zvlsp
