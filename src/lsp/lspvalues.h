// Typed protocol values of the editing features (completion, signature help, references,
// highlights, rename, code actions, workspace symbols) and their JSON forms. The features
// build these; only the server's request handlers turn them into JSON or read them from it.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "lspjson.h"
#include "text.h"

namespace zvlsp {

struct lsprange {
    position start, end;
};

// TextDocumentPositionParams.
struct textposition {
    std::string uri;
    position at;
};

struct location {
    std::string uri;
    lsprange range;
};

struct textedit {
    lsprange range;
    std::string newtext;
};

// WorkspaceEdit as `changes`: the edits of each document, by URI.
struct workspaceedit {
    std::map<std::string, std::vector<textedit>> changes;
    bool empty() const { return changes.empty(); }
};

enum class completionkind : int {
    text = 1,
    method = 2,
    function = 3,
    field = 5,
    variable = 6,
    cls = 7,
    keyword = 14,
    snippet = 15,
    file = 17,
};

struct completionitem {
    std::string label;
    completionkind kind = completionkind::text;
    std::string detail;
    std::string documentation; // markdown; empty until resolved
    std::string inserttext;    // empty: the label
    bool snippet = false;      // inserttext is a snippet with $1 ... placeholders
    std::string sorttext;      // empty: the label
    std::optional<textedit> edit;
    nlohmann::json data; // what completionItem/resolve needs; null when nothing
};

struct completionlist {
    bool incomplete = false;
    std::vector<completionitem> items;
};

struct parameterinformation {
    std::uint32_t begin = 0, end = 0; // offsets into the signature's label (UTF-16 units)
};

struct signatureinformation {
    std::string label;
    std::string documentation;
    std::vector<parameterinformation> parameters;
};

struct signaturehelp {
    std::vector<signatureinformation> signatures;
    std::uint32_t activesignature = 0;
    std::uint32_t activeparameter = 0;
};

enum class highlightkind : int { text = 1, read = 2, write = 3 };

struct documenthighlight {
    lsprange range;
    highlightkind kind = highlightkind::read;
};

struct codeaction {
    std::string title;
    std::string kind = "quickfix";
    nlohmann::json diagnostic; // the Diagnostic it fixes, as the client sent it
    workspaceedit edit;
    bool preferred = false;
};

enum class symbolkind : int { cls = 5, method = 6, field = 8, function = 12, variable = 13 };

struct symbolinformation {
    std::string name;
    symbolkind kind = symbolkind::variable;
    location where;
    std::string container;
};

// ---------------------------------------------------------------------------------------
// JSON forms.

inline nlohmann::json tojson(const lsprange& r) {
    return {{"start", positionjson(r.start)}, {"end", positionjson(r.end)}};
}

inline nlohmann::json tojson(const location& l) {
    return {{"uri", l.uri}, {"range", tojson(l.range)}};
}

inline nlohmann::json tojson(const textedit& e) {
    return {{"range", tojson(e.range)}, {"newText", e.newtext}};
}

inline nlohmann::json tojson(const workspaceedit& w) {
    nlohmann::json changes = nlohmann::json::object();
    for (const auto& [uri, edits] : w.changes) {
        nlohmann::json list = nlohmann::json::array();
        for (const textedit& e : edits) list.push_back(tojson(e));
        changes[uri] = std::move(list);
    }
    return {{"changes", std::move(changes)}};
}

inline nlohmann::json tojson(const completionitem& c) {
    nlohmann::json out = {{"label", c.label}, {"kind", static_cast<int>(c.kind)}};
    if (!c.detail.empty()) out["detail"] = c.detail;
    if (!c.documentation.empty()) {
        out["documentation"] = {{"kind", "markdown"}, {"value", c.documentation}};
    }
    if (!c.inserttext.empty()) out["insertText"] = c.inserttext;
    out["insertTextFormat"] = c.snippet ? 2 : 1;
    if (!c.sorttext.empty()) out["sortText"] = c.sorttext;
    if (c.edit) out["textEdit"] = tojson(*c.edit);
    if (!c.data.is_null()) out["data"] = c.data;
    return out;
}

inline nlohmann::json tojson(const completionlist& l) {
    nlohmann::json items = nlohmann::json::array();
    for (const completionitem& c : l.items) items.push_back(tojson(c));
    return {{"isIncomplete", l.incomplete}, {"items", std::move(items)}};
}

inline nlohmann::json tojson(const signaturehelp& h) {
    nlohmann::json signatures = nlohmann::json::array();
    for (const signatureinformation& s : h.signatures) {
        nlohmann::json parameters = nlohmann::json::array();
        for (const parameterinformation& p : s.parameters) {
            parameters.push_back({{"label", {p.begin, p.end}}});
        }
        nlohmann::json one = {{"label", s.label}, {"parameters", std::move(parameters)}};
        if (!s.documentation.empty()) {
            one["documentation"] = {{"kind", "markdown"}, {"value", s.documentation}};
        }
        signatures.push_back(std::move(one));
    }
    return {{"signatures", std::move(signatures)},
            {"activeSignature", h.activesignature},
            {"activeParameter", h.activeparameter}};
}

inline nlohmann::json tojson(const documenthighlight& h) {
    return {{"range", tojson(h.range)}, {"kind", static_cast<int>(h.kind)}};
}

inline nlohmann::json tojson(const codeaction& a) {
    nlohmann::json out = {{"title", a.title}, {"kind", a.kind}, {"edit", tojson(a.edit)}};
    if (!a.diagnostic.is_null()) out["diagnostics"] = nlohmann::json::array({a.diagnostic});
    if (a.preferred) out["isPreferred"] = true;
    return out;
}

inline nlohmann::json tojson(const symbolinformation& s) {
    nlohmann::json out = {
        {"name", s.name}, {"kind", static_cast<int>(s.kind)}, {"location", tojson(s.where)}};
    if (!s.container.empty()) out["containerName"] = s.container;
    return out;
}

template <typename value> nlohmann::json tojson(const std::vector<value>& list) {
    nlohmann::json out = nlohmann::json::array();
    for (const value& v : list) out.push_back(tojson(v));
    return out;
}

inline position positionof(const nlohmann::json& p) {
    return {p.at("line").get<std::uint32_t>(), p.at("character").get<std::uint32_t>()};
}

inline textposition textpositionof(const nlohmann::json& params) {
    return {params.at("textDocument").at("uri").get<std::string>(),
            positionof(params.at("position"))};
}

} // namespace zvlsp
