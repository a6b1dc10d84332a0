// The feature requests: hover, definition, document symbols, folding ranges and semantic
// tokens, each on an open document.
#include <charconv>

#include "definition.h"
#include "hover.h"
#include "lspjson.h"
#include "server.h"
#include "symbols.h"
#include "tokens.h"

namespace zvlsp {

using nlohmann::json;

json server::hover(const json& params) {
    document& doc = documentof(params);
    const auto found = hoverat(ws, doc, cursorof(doc, params));
    if (!found) return nullptr;
    return {{"contents", {{"kind", "markdown"}, {"value", found->markdown}}},
            {"range", rangejson(doc.text, found->begin, found->end, enc)}};
}

json server::definition(const json& params) {
    document& doc = documentof(params);
    return definitionat(ws, doc, cursorof(doc, params), enc);
}

json server::documentsymbol(const json& params) {
    document& doc = documentof(params);
    return documentsymbols(doc.statements(), doc.text, enc);
}

json server::foldingrange(const json& params) {
    document& doc = documentof(params);
    return foldingranges(doc.statements(), doc.text);
}

std::string server::semantictokens(const json& params) {
    document& doc = documentof(params);
    const std::vector<std::uint32_t> data =
        encodetokens(tokenize(doc.statements(), doc.text), doc.text, enc);
    std::string out = R"({"data":[)";
    out.reserve(out.size() + data.size() * 3 + 2);
    char digits[16];
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (i) out += ',';
        const auto end = std::to_chars(digits, digits + sizeof digits, data[i]).ptr;
        out.append(digits, end);
    }
    out += "]}";
    return out;
}

} // namespace zvlsp
