// The server's dispatch, error replies and life cycle.
#include "server.h"

#include "jsonread.h"
#include "tokens.h"
#include "zv.hpp"

namespace zvlsp {

using nlohmann::json;

const std::map<std::string, server::request, std::less<>> server::requests = {
    {"initialize", &server::initialize},
    {"shutdown", &server::shutdown},
    {"textDocument/hover", &server::hover},
    {"textDocument/definition", &server::definition},
    {"textDocument/completion", &server::completion},
    {"completionItem/resolve", &server::completionresolve},
    {"textDocument/signatureHelp", &server::signatures},
    {"textDocument/references", &server::references},
    {"textDocument/documentHighlight", &server::documenthighlight},
    {"textDocument/prepareRename", &server::preparerename},
    {"textDocument/rename", &server::rename},
    {"textDocument/codeAction", &server::codeactions},
    {"workspace/symbol", &server::workspacesymbol},
};

const std::map<std::string, server::textrequest, std::less<>> server::textrequests = {
    {"textDocument/documentSymbol", &server::documentsymbol},
    {"textDocument/foldingRange", &server::foldingrange},
};

const std::map<std::string, server::sizedrequest, std::less<>> server::sizedrequests = {
    {"textDocument/semanticTokens/full", &server::semantictokens},
};

const std::map<std::string, server::notification, std::less<>> server::notifications = {
    {"initialized", &server::initialized},        {"exit", &server::exit},
    {"textDocument/didOpen", &server::didopen},   {"textDocument/didChange", &server::didchange},
    {"textDocument/didClose", &server::didclose}, {"textDocument/didSave", &server::didsave},
};

server::server(sender send, textsender sendtext, streamsender sendstream)
    : send(std::move(send)), sendtext(std::move(sendtext)), sendstream(std::move(sendstream)) {}

void server::reply(const json& id, json result) {
    send({{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}});
}

void server::fail(const json& id, int code, const std::string& message) {
    send({{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}});
}

void server::receive(std::string body, bool more) {
    json message;
    if (!readjsonfast(body, message)) message = json::parse(body, nullptr, false);
    body = std::string();
    if (message.is_discarded()) {
        fail(nullptr, parseerror, "Parse error: the message is not valid JSON");
        if (!more) settle();
        return;
    }
    handle(std::move(message), more);
}

void server::rejectframe(const std::string& problem) {
    fail(nullptr, parseerror, "Parse error: " + problem);
}

void server::handle(json message, bool more) {
    struct settler {
        server& self;
        bool more;
        ~settler() {
            if (!more) self.settle();
        }
    } const after{*this, more};
    const bool object = message.is_object();
    const auto idfield = object ? message.find("id") : message.end();
    const bool hasid = object && idfield != message.end();
    const json id = hasid ? *idfield : json(nullptr);
    if (hasid && !id.is_string() && !id.is_number_integer() && !id.is_null()) {
        fail(nullptr, invalidrequest, "Invalid Request: id must be a number or a string");
        return;
    }
    const auto methodfield = object ? message.find("method") : message.end();
    if (object && methodfield == message.end() && hasid &&
        (message.contains("result") || message.contains("error"))) {
        return; // a response to a request of ours; the server sends none
    }
    if (!object || methodfield == message.end() || !methodfield->is_string()) {
        fail(id, invalidrequest, "Invalid Request: no method");
        return;
    }
    const std::string& method = methodfield->get_ref<const std::string&>();
    const auto paramsfield = message.find("params");
    json params = json::object();
    if (paramsfield != message.end()) params = std::move(*paramsfield);
    if (hasid) {
        dispatchrequest(id, method, params);
    } else {
        dispatchnotification(method, params);
    }
}

void server::dispatchrequest(const json& id, const std::string& method, const json& params) {
    if (state == phase::starting && method != "initialize") {
        fail(id, servernotinitialized, "Server not initialized: " + method);
        return;
    }
    if (state == phase::shuttingdown) {
        fail(id, invalidrequest, "Invalid Request: the server is shutting down");
        return;
    }
    const auto found = requests.find(method);
    const auto astext = textrequests.find(method);
    const auto sized = sizedrequests.find(method);
    if (found == requests.end() && astext == textrequests.end() && sized == sizedrequests.end()) {
        fail(id, methodnotfound, "Method not found: " + method);
        return;
    }
    settle(); // a request is answered on the documents' newest text
    try {
        if (found != requests.end()) {
            reply(id, (this->*found->second)(params));
        } else if (astext != textrequests.end()) {
            replytext(id, astext->second, params);
        } else {
            replysized(id, sized->second, params);
        }
    } catch (const rpcerror& e) { fail(id, e.code, e.message); } catch (const json::exception& e) {
        fail(id, invalidparams, std::string("Invalid params: ") + e.what());
    } catch (const std::exception& e) {
        fail(id, internalerror, std::string("Internal error: ") + e.what());
    }
}

namespace {

// The start of a reply message written as text, up to its result.
std::string envelope(const json& id) {
    std::string out = R"({"id":)";
    out += id.dump();
    out += R"(,"jsonrpc":"2.0","result":)";
    return out;
}

constexpr std::string_view envelopeend = "}";

} // namespace

void server::sendmessage(std::string_view message) {
    if (sendtext) {
        sendtext(message);
    } else {
        send(json::parse(message));
    }
}

void server::replytext(const json& id, textrequest handler, const json& params) {
    // The result is written into the message after its envelope's start: a large one is not
    // copied.
    std::string message = envelope(id);
    (this->*handler)(params, message);
    message += envelopeend;
    sendmessage(message);
}

void server::replysized(const json& id, sizedrequest handler, const json& params) {
    // Everything that can fail is done before the first byte goes out: the result's counting
    // pass (which throws for bad params), the envelope and the room for the pieces. The
    // writing pass after the header must not throw: an error reply then would land inside
    // the frame.
    const sizedreply result = (this->*handler)(params);
    const std::string start = envelope(id);
    const std::size_t length = start.size() + result.length + envelopeend.size();
    std::vector<char> room(replypiece);
    const bodywriter body = [&](const piecesink& sink) {
        piecewriter out(room, sink);
        out.text(start);
        result.write(out);
        out.text(envelopeend);
        out.finish();
    };
    if (sendstream) {
        sendstream(length, body);
        return;
    }
    std::string message;
    message.reserve(length);
    body([&](std::string_view piece) { message += piece; });
    sendmessage(message);
}

void server::dispatchnotification(const std::string& method, json& params) {
    const auto found = notifications.find(method);
    if (found == notifications.end()) return;
    if (state == phase::starting && method != "exit") return;
    try {
        (this->*found->second)(params);
    } catch (const rpcerror&) {
        // Notifications get no reply; a bad one is dropped.
    } catch (const std::exception&) {}
}

json server::initialize(const json& params) {
    if (state != phase::starting) throw rpcerror{invalidrequest, "initialize sent twice"};
    if (!params.is_object()) throw rpcerror{invalidparams, "Invalid params: not an object"};
    const json offered =
        params.value("/capabilities/general/positionEncodings"_json_pointer, json::array());
    enc = encoding::utf16;
    if (offered.is_array()) {
        for (const json& e : offered) {
            if (e == "utf-8") enc = encoding::utf8;
        }
    }
    state = phase::running;
    return {
        {"capabilities",
         {{"positionEncoding", enc == encoding::utf8 ? "utf-8" : "utf-16"},
          {"textDocumentSync",
           {{"openClose", true}, {"change", 2}, {"save", {{"includeText", false}}}}},
          {"hoverProvider", true},
          {"definitionProvider", true},
          {"documentSymbolProvider", true},
          {"foldingRangeProvider", true},
          {"semanticTokensProvider", {{"legend", tokenlegend()}, {"full", true}}},
          {"completionProvider", {{"triggerCharacters", {".", "@"}}, {"resolveProvider", true}}},
          {"signatureHelpProvider", {{"triggerCharacters", {"(", ","}}}},
          {"referencesProvider", true},
          {"documentHighlightProvider", true},
          {"renameProvider", {{"prepareProvider", true}}},
          {"codeActionProvider", {{"codeActionKinds", {"quickfix"}}}},
          {"workspaceSymbolProvider", true}}},
        {"serverInfo", {{"name", "zv"}, {"version", zv::version()}}}};
}

json server::shutdown(const json&) {
    shutdownseen = true;
    state = phase::shuttingdown;
    return nullptr;
}

void server::initialized(json&) {}

void server::exit(json&) {
    state = phase::exited;
}

} // namespace zvlsp
