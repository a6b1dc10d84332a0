// The feature requests: hover, definition, document symbols, folding ranges and semantic
// tokens, each on an open document.
#include "definition.h"
#include "hover.h"
#include "lspjson.h"
#include "namehover.h"
#include "names.h"
#include "server.h"
#include "symbols.h"
#include "tokens.h"

namespace zvlsp {

using nlohmann::json;

json server::hover(const json& params) {
    document& doc = documentof(params);
    const std::size_t offset = cursorof(doc, params);
    // What the name under the cursor is (read on the document's own outline, which the
    // other features keep too), then the byte code of the construct.
    doc.statements();
    const auto name = describenameat(nameindex(ws, doc, offset), offset);
    const auto found = hoverat(ws, doc, offset);
    if (!found && !name) return nullptr;
    std::string markdown = name ? name->markdown : std::string();
    if (name && found) markdown += "\n---\n\n";
    if (found) markdown += found->markdown;
    const std::size_t begin = found ? found->begin : name->begin;
    const std::size_t end = found ? found->end : name->end;
    return {{"contents", {{"kind", "markdown"}, {"value", markdown}}},
            {"range", rangejson(*doc.text, begin, end, enc)}};
}

json server::definition(const json& params) {
    document& doc = documentof(params);
    return definitionat(ws, doc, cursorof(doc, params), enc);
}

void server::documentsymbol(const json& params, std::string& out) {
    document& doc = documentof(params);
    appenddocumentsymbols(out, doc.statements(), *doc.text, enc);
}

void server::foldingrange(const json& params, std::string& out) {
    document& doc = documentof(params);
    appendfoldingranges(out, doc.statements(), *doc.text);
}

sizedreply server::semantictokens(const json& params) {
    document& doc = documentof(params);
    return semantictokensreply(doc.statements(), *doc.text, enc);
}

} // namespace zvlsp
