// The feature requests: hover, definition, document symbols, folding ranges and semantic
// tokens, each on an open document.
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
    const auto found = hoverat(doc, cursorof(doc, params));
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

json server::semantictokens(const json& params) {
    document& doc = documentof(params);
    return {{"data", encodetokens(tokenize(doc.statements(), doc.text), doc.text, enc)}};
}

} // namespace zvlsp
