// Signature help: the call around the cursor and its definition.
#include "signature.h"

#include <algorithm>

#include "definition.h"

namespace zvlsp {

namespace {

// The innermost statement of `list` (offsets relative to `base`) holding `offset`.
const statement* innermost(std::span<const statement> list, std::size_t base, std::size_t offset) {
    for (const statement& s : list) {
        if (offset < base + s.begin() || offset > base + s.end()) continue;
        const statement* inner = innermost(s.body, base, offset);
        return inner ? inner : &s;
    }
    return nullptr;
}

// Where scanning for the call starts: the statement around the cursor, else its line.
std::size_t scanstart(const nameindex& names, std::size_t offset) {
    for (const filepart& part : names.files()[0].parts) {
        if (offset < part.base || offset > part.base + part.length) continue;
        if (const statement* s = innermost(part.tree->statements(), part.base, offset)) {
            return part.base + s->begin();
        }
    }
    const std::string_view text = names.files()[0].text;
    const std::size_t line = offset == 0 ? std::string_view::npos : text.rfind('\n', offset - 1);
    return line == std::string_view::npos ? 0 : line + 1;
}

struct opened {
    char bracket;
    std::size_t at;
    std::uint32_t commas = 0;
};

} // namespace

std::optional<signaturehelp> signatureat(const nameindex& names, std::size_t offset, encoding enc) {
    const std::string_view text = names.files()[0].text;
    offset = std::min(offset, text.size());
    std::vector<opened> stack;
    for (std::size_t i = scanstart(names, offset); i < offset; ++i) {
        const char c = text[i];
        if (c == '"') {
            for (++i; i < offset && text[i] != '"'; ++i) {
                if (text[i] == '\\') ++i;
            }
            if (i >= offset) return std::nullopt; // the cursor is inside a string
        } else if (c == '(' || c == '[' || c == '{') {
            stack.push_back({c, i});
        } else if (c == ')' || c == ']' || c == '}') {
            if (!stack.empty()) stack.pop_back();
        } else if (c == ',' && !stack.empty()) {
            ++stack.back().commas;
        }
    }
    // The innermost call around the cursor.
    const auto call = std::find_if(stack.rbegin(), stack.rend(),
                                   [](const opened& o) { return o.bracket == '('; });
    if (call == stack.rend() || call->at == 0 || !namechar(text[call->at - 1])) return std::nullopt;
    const std::string key = lookupkey(text, call->at - 1);
    const definition* d = key.empty() ? nullptr : names.definitionof(key, 0, offset);
    if (!d || (d->kind != namekind::function && d->kind != namekind::method)) return std::nullopt;
    signatureinformation info;
    info.label = d->name + "(";
    for (std::size_t i = 0; i < d->parameters.size(); ++i) {
        if (i) info.label += ", ";
        const auto begin = static_cast<std::uint32_t>(units(info.label, enc));
        info.label += d->parameters[i];
        info.parameters.push_back({begin, static_cast<std::uint32_t>(units(info.label, enc))});
    }
    info.label += ")";
    signaturehelp help;
    help.signatures.push_back(std::move(info));
    const std::uint32_t count = static_cast<std::uint32_t>(d->parameters.size());
    help.activeparameter = count == 0 ? 0 : std::min(call->commas, count - 1);
    return help;
}

} // namespace zvlsp
