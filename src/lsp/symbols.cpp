// Document symbols and folding ranges.
#include "symbols.h"

#include "replytext.h"

namespace zvlsp {

namespace {

enum symbolkind { classkind = 5, methodkind = 6, functionkind = 12 };

// Appends the symbols of `list` to `out`, each after a comma when `any` already is; the
// statements other than def and class pass their bodies' symbols up to the enclosing one.
// The keys of a symbol are in the sorted order a dumped JSON object has, children first.
void collect(std::span<const statement> list, const linemap& lines, bool inclass, std::string& out,
             bool& any) {
    for (const statement& s : list) {
        const bool def = s.keyword && s.first() == "def";
        const bool cls = s.keyword && s.first() == "class";
        if ((!def && !cls) || s.words.size() < 2) {
            collect(s.body, lines, false, out, any);
            continue;
        }
        if (any) out += ',';
        any = true;
        out += '{';
        // The children's key is taken back when the body gives none.
        const std::size_t mark = out.size();
        out += R"("children":[)";
        bool children = false;
        collect(s.body, lines, cls, out, children);
        if (children) {
            out += "],";
        } else {
            out.resize(mark);
        }
        const word& nameword = s.words[1];
        const std::string_view name = def ? defname(nameword.text()) : nameword.text();
        if (def) {
            out += R"("detail":)";
            appendstring(out, nameword.text().substr(name.size()));
            out += ',';
        }
        out += R"("kind":)";
        appendnumber(out, cls ? classkind : inclass ? methodkind : functionkind);
        out += R"(,"name":)";
        appendstring(out, name.empty() ? std::string_view("(unnamed)") : name);
        out += R"(,"range":)";
        appendrange(out, lines.at(s.begin()), lines.at(s.end()));
        out += R"(,"selectionRange":)";
        appendrange(out, lines.at(nameword.offset), lines.at(nameword.offset + name.size()));
        out += '}';
    }
}

} // namespace

void appenddocumentsymbols(std::string& out, const outline& tree, std::string_view text,
                           encoding enc) {
    out += '[';
    bool any = false;
    collect(tree.statements(), linemap(text, enc), false, out, any);
    out += ']';
}

void eachfolding(const outline& tree, std::string_view text, const foldingvisitor& visit) {
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
        visit(open, braceonly && close - 1 > open ? close - 1 : close);
    });
}

void appendfoldingranges(std::string& out, const outline& tree, std::string_view text) {
    out += '[';
    bool first = true;
    eachfolding(tree, text, [&](std::uint32_t start, std::uint32_t end) {
        out += first ? R"({"endLine":)" : R"(,{"endLine":)";
        first = false;
        appendnumber(out, end);
        out += R"(,"startLine":)";
        appendnumber(out, start);
        out += '}';
    });
    out += ']';
}

} // namespace zvlsp
