// The editing requests: completion and its resolve, signature help, references, document
// highlights, rename with prepareRename, code actions and workspace symbols. Each reads
// its typed params, runs its feature over the document's names and answers the feature's
// typed result as JSON.
#include "codeactions.h"
#include "completion.h"
#include "lspvalues.h"
#include "names.h"
#include "references.h"
#include "rename.h"
#include "server.h"
#include "signature.h"
#include "workspacesymbols.h"

namespace zvlsp {

using nlohmann::json;

namespace {

// The error a client shows when a rename is refused.
constexpr int requestfailed = -32803;

} // namespace

json server::completion(const json& params) {
    document& doc = documentof(params);
    const nameindex names(ws, doc);
    return tojson(completionat(names, cursorof(doc, params), doc.basedir(), enc));
}

json server::completionresolve(const json& params) {
    completionitem item;
    item.label = params.at("label").get<std::string>();
    item.kind = static_cast<completionkind>(params.value("kind", 1));
    item.detail = params.value("detail", "");
    item.inserttext = params.value("insertText", "");
    item.snippet = params.value("insertTextFormat", 1) == 2;
    item.sorttext = params.value("sortText", "");
    item.data = params.value("data", json());
    json out = params;
    const document* doc =
        item.data.is_object() ? ws.find(item.data.value("uri", std::string())) : nullptr;
    if (!doc) return out;
    const nameindex names(ws, *doc);
    const completionitem resolved = resolvecompletion(names, std::move(item));
    if (!resolved.documentation.empty()) {
        out["documentation"] = {{"kind", "markdown"}, {"value", resolved.documentation}};
    }
    return out;
}

json server::signatures(const json& params) {
    document& doc = documentof(params);
    const nameindex names(ws, doc);
    const auto help = signatureat(names, cursorof(doc, params), enc);
    return help ? tojson(*help) : json(nullptr);
}

json server::references(const json& params) {
    document& doc = documentof(params);
    const nameindex names(ws, doc);
    const bool declarations = params.value("/context/includeDeclaration"_json_pointer, true);
    return tojson(referencesat(names, cursorof(doc, params), declarations, enc));
}

json server::documenthighlight(const json& params) {
    document& doc = documentof(params);
    const nameindex names(ws, doc);
    return tojson(highlightsat(names, cursorof(doc, params), enc));
}

json server::preparerename(const json& params) {
    document& doc = documentof(params);
    const nameindex names(ws, doc);
    const auto target = preparerenameat(names, cursorof(doc, params), enc);
    if (!target) return nullptr;
    return {{"range", tojson(target->range)}, {"placeholder", target->placeholder}};
}

json server::rename(const json& params) {
    document& doc = documentof(params);
    const std::string newname = params.at("newName").get<std::string>();
    const nameindex names(ws, doc);
    const std::size_t offset = cursorof(doc, params);
    const occurrence* o = names.at(0, offset);
    if (!o) throw rpcerror{requestfailed, "No name to rename here"};
    if (const std::string problem = renameproblem(o->key, newname); !problem.empty()) {
        throw rpcerror{requestfailed, "Cannot rename to '" + newname + "': " + problem};
    }
    return tojson(renameedit(names, *o, newname, enc));
}

json server::codeactions(const json& params) {
    document& doc = documentof(params);
    const json& range = params.at("range");
    const std::size_t from = offsetat(*doc.text, positionof(range.at("start")), enc);
    const std::size_t to = offsetat(*doc.text, positionof(range.at("end")), enc);
    const json sent = params.value("/context/diagnostics"_json_pointer, json::array());
    return tojson(codeactionsfor(ws, doc, from, std::max(from, to), sent, enc));
}

json server::workspacesymbol(const json& params) {
    return tojson(workspacesymbols(ws, params.value("query", ""), enc));
}

} // namespace zvlsp
