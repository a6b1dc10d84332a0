// Document synchronisation: open, change (whole or incremental), close and save, each
// followed by a compilation and fresh diagnostics for the document and for the open
// documents that include it.
#include "diagnostics.h"
#include "server.h"

#include <algorithm>

namespace zvlsp {

using nlohmann::json;

document& server::documentof(const json& params) {
    const std::string& uri = params.at("textDocument").at("uri").get_ref<const std::string&>();
    document* doc = ws.find(uri);
    if (!doc) throw rpcerror{invalidparams, "Invalid params: document not open: " + uri};
    return *doc;
}

std::size_t server::cursorof(document& doc, const json& params) const {
    const json& at = params.at("position");
    const position pos{at.at("line").get<std::uint32_t>(), at.at("character").get<std::uint32_t>()};
    return offsetat(*doc.text, pos, enc);
}

void server::publish(const document& doc) {
    send({{"jsonrpc", "2.0"},
          {"method", "textDocument/publishDiagnostics"},
          {"params", diagnosticsof(doc, enc)}});
}

void server::refresh(document& doc) {
    ws.analyse(doc);
    publish(doc);
    for (document* other : ws.dependants(doc.path)) {
        ws.analyse(*other);
        publish(*other);
    }
}

void server::settle() {
    while (!changed.empty()) {
        const std::string uri = std::move(changed.back());
        changed.pop_back();
        if (document* doc = ws.find(uri)) {
            try {
                refresh(*doc);
            } catch (const std::exception&) {}
        }
    }
}

void server::didopen(json& params) {
    json& item = params.at("textDocument");
    // The text moves out of the message: a large document is not copied.
    std::string& text = item.at("text").get_ref<std::string&>();
    document& doc =
        ws.open(item.at("uri").get<std::string>(), std::move(text), item.value("version", 0LL));
    std::erase(changed, doc.uri);
    refresh(doc);
}

void server::didchange(json& params) {
    document& doc = documentof(params);
    // Validate every change before applying any, so that a bad message changes nothing.
    // The edits are made in place, each replacement moved out of the message.
    struct edit {
        bool whole = true;
        position from, to;
        std::string* text = nullptr;
    };
    std::vector<edit> edits;
    for (json& change : params.at("contentChanges")) {
        edit e;
        e.text = &change.at("text").get_ref<std::string&>();
        if (change.contains("range")) {
            const json& range = change.at("range");
            const auto pos = [](const json& p) {
                return position{p.at("line").get<std::uint32_t>(),
                                p.at("character").get<std::uint32_t>()};
            };
            e.whole = false;
            e.from = pos(range.at("start"));
            e.to = pos(range.at("end"));
        }
        edits.push_back(e);
    }
    const long long version = params.at("textDocument").value("version", doc.version + 1);
    for (const edit& e : edits) {
        if (e.whole) {
            doc.replace(0, doc.text->size(), std::move(*e.text));
            continue;
        }
        const std::size_t begin = offsetat(*doc.text, e.from, enc);
        const std::size_t end = std::max(begin, offsetat(*doc.text, e.to, enc));
        doc.replace(begin, end, std::move(*e.text));
    }
    doc.version = version;
    // Compiled once no further message waits: of a burst of edits only the last text is.
    if (std::find(changed.begin(), changed.end(), doc.uri) == changed.end())
        changed.push_back(doc.uri);
}

void server::didclose(json& params) {
    const document& doc = documentof(params);
    const std::string uri = doc.uri, path = doc.path;
    std::erase(changed, uri);
    ws.close(uri);
    send({{"jsonrpc", "2.0"},
          {"method", "textDocument/publishDiagnostics"},
          {"params", {{"uri", uri}, {"diagnostics", json::array()}}}});
    // Documents that included it read it from disk again.
    for (document* other : ws.dependants(path)) {
        ws.analyse(*other);
        publish(*other);
    }
}

void server::didsave(json& params) {
    documentof(params); // the text is the editor's already; nothing changes
}

} // namespace zvlsp
